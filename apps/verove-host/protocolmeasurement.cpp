// The stimulation protocol's runs, each measured on the camera and the mirrors into the report.
#include "protocolmeasurement.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "measures.h"
#include "report.h"
#include "reportpictures.h"
#include "sessionexit.h"
#include "simulateddmd.h"
#include "terminal.h"
#include "zt/zt_acquisition.h"
#include "zt/zt_grabber.h"
#include "zt/zt_roi.h"
#include "zt/zt_stimulation.h"
#include "zt/zt_util.h"
#include "zthost/microscope.h"
#include "zthost/zthost.h"

namespace {

// The line goes on with " (<duration> ms)."
const wchar_t kFreezing[] =
    L"Verove CZtStimulationDeviceVerove::StimulationBegin: Work Thread: Freezing until "
    L"stimulation is finished";

}  // namespace

QString GroupsText(std::uint32_t mask) {
    const char* const names[] = {"S1", "S2", "S3"};
    QStringList groups;
    for (int g = 0; g < 3; ++g) {
        if (mask & (1u << g)) {
            groups << names[g];
        }
    }
    return groups.join('+');
}

ProtocolMeasurement::ProtocolMeasurement(const Scenario& scenario, Report* report,
                                         SimulatedDmd& simulatedDmd)
    : m_scenario(scenario), m_report(report), m_simulatedDmd(simulatedDmd) {}

int ProtocolMeasurement::UnitOf(int group) const {
    for (size_t u = 0; u < m_unitGroups.size(); ++u) {
        if (m_unitGroups[u] & (1u << group)) {
            return static_cast<int>(u);
        }
    }
    return 0;
}

int ProtocolMeasurement::Run(IZtStimulationDevice* target,
                             const std::vector<std::uint32_t>& unitGroups, QString* detail) {
    m_unitGroups = unitGroups;
    const std::vector<ScenarioStimulationRun>& runs = m_scenario.Protocol().stimulations;
    int exitCode = kExitDone;
    std::array<bool, 8> pictured{};  // by group mask
    const double start = ZT_GetTimeCounter();
    for (size_t i = 0; i < runs.size(); ++i) {
        const ScenarioStimulationRun& run = runs[i];
        const RunResult result = RunStimulation(target, run, !pictured[run.groupMask & 7]);
        pictured[run.groupMask & 7] = true;
        QString line = QStringLiteral("stimulation %1/%2, %3 s: %4, %5 ms, run mode %6: ")
                           .arg(i + 1)
                           .arg(runs.size())
                           .arg((ZT_GetTimeCounter() - start) / 1000.0, 0, 'f', 1)
                           .arg(GroupsText(run.groupMask))
                           .arg(run.durationMs)
                           .arg(run.runMode);
        if (result.status != 0) {
            terminal::Line("      " + line +
                           QStringLiteral("refused (status %1)").arg(result.status));
            exitCode = kExitFailed;
            continue;
        }
        if (result.dark) {
            terminal::Line("      " + line +
                           QStringLiteral("the group's light did not show: the mirrors "
                                          "stayed dark"));
            exitCode = kExitFailed;
            continue;
        }
        line += result.overlap < 0.0 ? QStringLiteral("overlap not measured")
                : !result.groupOverlaps.isEmpty()
                    ? "overlap " + result.groupOverlaps
                    : QStringLiteral("overlap %1 %").arg(result.overlap * 100.0, 0, 'f', 1);
        line += result.latencyMs < 0.0
                    ? QStringLiteral(", latency not measured")
                    : QStringLiteral(", latency %1 ms").arg(result.latencyMs, 0, 'f', 2);
        terminal::Progress("      " + line);
    }
    QStringList overlaps;
    for (int g = 0; g < 3; ++g) {
        if (!m_overlaps[g].empty()) {
            const double worst = *std::min_element(m_overlaps[g].begin(), m_overlaps[g].end());
            m_report->SetPlacementOverlap(g, worst);
            overlaps
                << QStringLiteral("%1 %2 %").arg(GroupsText(1u << g)).arg(worst * 100, 0, 'f', 1);
        }
        if (!m_latencies[g].empty()) {
            double sum = 0.0;
            for (double latency : m_latencies[g]) {
                sum += latency;
            }
            m_report->SetStimulationLatency(g, sum / m_latencies[g].size());
        }
    }
    *detail = QStringLiteral("%1 stimulations").arg(runs.size());
    if (!overlaps.isEmpty()) {
        *detail += "; lowest overlap " + overlaps.join(", ");
    }
    if (exitCode != kExitDone) {
        *detail += "; some did not run or showed no light (lines above)";
    }
    return exitCode;
}

ProtocolMeasurement::RunResult ProtocolMeasurement::RunStimulation(
    IZtStimulationDevice* device, const ScenarioStimulationRun& run, bool pictures) {
    RunResult result;
    if (!device) {
        result.status = -12;
        return result;
    }
    SZtStimulationRequest request;
    request.runMode = run.runMode;
    request.durationMs = run.durationMs;
    request.groupMask = run.groupMask;
    std::atomic<bool> refused{false};
    std::atomic<bool> returned{false};
    std::promise<void> captured;
    std::shared_future<void> capturedFuture = captured.get_future().share();
    double begun = 0.0;
    double startTime = -1.0;
    double endTime = -1.0;
    int endStatus = 0;
    zthost::ClearCapturedLog();
    // The host's experiment runs stimulations on a work thread; run mode 2 holds it in
    // StimulationBegin for the duration. Either way the light stays on until the camera's frame
    // is taken.
    std::thread worker([&] {
        begun = ZT_GetTimeCounter();
        const int status = device->StimulationBegin(&request);
        if (status != 0) {
            result.status = status;
            refused = true;
            return;
        }
        returned = true;
        capturedFuture.wait();
        if (run.runMode == 1) {
            const double left = begun + run.durationMs - ZT_GetTimeCounter();
            if (left > 0.0) {
                std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(left));
            }
        }
        endStatus = device->StimulationEnd(&startTime, &endTime, 1);
    });
    // The group's frame is on the mirrors once StimulationBegin returns (run mode 1) or holds
    // the work thread (run mode 2).
    const double deadline = ZT_GetTimeCounter() + 10000.0;
    while (!refused && !returned && ZT_GetTimeCounter() < deadline &&
           !zthost::LogContains(kFreezing)) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    // On the SDK path the camera sees the simulated DMD; the simulated unit's mirrors stay unseen.
    CZtGrabberSample sample;
    zthost::MirrorFrame shown;
    std::uint64_t counter = 0;
    double exposed = -1.0;
    bool frameRead = false;
    bool otherUnitDark = false;
    if (!m_scenario.Dmd().simulator && !refused &&
        m_simulatedDmd.ShownFrame(&shown, &counter, UnitOf(run.group))) {
        frameRead = true;
        exposed = m_simulatedDmd.LastExposeTime();
        for (int g = run.group + 1; g < 3; ++g) {
            zthost::MirrorFrame other;
            std::uint64_t otherCounter = 0;
            if ((run.groupMask & (1u << g)) && UnitOf(g) != UnitOf(run.group) &&
                m_simulatedDmd.ShownFrame(&other, &otherCounter, UnitOf(g))) {
                otherUnitDark = otherUnitDark || other.levels.empty();
            }
        }
        sample.Capture();
    }
    captured.set_value();
    worker.join();
    if (result.status != 0) {
        return result;
    }
    result.status = endStatus;
    // To the "Expose" that put the group's frame on the mirrors; without the simulated SDK, to
    // the start the device reports. An "Expose" before the call, or no start at all, measured
    // nothing: a failed exposure leaves the last one of an earlier step.
    const double shownAt = m_scenario.Dmd().simulator ? startTime : exposed;
    if (shownAt >= begun) {
        result.latencyMs = shownAt - begun;
        m_latencies[run.group].push_back(result.latencyMs);
    }
    // No levels: the mirrors were not exposing at all.
    result.dark =
        frameRead && (otherUnitDark || std::all_of(shown.levels.begin(), shown.levels.end(),
                                                   [](std::uint8_t level) { return level == 0; }));
    if (result.dark && pictures) {
        // Nothing on the mirrors is a black picture of the array, not a missing one.
        m_report->AddPicture(
            QStringLiteral("dmd-%1.png").arg(GroupsText(run.groupMask)),
            MirrorPicture(ScenarioDmd::kMirrorColumns, ScenarioDmd::kMirrorRows,
                          std::vector<std::uint8_t>(
                              ScenarioDmd::kMirrorColumns * ScenarioDmd::kMirrorRows, 0)),
            QStringLiteral("%1: the mirrors stayed dark.").arg(GroupsText(run.groupMask)));
    }
    if (result.dark) {
        return result;
    }

    const SZtPicBuf& frame = sample.GetPicture();
    const ScenarioCamera& camera = m_scenario.CameraAfterCalibration();
    if (sample.IsEmpty() || static_cast<int>(frame.width) != camera.imageWidth ||
        static_cast<int>(frame.height) != camera.imageHeight) {
        return result;
    }
    const std::uint32_t threshold = LitThreshold(frame);
    auto placementOf = [&](std::uint32_t groups) {
        const CZtRoiObjectList areas = m_scenario.RoiObjects(groups);
        SZtRLEPicBuf masks;
        ZT_RoiListToRLE(&areas, frame.width, frame.height, &masks);
        return MapPlacement(frame, threshold, masks);
    };
    const PlacementMap placement = placementOf(run.groupMask);
    // Groups in parallel: each group's light against its own ROIs, the others' light aside.
    QStringList overlaps;
    for (int g = 0; g < 3; ++g) {
        if ((run.groupMask & (1u << g)) == 0) {
            continue;
        }
        const std::uint32_t others = run.groupMask & ~(1u << g);
        const double overlap = others == 0
                                   ? placement.Overlap()
                                   : OverlapBeside(placementOf(1u << g), placementOf(others));
        m_overlaps[g].push_back(overlap);
        result.overlap = result.overlap < 0.0 ? overlap : std::min(result.overlap, overlap);
        overlaps
            << QStringLiteral("%1 %2 %").arg(GroupsText(1u << g)).arg(overlap * 100.0, 0, 'f', 1);
    }
    if (overlaps.size() > 1) {
        result.groupOverlaps = overlaps.join(", ");
    }
    if (pictures) {
        const QString group = GroupsText(run.groupMask);
        m_report->AddPicture(
            QStringLiteral("stimulation-%1.png").arg(group),
            PlacementPicture(m_scenario, placement, run.groupMask),
            QStringLiteral("%1: where the light landed on the camera against the ROIs as drawn: "
                           "lit inside them (white), lit outside them (red), ROI not lit (blue).")
                .arg(group));
        m_report->AddPicture(QStringLiteral("dmd-%1.png").arg(group),
                             MirrorPicture(shown.width, shown.height, shown.levels),
                             QStringLiteral("%1: the frame on the DMD's mirrors.").arg(group));
    }
    return result;
}
