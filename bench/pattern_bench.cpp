// Timings of pattern rendering: device frames of bitmap and area patterns, the cache, the mapping.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_ratio.h"
#include "bench_scene.h"

namespace {

// Every iteration renders from scratch, as after an invalidation.
void RenderFresh(benchmark::State& state, CBenchScene& scene, CZtPattern& pattern,
                 std::uint32_t bitDepth, bool packed) {
    std::vector<std::uint8_t> frame(std::size_t{scene.width} * scene.height);
    // Against a copy of the DMD's grey picture.
    const CMemcpyRatio ratio(std::size_t{scene.width} * scene.height);
    for (auto _ : state) {
        pattern.SetValid(false);
        if (pattern.GetBitmap(frame.data(), bitDepth, packed, &scene.format, scene.Calibration()) !=
            0) {
            state.SkipWithError("GetBitmap failed");
            break;
        }
        benchmark::DoNotOptimize(frame.data());
    }
    ratio.Report(state);
    state.counters["mirrors/s"] = benchmark::Counter(double(scene.width) * scene.height,
                                                     benchmark::Counter::kIsIterationInvariantRate);
}

void BM_DmdBitmapToPackedStucki(benchmark::State& state) {
    CBenchScene scene(state.range(0), state.range(1));
    CZtPattern pattern = scene.BitmapPattern();
    pattern.SetDitheringMethod(1);
    RenderFresh(state, scene, pattern, 1, true);
}

void BM_CameraAreasToPackedStucki(benchmark::State& state) {
    CBenchScene scene(state.range(0), state.range(1));
    CZtPattern pattern = scene.AreaPattern(state.range(2) != 0);
    pattern.SetDitheringMethod(1);
    RenderFresh(state, scene, pattern, 1, true);
}

void BM_CameraAreasToGrey8(benchmark::State& state) {
    CBenchScene scene(state.range(0), state.range(1));
    CZtPattern pattern = scene.AreaPattern(state.range(2) != 0);
    RenderFresh(state, scene, pattern, 8, false);
}

void BM_CachedFrame(benchmark::State& state) {
    CBenchScene scene(state.range(0), state.range(1));
    CZtPattern pattern = scene.AreaPattern(false);
    std::vector<std::uint8_t> frame(std::size_t{scene.width} * scene.height / 8);
    pattern.GetBitmap(frame.data(), 1, true, &scene.format, scene.Calibration());
    for (auto _ : state) {
        pattern.GetBitmap(frame.data(), 1, true, &scene.format, scene.Calibration());
        benchmark::DoNotOptimize(frame.data());
    }
}

// The camera -> DMD mapping alone, on the same picture and matrix the area patterns use.
void BM_MapNearest(benchmark::State& state) {
    CBenchScene scene(state.range(0), state.range(1));
    SZtPicBuf dmd;
    CZtPicBufAPI::Alloc(&dmd, scene.width, scene.height, 8, 1);
    const CMemcpyRatio ratio(std::size_t{scene.width} * scene.height);
    for (auto _ : state) {
        CZtPattern::MapNearest(scene.CameraPicture(), scene.DmdToImage(), &dmd);
        benchmark::DoNotOptimize(dmd.data);
    }
    ratio.Report(state);
    state.counters["mirrors/s"] = benchmark::Counter(double(scene.width) * scene.height,
                                                     benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace

// DMD sizes; the third argument picks gradient (grey) areas over full-intensity ones.
BENCHMARK(BM_DmdBitmapToPackedStucki)
    ->Args({800, 600})
    ->Args({2560, 1600})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CameraAreasToPackedStucki)
    ->ArgsProduct({{800}, {600}, {0, 1}})
    ->ArgsProduct({{2560}, {1600}, {0, 1}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CameraAreasToGrey8)
    ->ArgsProduct({{800}, {600}, {0, 1}})
    ->ArgsProduct({{2560}, {1600}, {0, 1}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CachedFrame)->Args({800, 600})->Args({2560, 1600})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MapNearest)
    ->Args({400, 300})
    ->Args({800, 600})
    ->Args({1600, 1200})
    ->Args({2560, 1600})
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
