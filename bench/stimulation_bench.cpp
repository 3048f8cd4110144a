// Timing of a stimulation's start on the SDK path: from entering StimulationBegin to the "Expose"
// that shows the group's pattern, as the SDK library's call record times it.
#include <benchmark/benchmark.h>

#include <QString>
#include <algorithm>
#include <memory>
#include <vector>

#include "bench_areas.h"
#include "cztpluginverove.h"
#include "cztstimulationdeviceverove.h"
#include "fake_atcore_control.h"
#include "zt/zt_roi.h"
#include "zthost/microscope.h"
#include "zthost/zthost.h"

namespace {

constexpr int kWidth = 800;
constexpr int kHeight = 600;

// One device over the fake SDK library with an area in each group, patterns rendered.
class CStimulationScene {
public:
    CStimulationScene() {
        zthost::ResetForTests();
        fake_atcore::Reset();
        zthost::SetSearchFolders({QString(VEROVE_FAKE_SDK_DIR).toStdWString()});
        VerovePluginState().hostContext = zthost::HostContext();
        zthost::CameraSetup camera;
        camera.sensorWidth = kWidth;
        camera.sensorHeight = kHeight;
        zthost::SetCamera(camera);
        m_device = new CZtStimulationDeviceVerove();
        m_device->SetUniqueName(L"CZtStimulationDeviceVerove_0");
        m_connected = m_device->Connect(true, 0, 0);
        m_areasSet = SetBenchAreas(m_device, kWidth, kHeight) == 0;
    }

    ~CStimulationScene() {
        m_device->Connect(false, 0, -1);
        m_device->Release();
        VerovePluginState().hostContext = nullptr;
        zthost::ResetForTests();
    }

    bool Ready() const { return m_connected && m_areasSet; }
    CZtStimulationDeviceVerove* Device() { return m_device; }

private:
    CZtStimulationDeviceVerove* m_device = nullptr;
    bool m_connected = false;
    bool m_areasSet = false;
};

// The time of the last "Expose" command in the SDK's call record, or a negative value.
double LastExposeMs() {
    double time = -1.0;
    for (const fake_atcore::CallRecord& call : fake_atcore::Calls()) {
        if (call.function == "AT_Command" && call.feature == L"Expose") {
            time = call.startMs;
        }
    }
    return time;
}

void BM_StimulationBeginToExpose(benchmark::State& state) {
    CStimulationScene scene;
    if (!scene.Ready()) {
        state.SkipWithError("device or areas not ready");
        return;
    }
    std::vector<double> latencies;
    std::uint64_t group = 0;
    for (auto _ : state) {
        state.PauseTiming();
        fake_atcore::ClearCalls();
        zthost::ClearCapturedLog();
        SZtStimulationRequest request;
        request.runMode = 1;
        request.durationMs = 10.0;
        request.groupMask = std::uint64_t{1} << group;
        group = (group + 1) % 3;
        state.ResumeTiming();

        const double entered = fake_atcore::ClockMs();
        const int result = scene.Device()->StimulationBegin(&request);
        const double exposed = LastExposeMs();
        if (result != 0 || exposed < entered) {
            state.SkipWithError("StimulationBegin did not expose its pattern");
            break;
        }
        latencies.push_back(exposed - entered);
        state.SetIterationTime((exposed - entered) / 1000.0);

        state.PauseTiming();
        scene.Device()->StimulationEnd(nullptr, nullptr, 0);
        state.ResumeTiming();
    }
    if (!latencies.empty()) {
        std::sort(latencies.begin(), latencies.end());
        state.counters["median_ms"] = latencies[latencies.size() / 2];
        state.counters["p90_ms"] = latencies[latencies.size() * 9 / 10];
    }
}

}  // namespace

BENCHMARK(BM_StimulationBeginToExpose)->UseManualTime()->Unit(benchmark::kMicrosecond);
