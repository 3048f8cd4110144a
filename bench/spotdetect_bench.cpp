// Timings of spot detection on full camera frames and of the picture operations it is made of.
#include <benchmark/benchmark.h>

#include "bench_frame.h"
#include "bench_ratio.h"
#include "verove_sample_analysis.h"

namespace {

// Detections in frame after frame by one detector, as a calibration runs it.
void DetectSpots(benchmark::State& state, const SZtPicBuf& frame) {
    CZtSpotDetector detector;
    const CMemcpyRatio ratio(std::size_t{frame.stride} * frame.height);
    for (auto _ : state) {
        SZtPointD point;
        if (detector.DetectSpot(&frame, &point) != 0) {
            state.SkipWithError("no spot found");
            break;
        }
        benchmark::DoNotOptimize(point);
    }
    ratio.Report(state);
}

// Arguments: frame width and height.
void BM_DetectSpot(benchmark::State& state) {
    const auto width = static_cast<std::uint32_t>(state.range(0));
    const auto height = static_cast<std::uint32_t>(state.range(1));
    DetectSpots(state, SpotFrame(width, height, 0.35 * width + 0.3, 0.65 * height + 0.6));
}

// The same frame as a 12-bit camera gives it: converted to 16 bits before the stretch.
void BM_DetectSpotTwelveBits(benchmark::State& state) {
    SZtPicBuf frame = SpotFrame(2048, 2048, 0.35 * 2048 + 0.3, 0.65 * 2048 + 0.6);
    for (std::uint32_t y = 0; y < frame.height; ++y) {
        auto* row = reinterpret_cast<std::uint16_t*>(frame.Row(y));
        for (std::uint32_t x = 0; x < frame.width; ++x) {
            row[x] >>= 4;
        }
    }
    frame.bitsPerComponent = 12;
    DetectSpots(state, frame);
}

void BM_SmoothSquare(benchmark::State& state) {
    const SZtPicBuf frame = SpotFrame(2048, 2048, 700.3, 1300.6);
    SZtPicBuf smoothed;
    CZtPicBufAPI::Copy(&frame, &smoothed);
    for (auto _ : state) {
        CZtPicBufAPI::SmoothSquare(&frame, &smoothed, static_cast<std::uint32_t>(state.range(0)));
        benchmark::DoNotOptimize(smoothed.data);
    }
}

void BM_GetMeanIntAndVariation(benchmark::State& state) {
    const SZtPicBuf frame = SpotFrame(2048, 2048, 700.3, 1300.6);
    for (auto _ : state) {
        double mean = 0.0;
        double variation = 0.0;
        CZtPicBufAPI::GetMeanIntAndVariation(&frame, &mean, &variation);
        benchmark::DoNotOptimize(variation);
    }
}

void BM_GetMinMax(benchmark::State& state) {
    const SZtPicBuf frame = SpotFrame(2048, 2048, 700.3, 1300.6);
    for (auto _ : state) {
        std::uint32_t low = 0;
        std::uint32_t high = 0;
        GetMinMax(frame, &low, &high);
        benchmark::DoNotOptimize(high);
    }
}

void BM_FindFirstMaximum(benchmark::State& state) {
    const SZtPicBuf frame = SpotFrame(2048, 2048, 700.3, 1300.6);
    for (auto _ : state) {
        std::uint32_t peak = 0;
        std::uint32_t x = 0;
        std::uint32_t y = 0;
        FindFirstMaximum(frame, &peak, &x, &y);
        benchmark::DoNotOptimize(peak);
    }
}

// The working copy written stretched, as DetectSpot begins with a 16-bit frame.
void BM_StretchContrast(benchmark::State& state) {
    const SZtPicBuf frame = SpotFrame(2048, 2048, 700.3, 1300.6);
    SZtPicBuf work;
    for (auto _ : state) {
        StretchContrast(frame, &work);
        benchmark::DoNotOptimize(work.data);
    }
}

}  // namespace

// Medians of repeated runs: a shared machine's stray load shows in the mean, not in the median.
BENCHMARK(BM_DetectSpot)
    ->Args({2048, 2048})
    ->Args({1024, 1024})
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_DetectSpotTwelveBits)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_SmoothSquare)->Arg(10)->Arg(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetMeanIntAndVariation)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetMinMax)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindFirstMaximum)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StretchContrast)->Unit(benchmark::kMillisecond);
