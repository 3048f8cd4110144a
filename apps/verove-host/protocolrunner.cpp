#include "protocolrunner.h"

#include <chrono>

#include "zt/zt_stimulation.h"

namespace {
const char* const kGroupNames[] = {"S1", "S2", "S3"};
}

ProtocolRunner::~ProtocolRunner() {
    Cancel();
}

bool ProtocolRunner::Start(IZtStimulationDevice* device,
                           const std::vector<ScenarioStimulationRun>& runs) {
    if (m_running || !device) {
        return false;
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
    m_cancel = false;
    m_running = true;
    m_thread = std::thread(&ProtocolRunner::Run, this, device, runs);
    return true;
}

void ProtocolRunner::Cancel() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_cancel = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void ProtocolRunner::Run(IZtStimulationDevice* device, std::vector<ScenarioStimulationRun> runs) {
    const int total = static_cast<int>(runs.size());
    int failed = 0;
    int done = 0;
    for (const ScenarioStimulationRun& run : runs) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_cancel) {
                break;
            }
        }
        SZtStimulationRequest request;
        request.runMode = run.runMode;
        request.durationMs = run.durationMs;
        request.groupMask = std::uint64_t{1} << run.group;
        const auto begun = std::chrono::steady_clock::now();
        const int status = device->StimulationBegin(&request);
        QString line =
            QStringLiteral("%1, %2 ms: ").arg(kGroupNames[run.group]).arg(run.durationMs);
        if (status != 0) {
            ++failed;
            line += QStringLiteral("refused (status %1)").arg(status);
        } else {
            // The light stays on for the rest of the duration, or until the user closes.
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait_until(lock,
                              begun + std::chrono::duration<double, std::milli>(run.durationMs),
                              [this] { return m_cancel; });
            lock.unlock();
            double start = -1.0;
            double end = -1.0;
            const int ended = device->StimulationEnd(&start, &end, 1);
            line += ended == 0 ? QStringLiteral("done")
                               : QStringLiteral("ended with status %1").arg(ended);
            failed += ended != 0;
        }
        emit Progress(++done, total, line);
    }
    const QString result =
        done < total
            ? QStringLiteral("protocol stopped after %1 of %2 stimulations").arg(done).arg(total)
        : failed > 0
            ? QStringLiteral("protocol done: %1 of %2 stimulations failed").arg(failed).arg(total)
            : QStringLiteral("protocol done: %1 stimulations").arg(total);
    m_running = false;
    emit Finished(result);
}
