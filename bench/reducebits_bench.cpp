// Timings of ippiReduceBits_8u_C1R on a grey picture of the DMD's size, per dither type.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ipp.h"

namespace {

// A diagonal grey ramp with a little pseudo-random texture: every level between black and white,
// no flat stretch that would let the error settle into a repeating pattern.
std::vector<Ipp8u> GreyPicture(int width, int height) {
    std::vector<Ipp8u> picture(static_cast<std::size_t>(width) * height);
    std::uint32_t seed = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int ramp = 255 * (x + y) / (width + height - 2);
            const int noise = static_cast<int>(seed >> 28) - 8;
            picture[static_cast<std::size_t>(y) * width + x] =
                static_cast<Ipp8u>(ramp + noise < 0     ? 0
                                   : ramp + noise > 255 ? 255
                                                        : ramp + noise);
        }
    }
    return picture;
}

// Arguments: width, height, levels.
void Reduce(benchmark::State& state, IppiDitherType type) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const int levels = static_cast<int>(state.range(2));
    const std::vector<Ipp8u> source = GreyPicture(width, height);
    std::vector<Ipp8u> result(source.size());
    int bufferSize = 0;
    if (ippiReduceBitsGetBufferSize(ippC1, {width, height}, 0, type, &bufferSize) != ippStsNoErr) {
        state.SkipWithError("ippiReduceBitsGetBufferSize failed");
        return;
    }
    std::vector<Ipp8u> buffer(static_cast<std::size_t>(bufferSize));
    for (auto _ : state) {
        if (ippiReduceBits_8u_C1R(source.data(), width, result.data(), width, {width, height}, 0,
                                  type, levels, buffer.data()) != ippStsNoErr) {
            state.SkipWithError("ippiReduceBits_8u_C1R failed");
            break;
        }
        benchmark::DoNotOptimize(result.data());
    }
    state.counters["s/pixel"] =
        benchmark::Counter(double(width) * height, benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
}

void ReduceBits_FloydSteinberg(benchmark::State& state) {
    Reduce(state, ippDitherFS);
}

void ReduceBits_JarvisJudiceNinke(benchmark::State& state) {
    Reduce(state, ippDitherJJN);
}

void ReduceBits_Stucki(benchmark::State& state) {
    Reduce(state, ippDitherStucki);
}

void ReduceBits_Bayer(benchmark::State& state) {
    Reduce(state, ippDitherBayer);
}

}  // namespace

BENCHMARK(ReduceBits_FloydSteinberg)
    ->Args({800, 600, 2})
    ->Args({2560, 1600, 2})
    ->Args({800, 600, 4})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ReduceBits_JarvisJudiceNinke)
    ->Args({800, 600, 2})
    ->Args({2560, 1600, 2})
    ->Args({800, 600, 4})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ReduceBits_Stucki)
    ->Args({800, 600, 2})
    ->Args({2560, 1600, 2})
    ->Args({800, 600, 4})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ReduceBits_Bayer)
    ->Args({800, 600, 2})
    ->Args({2560, 1600, 2})
    ->Unit(benchmark::kMillisecond);
