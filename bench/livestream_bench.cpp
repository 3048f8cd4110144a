// The window's live image: one frame as the camera thread makes it (the simulated camera's capture
// and the picture shown), at 1024 x 1024 with a quarter of the DMD lit, on one core.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "measures.h"
#include "zt/zt_acquisition.h"
#include "zthost/microscope.h"
#include "zthost/optics.h"
#include "zthost/zthost.h"

namespace {

void BM_LiveStreamFrame(benchmark::State& state) {
    zthost::ResetForTests();
    zthost::CameraSetup camera;
    camera.sensorWidth = camera.sensorHeight = 1024;
    camera.bitDepth = 12;
    zthost::SetCamera(camera);
    zthost::OpticsSetup optics;
    optics.dmdToSensor = zthost::DmdToSensor(1.2, 0.5, false, 400.0, 300.0, 512.0, 512.0);
    zthost::SetOptics(optics);
    zthost::MirrorFrame mirrors{800, 600, std::vector<std::uint8_t>(800 * 600, 0)};
    for (int y = 150; y < 450; ++y) {
        for (int x = 200; x < 600; ++x) {
            mirrors.levels[std::size_t(y) * 800 + x] = 255;
        }
    }
    zthost::SetMirrorFrameSource([&mirrors] { return mirrors; });
    for (auto _ : state) {
        CZtGrabberSample sample;
        if (sample.Capture() != 0) {
            state.SkipWithError("Capture failed");
            break;
        }
        benchmark::DoNotOptimize(FrameImage(sample.GetPicture()).bits());
    }
    state.counters["frames/s"] =
        benchmark::Counter(1.0, benchmark::Counter::kIsIterationInvariantRate);
    zthost::ResetForTests();
}

}  // namespace

BENCHMARK(BM_LiveStreamFrame)->Unit(benchmark::kMillisecond)->UseRealTime();
