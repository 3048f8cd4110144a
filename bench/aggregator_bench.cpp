// Timing of a parallel stimulation's start through the aggregator: from entering its
// StimulationBegin to the last unit's "Expose" of its group's pattern, as each unit's SDK call
// record times it; two units against one.
#include <benchmark/benchmark.h>

#include <QString>
#include <algorithm>
#include <string>
#include <vector>

#include "bench_areas.h"
#include "cztpluginverove.h"
#include "cztstimulationdeviceverove.h"
#include "cztveroveaggregator.h"
#include "cztverovenamemanager.h"
#include "fake_atcore_control.h"
#include "zt/zt_roi.h"
#include "zthost/microscope.h"
#include "zthost/zthost.h"

namespace {

constexpr int kWidth = 800;
constexpr int kHeight = 600;

// units devices over as many units of the fake SDK, aggregated, with an area in each group.
class CAggregatorScene {
public:
    explicit CAggregatorScene(int units) {
        zthost::ResetForTests();
        fake_atcore::Reset();
        fake_atcore::SetDeviceCount(units);
        zthost::SetSearchFolders({QString(VEROVE_FAKE_SDK_DIR).toStdWString()});
        VerovePluginState().hostContext = zthost::HostContext();
        CZtVeroveNameManager::Instance().SetBrand(1);
        zthost::CameraSetup camera;
        camera.sensorWidth = kWidth;
        camera.sensorHeight = kHeight;
        zthost::SetCamera(camera);
        IZtStimulationDeviceManager* manager = CZtStimulationDeviceManager::GetInstance();
        m_ready = true;
        for (int i = 0; i < units; ++i) {
            const std::wstring name = L"CZtStimulationDeviceVerove_" + std::to_wstring(i);
            auto* device = new CZtStimulationDeviceVerove();
            device->SetUniqueName(name.c_str());
            m_ready = device->Connect(true, 0, i) && m_ready;
            SZtStimulationDeviceRecord record;
            record.uniqueName = name;
            record.device = device;
            m_ready = manager->StaticDeviceAdd(record) == 0 && m_ready;
            m_devices.push_back(device);
        }
        m_aggregator = new CZtVeroveAggregator();
        m_ready = m_aggregator->Initialize(manager, L"CZtStimulationDeviceVerove") == -9 && m_ready;
        SetBenchAreas(m_aggregator, kWidth, kHeight);
    }

    ~CAggregatorScene() {
        m_aggregator->ReleaseDevices();
        m_aggregator->Release();
        for (CZtStimulationDeviceVerove* device : m_devices) {
            device->Connect(false, 0, -1);
            device->Release();
        }
        VerovePluginState().hostContext = nullptr;
        zthost::ResetForTests();
    }

    bool Ready() const { return m_ready; }
    CZtVeroveAggregator* Aggregator() { return m_aggregator; }
    int Units() const { return static_cast<int>(m_devices.size()); }

private:
    std::vector<CZtStimulationDeviceVerove*> m_devices;
    CZtVeroveAggregator* m_aggregator = nullptr;
    bool m_ready = false;
};

// When unit's last "Expose" entered its SDK, or a negative value.
double LastExposeMs(int unit) {
    double time = -1.0;
    for (const fake_atcore::CallRecord& call : fake_atcore::DeviceCalls(unit)) {
        if (call.function == "AT_Command" && call.feature == L"Expose") {
            time = call.startMs;
        }
    }
    return time;
}

void BM_AggregatorBeginToExpose(benchmark::State& state) {
    CAggregatorScene scene(static_cast<int>(state.range(0)));
    if (!scene.Ready()) {
        state.SkipWithError("devices or aggregator not ready");
        return;
    }
    // S1 and S2: one unit each with two units, S1 alone with one.
    SZtStimulationRequest request;
    request.runMode = 1;
    request.durationMs = 10.0;
    request.groupMask = scene.Units() > 1 ? 0x3 : 0x1;
    std::vector<double> latencies;
    for (auto _ : state) {
        state.PauseTiming();
        fake_atcore::ClearCalls();
        zthost::ClearCapturedLog();
        state.ResumeTiming();

        const double entered = fake_atcore::ClockMs();
        const int result = scene.Aggregator()->StimulationBegin(&request);
        double last = 0.0;
        bool exposed = result == 0;
        for (int unit = 0; unit < scene.Units(); ++unit) {
            const double at = LastExposeMs(unit);
            exposed = exposed && at >= entered;
            last = std::max(last, at - entered);
        }
        if (!exposed) {
            state.SkipWithError("a unit did not expose its pattern");
            break;
        }
        latencies.push_back(last);
        state.SetIterationTime(last / 1000.0);

        state.PauseTiming();
        scene.Aggregator()->StimulationEnd(nullptr, nullptr, 0);
        state.ResumeTiming();
    }
    if (!latencies.empty()) {
        std::sort(latencies.begin(), latencies.end());
        state.counters["median_ms"] = latencies[latencies.size() / 2];
        state.counters["p90_ms"] = latencies[latencies.size() * 9 / 10];
    }
}

}  // namespace

BENCHMARK(BM_AggregatorBeginToExpose)
    ->Arg(1)
    ->Arg(2)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
