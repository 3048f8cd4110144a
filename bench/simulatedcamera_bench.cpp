// Timings of the simulated camera: a 2048 x 2048 16-bit frame rendered from DMD frames of two
// sizes, lit sparsely (a calibration square), half (stripes) and fully.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench_ratio.h"
#include "zt/zt_acquisition.h"
#include "zthost/microscope.h"
#include "zthost/optics.h"
#include "zthost/zthost.h"

namespace {

enum Lighting { kSquare, kStripes, kFull };

zthost::MirrorFrame Frame(int width, int height, Lighting lighting) {
    zthost::MirrorFrame frame{width, height,
                              std::vector<std::uint8_t>(std::size_t(width) * height, 0)};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool lit = lighting == kFull || (lighting == kStripes && (x / 8) % 2 == 0) ||
                             (lighting == kSquare && x >= width / 2 - 5 && x < width / 2 + 5 &&
                              y >= height / 2 - 5 && y < height / 2 + 5);
            frame.levels[std::size_t(y) * width + x] = lit ? 255 : 0;
        }
    }
    return frame;
}

// range(0) x range(1) mirrors spread over the sensor's width, range(2) the lighting, range(3) the
// background in photoelectrons per sensor pixel (the default scenario's 20 draws every dark
// pixel's shot noise exactly; from 30 on it is drawn from the normal approximation).
void BM_SimulatedCameraFrame(benchmark::State& state) {
    zthost::ResetForTests();
    zthost::CameraSetup camera;  // 2048 x 2048, 16 bits
    zthost::SetCamera(camera);
    const int width = int(state.range(0));
    const int height = int(state.range(1));
    zthost::OpticsSetup optics;
    optics.background = double(state.range(3));
    optics.dmdToSensor =
        zthost::DmdToSensor(2048.0 / width, 0.5, false, width / 2.0, height / 2.0, 1024.0, 1024.0);
    zthost::SetOptics(optics);
    const zthost::MirrorFrame frame = Frame(width, height, Lighting(state.range(2)));
    zthost::SetMirrorFrameSource([&frame] { return frame; });
    CZtGrabberSample sample;
    const CMemcpyRatio ratio(std::size_t{2048} * 2048 * 2);
    for (auto _ : state) {
        if (sample.Capture() != 0) {
            state.SkipWithError("Capture failed");
            break;
        }
        benchmark::DoNotOptimize(sample.GetPicture().data);
    }
    ratio.Report(state);
    state.counters["pixels/s"] =
        benchmark::Counter(2048.0 * 2048.0, benchmark::Counter::kIsIterationInvariantRate);
    zthost::ResetForTests();
}

}  // namespace

BENCHMARK(BM_SimulatedCameraFrame)
    ->ArgNames({"dmdW", "dmdH", "lit", "bg"})
    ->Args({800, 600, kSquare, 20})
    ->Args({800, 600, kSquare, 100})
    ->Args({800, 600, kStripes, 100})
    ->Args({800, 600, kFull, 100})
    ->Args({2560, 1600, kSquare, 100})
    ->Args({2560, 1600, kStripes, 100})
    ->Args({2560, 1600, kFull, 100})
    ->Unit(benchmark::kMillisecond);
