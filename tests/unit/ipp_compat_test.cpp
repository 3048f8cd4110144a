// ReduceBits: the IPP stand-in's grey-level reduction, pinned by pictures worked out by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include "errordiffusion.h"
#include "ipp.h"

namespace {

using Pixels = std::vector<Ipp8u>;

// Runs the reduction on a tightly packed w x h picture with a buffer of the queried size.
Pixels reduce(const Pixels& src, int w, int h, IppiDitherType dtype, int levels = 2) {
    int size = 0;
    EXPECT_EQ(ippiReduceBitsGetBufferSize(ippC1, {w, h}, 0, dtype, &size), ippStsNoErr);
    Pixels buffer(size);
    Pixels dst(src.size(), 0x5A);
    EXPECT_EQ(ippiReduceBits_8u_C1R(src.data(), w, dst.data(), w, {w, h}, 0, dtype, levels,
                                    buffer.data()),
              ippStsNoErr);
    return dst;
}

Pixels flat(int w, int h, Ipp8u value) {
    return Pixels(static_cast<size_t>(w) * h, value);
}

int countLit(const Pixels& p) {
    return static_cast<int>(std::count_if(p.begin(), p.end(), [](Ipp8u v) { return v != 0; }));
}

double mean(const Pixels& p) {
    return std::accumulate(p.begin(), p.end(), 0.0) / static_cast<double>(p.size());
}

constexpr IppiDitherType kAllTypes[] = {ippDitherNone, ippDitherFS, ippDitherJJN, ippDitherStucki,
                                        ippDitherBayer};
constexpr IppiDitherType kDiffusion[] = {ippDitherFS, ippDitherJJN, ippDitherStucki};

// The straightforward per-pixel algorithm the fast one must match bit for bit: a float error
// for every pixel of the ROI, each pixel's error scattered tap by tap in the kernel's order.
struct RefTap {
    int dx;
    int dy;
    float weight;
};

std::vector<RefTap> referenceTaps(IppiDitherType dtype) {
    switch (dtype) {
        case ippDitherFS:
            return {{1, 0, 7 / 16.f}, {-1, 1, 3 / 16.f}, {0, 1, 5 / 16.f}, {1, 1, 1 / 16.f}};
        case ippDitherJJN:
            return {{1, 0, 7 / 48.f},  {2, 0, 5 / 48.f}, {-2, 1, 3 / 48.f}, {-1, 1, 5 / 48.f},
                    {0, 1, 7 / 48.f},  {1, 1, 5 / 48.f}, {2, 1, 3 / 48.f},  {-2, 2, 1 / 48.f},
                    {-1, 2, 3 / 48.f}, {0, 2, 5 / 48.f}, {1, 2, 3 / 48.f},  {2, 2, 1 / 48.f}};
        case ippDitherStucki:
            return {{1, 0, 8 / 42.f},  {2, 0, 4 / 42.f}, {-2, 1, 2 / 42.f}, {-1, 1, 4 / 42.f},
                    {0, 1, 8 / 42.f},  {1, 1, 4 / 42.f}, {2, 1, 2 / 42.f},  {-2, 2, 1 / 42.f},
                    {-1, 2, 2 / 42.f}, {0, 2, 4 / 42.f}, {1, 2, 2 / 42.f},  {2, 2, 1 / 42.f}};
        default:
            return {};
    }
}

void referenceReduce(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep, int w, int h,
                     IppiDitherType dtype, int levels) {
    constexpr int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
    auto value = [&](int k) { return (2 * 255 * k + (levels - 1)) / (2 * (levels - 1)); };
    auto nearest = [&](float v) {
        const int k = static_cast<int>(std::floor((2.f * v * (levels - 1) + 255.f) / 510.f));
        return std::clamp(k, 0, levels - 1);
    };
    const std::vector<RefTap> taps = referenceTaps(dtype);
    std::vector<float> error(static_cast<size_t>(w) * h, 0.f);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int s = src[y * srcStep + x];
            int out = 0;
            if (dtype == ippDitherNone) {
                out = value(nearest(static_cast<float>(s)));
            } else if (dtype == ippDitherBayer) {
                const int scaled = s * (levels - 1);
                const bool up = 32 * (scaled % 255) > (2 * kBayer[y % 4][x % 4] + 1) * 255;
                out = value(scaled / 255 + (up ? 1 : 0));
            } else {
                const float v = s + error[static_cast<size_t>(y) * w + x];
                out = value(nearest(v));
                const float e = v - out;
                for (const RefTap& t : taps) {
                    const int tx = x + t.dx, ty = y + t.dy;
                    if (tx >= 0 && tx < w && ty < h) {
                        error[static_cast<size_t>(ty) * w + tx] += e * t.weight;
                    }
                }
            }
            dst[y * dstStep + x] = static_cast<Ipp8u>(out);
        }
    }
}

}  // namespace

TEST(ReduceBits, NoDitherTakesTheNearestOfTwoLevels) {
    // Two levels are 0 and 255; the threshold lies half way, at 127.5.
    EXPECT_EQ(reduce({0, 1, 127, 128, 254, 255}, 6, 1, ippDitherNone),
              (Pixels{0, 0, 0, 255, 255, 255}));
}

TEST(ReduceBits, NoDitherWithMoreLevelsOnAFullRamp) {
    // Four levels are 0, 85, 170, 255 (steps of 255 / 3); thresholds at 42.5, 127.5, 212.5.
    Pixels ramp(256);
    std::iota(ramp.begin(), ramp.end(), 0);
    const Pixels out = reduce(ramp, 16, 16, ippDitherNone, 4);
    for (int v = 0; v < 256; ++v) {
        const int expected = v < 43 ? 0 : v < 128 ? 85 : v < 213 ? 170 : 255;
        EXPECT_EQ(out[v], expected) << "input " << v;
    }
    // Three levels: 0, 127.5 rounded to 128, 255; thresholds at 63.75 and 191.25.
    EXPECT_EQ(reduce({63, 64, 191, 192}, 4, 1, ippDitherNone, 3), (Pixels{0, 128, 128, 255}));
    // 256 levels keep every value.
    EXPECT_EQ(reduce(ramp, 16, 16, ippDitherNone, 256), ramp);
}

TEST(ReduceBits, FloydSteinbergGolden4x2) {
    // Flat 100, weights 7/16 right, 3/16 down-left, 5/16 down, 1/16 down-right; error leaving the
    // picture is dropped.
    // Row 0: x0 100 -> 0 (e 100); x1 100+43.75 = 143.75 -> 255 (e -111.25);
    //        x2 100-48.67 = 51.33 -> 0 (e 51.33); x3 100+22.46 = 122.46 -> 0 (e 122.46).
    // Row 1 carries: x0 31.25-20.86 = 10.39; x1 6.25-34.77+9.62 = -18.89;
    //        x2 -6.95+16.04+22.96 = 32.05; x3 3.21+38.27 = 41.48.
    // Row 1: x0 110.39 -> 0 (e 110.39); x1 100-18.89+48.30 = 129.40 -> 255 (e -125.60);
    //        x2 100+32.05-54.95 = 77.10 -> 0 (e 77.10); x3 100+41.48+33.73 = 175.21 -> 255.
    EXPECT_EQ(reduce(flat(4, 2, 100), 4, 2, ippDitherFS), (Pixels{0, 255, 0, 0,  //
                                                                  0, 255, 0, 255}));
}

TEST(ReduceBits, AValueRoundingOntoTheThresholdTakesTheUpperLevel) {
    // Along this row Floyd-Steinberg passes -26.5000057 on to the last pixel: 154 plus that rounds
    // to 127.5 - 2^-17, the float just under the threshold. The decision doubles it and adds 255 in
    // float, which rounds 510 - 2^-16 to 510: the pixel takes 255 where an exact comparison would
    // give 0.
    EXPECT_EQ(reduce({197, 220, 171, 63, 188, 154}, 6, 1, ippDitherFS),
              (Pixels{255, 255, 255, 0, 255, 255}));
}

TEST(ReduceBits, JarvisJudiceNinkeGolden4x4) {
    // Row 0 needs only 7/48 (x+1) and 5/48 (x+2). Later rows, worked in exact fractions with all
    // twelve taps (3 5 7 5 3 and 1 3 5 3 1 below, /48): every decision is at least 0.3 grey levels
    // away from 127.5.
    EXPECT_EQ(reduce(flat(4, 4, 100), 4, 4, ippDitherJJN), (Pixels{0, 0, 0, 255,    //
                                                                   255, 0, 255, 0,  //
                                                                   0, 255, 0, 0,    //
                                                                   0, 0, 255, 0}));
}

TEST(ReduceBits, StuckiGolden4x4) {
    // Row 0 needs only 8/42 (x+1) and 4/42 (x+2). Later rows in exact fractions with all twelve
    // taps (2 4 8 4 2 and 1 2 4 2 1 below, /42): every decision is at least 2.7 grey levels away.
    EXPECT_EQ(reduce(flat(4, 4, 100), 4, 4, ippDitherStucki), (Pixels{0, 0, 255, 0,    //
                                                                      0, 255, 0, 0,    //
                                                                      255, 0, 255, 0,  //
                                                                      0, 0, 255, 0}));
}

TEST(ReduceBits, DiffusionWithMoreLevelsUsesOnlyTheTwoLevelsAroundTheGrey) {
    for (IppiDitherType dtype : kDiffusion) {
        // 100 lies between the levels 85 and 170 of four; 60 between 0 and 128 of three.
        const Pixels four = reduce(flat(16, 16, 100), 16, 16, dtype, 4);
        for (Ipp8u v : four) {
            ASSERT_TRUE(v == 85 || v == 170) << "type " << dtype << " value " << int(v);
        }
        EXPECT_NEAR(mean(four), 100.0, 4.0) << "type " << dtype;
        const Pixels three = reduce(flat(16, 16, 60), 16, 16, dtype, 3);
        for (Ipp8u v : three) {
            ASSERT_TRUE(v == 0 || v == 128) << "type " << dtype << " value " << int(v);
        }
        EXPECT_NEAR(mean(three), 60.0, 4.0) << "type " << dtype;
    }
}

TEST(ReduceBits, BayerMidGreyIsACheckerboard) {
    // Cells with index 0..7 of the 4x4 matrix light up at 128 (128/255 of the way up is just
    // over 8/16); those cells form a checkerboard starting lit at the ROI origin.
    EXPECT_EQ(reduce(flat(4, 4, 128), 4, 4, ippDitherBayer), (Pixels{255, 0, 255, 0,  //
                                                                     0, 255, 0, 255,  //
                                                                     255, 0, 255, 0,  //
                                                                     0, 255, 0, 255}));
}

TEST(ReduceBits, BayerLightsTheMatchingShareOfEveryTile) {
    // A grey v lights round(16 v / 255) cells of each 4x4 tile, and a cell lit at v stays lit at
    // every brighter grey.
    Pixels previous = flat(8, 8, 0);
    for (int v = 0; v < 256; ++v) {
        const Pixels out = reduce(flat(8, 8, static_cast<Ipp8u>(v)), 8, 8, ippDitherBayer);
        EXPECT_EQ(countLit(out), 4 * std::lround(16.0 * v / 255.0)) << "grey " << v;
        for (size_t i = 0; i < out.size(); ++i) {
            ASSERT_TRUE(previous[i] == 0 || out[i] == 255) << "grey " << v << " pixel " << i;
        }
        previous = out;
    }
    // 8 is just over half a sixteenth: only the index-0 cell; 7 is under it.
    EXPECT_EQ(reduce(flat(4, 4, 8), 4, 4, ippDitherBayer),
              (Pixels{255, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    // 240 lights all but the index-15 cell (x 0, y 3).
    Pixels allButOne = flat(4, 4, 255);
    allButOne[12] = 0;
    EXPECT_EQ(reduce(flat(4, 4, 240), 4, 4, ippDitherBayer), allButOne);
}

TEST(ReduceBits, BayerWithFourLevels) {
    // 100 = 85 + 15: 15/85 of a step lies between 2.5/16 and 3.5/16, so cells 0, 1, 2 take
    // 170 and the rest 85. Index 0 is at (0,0), 1 at (2,2), 2 at (2,0).
    EXPECT_EQ(reduce(flat(4, 4, 100), 4, 4, ippDitherBayer, 4), (Pixels{170, 85, 170, 85,  //
                                                                        85, 85, 85, 85,    //
                                                                        85, 85, 170, 85,   //
                                                                        85, 85, 85, 85}));
}

class ReduceBitsPath : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override { ipp_compat::SetDiffusionVectorBits(GetParam()); }
    void TearDown() override { ipp_compat::SetDiffusionVectorBits(256); }
};

TEST_P(ReduceBitsPath, MatchesThePlainPerPixelAlgorithmBitForBit) {
    // Random pictures of many shapes, wider steps than the ROI, every type and several level
    // counts, on each vector path (bands of 16 and 8 rows; the widths below and above a
    // band's lag, heights that end inside a band). Besides uniform noise: flat greys, whose error
    // sums come back to the thresholds again and again, and sparse grey dots on black, whose
    // error fades to subnormal floats. The plain sums here are never fused into multiply-adds
    // (-ffp-contract=off for this test and for the library).
    std::mt19937 random(20240917);
    const IppiSize sizes[] = {{1, 1},    {1, 9},    {2, 3},    {3, 2},    {5, 7},
                              {7, 5},    {8, 8},    {11, 13},  {13, 4},   {17, 3},
                              {24, 24},  {31, 9},   {33, 17},  {64, 5},   {100, 37},
                              {154, 33}, {156, 64}, {257, 19}, {333, 211}};
    const int levelCounts[] = {2, 3, 4, 7, 16, 255, 256};
    for (const IppiSize size : sizes) {
        for (int kind = 0; kind < 3; ++kind) {
            const int srcStep = size.width + static_cast<int>(random() % 5);
            const int dstStep = size.width + static_cast<int>(random() % 5);
            Pixels src(static_cast<size_t>(srcStep) * size.height);
            const Ipp8u grey = static_cast<Ipp8u>(random());
            for (Ipp8u& p : src) {
                const unsigned r = random();
                p = kind == 0   ? static_cast<Ipp8u>(r)
                    : kind == 1 ? grey
                                : (r % 61 == 0 ? static_cast<Ipp8u>(r >> 8) : 0);
            }
            for (IppiDitherType dtype : kAllTypes) {
                for (int levels : levelCounts) {
                    Pixels expected(static_cast<size_t>(dstStep) * size.height, 0xC3);
                    referenceReduce(src.data(), srcStep, expected.data(), dstStep, size.width,
                                    size.height, dtype, levels);
                    int bufferSize = 0;
                    ASSERT_EQ(ippiReduceBitsGetBufferSize(ippC1, size, 0, dtype, &bufferSize),
                              ippStsNoErr);
                    Pixels buffer(bufferSize, 0xEE);
                    Pixels dst(expected.size(), 0xC3);
                    ASSERT_EQ(ippiReduceBits_8u_C1R(src.data(), srcStep, dst.data(), dstStep, size,
                                                    0, dtype, levels, buffer.data()),
                              ippStsNoErr);
                    ASSERT_EQ(dst, expected) << size.width << " x " << size.height << " kind "
                                             << kind << " type " << dtype << " levels " << levels;
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(VectorBits, ReduceBitsPath, ::testing::Values(256, 128));

TEST(ReduceBits, InPlaceGivesTheSameResult) {
    const Pixels src{30, 60, 90, 120, 150, 180, 210, 240, 20, 50, 80, 110, 140, 170, 200};
    for (IppiDitherType dtype : kAllTypes) {
        Pixels picture = src;
        int size = 0;
        ASSERT_EQ(ippiReduceBitsGetBufferSize(ippC1, {5, 3}, 0, dtype, &size), ippStsNoErr);
        Pixels buffer(size);
        ASSERT_EQ(ippiReduceBits_8u_C1R(picture.data(), 5, picture.data(), 5, {5, 3}, 0, dtype, 2,
                                        buffer.data()),
                  ippStsNoErr);
        EXPECT_EQ(picture, reduce(src, 5, 3, dtype)) << "type " << dtype;
    }
}

TEST(ReduceBits, WorksInAnUnalignedBufferOfExactlyTheQueriedSize) {
    int size = 0;
    ASSERT_EQ(ippiReduceBitsGetBufferSize(ippC1, {9, 4}, 0, ippDitherStucki, &size), ippStsNoErr);
    // One byte more, used from byte 1: the buffer is misaligned and ends at the heap block's end.
    Pixels storage(size + 1);
    const Pixels src = flat(9, 4, 100);
    Pixels dst(src.size());
    ASSERT_EQ(ippiReduceBits_8u_C1R(src.data(), 9, dst.data(), 9, {9, 4}, 0, ippDitherStucki, 2,
                                    storage.data() + 1),
              ippStsNoErr);
    EXPECT_EQ(dst, reduce(src, 9, 4, ippDitherStucki));
}

TEST(ReduceBits, WholeDmdFrame) {
    constexpr int w = 2560, h = 1600;
    const Pixels out = reduce(flat(w, h, 128), w, h, ippDitherFS);
    EXPECT_NEAR(countLit(out), w * h / 2, w * h / 200);
}

TEST(ReduceBits, ArgumentErrors) {
    Pixels src(64, 100), dst(64, 0x11), buffer(4096);
    const IppiSize roi{8, 8};
    auto call = [&](const Ipp8u* s, int ss, Ipp8u* d, int ds, IppiSize r, int noise, int dtype,
                    int levels, Ipp8u* b) {
        return ippiReduceBits_8u_C1R(s, ss, d, ds, r, noise, static_cast<IppiDitherType>(dtype),
                                     levels, b);
    };
    const Ipp8u* s = src.data();
    Ipp8u* d = dst.data();
    Ipp8u* b = buffer.data();
    EXPECT_EQ(call(nullptr, 8, d, 8, roi, 0, ippDitherFS, 2, b), ippStsNullPtrErr);
    EXPECT_EQ(call(s, 8, nullptr, 8, roi, 0, ippDitherFS, 2, b), ippStsNullPtrErr);
    EXPECT_EQ(call(s, 8, d, 8, roi, 0, ippDitherFS, 2, nullptr), ippStsNullPtrErr);
    EXPECT_EQ(call(s, 8, d, 8, {0, 8}, 0, ippDitherFS, 2, b), ippStsSizeErr);
    EXPECT_EQ(call(s, 8, d, 8, {8, -1}, 0, ippDitherFS, 2, b), ippStsSizeErr);
    EXPECT_EQ(call(s, 7, d, 8, roi, 0, ippDitherFS, 2, b), ippStsStepErr);
    EXPECT_EQ(call(s, 8, d, 0, roi, 0, ippDitherFS, 2, b), ippStsStepErr);
    EXPECT_EQ(call(s, 8, d, 8, roi, -1, ippDitherFS, 2, b), ippStsNoiseValErr);
    EXPECT_EQ(call(s, 8, d, 8, roi, 101, ippDitherFS, 2, b), ippStsNoiseValErr);
    EXPECT_EQ(call(s, 8, d, 8, roi, 0, ippDitherFS, 1, b), ippStsDitherLevelsErr);
    EXPECT_EQ(call(s, 8, d, 8, roi, 0, ippDitherFS, 257, b), ippStsDitherLevelsErr);
    EXPECT_EQ(call(s, 8, d, 8, roi, 0, 5, 2, b), ippStsDitherTypeErr);
    EXPECT_EQ(call(s, 8, d, 8, roi, 0, -1, 2, b), ippStsDitherTypeErr);
    // Noise is a valid IPP request this stand-in cannot reproduce.
    EXPECT_EQ(call(s, 8, d, 8, roi, 10, ippDitherFS, 2, b), ippStsNotSupportedModeErr);
    // No refused call wrote anything.
    EXPECT_EQ(dst, Pixels(64, 0x11));

    int size = -1;
    EXPECT_EQ(ippiReduceBitsGetBufferSize(ippC1, roi, 0, ippDitherFS, nullptr), ippStsNullPtrErr);
    EXPECT_EQ(ippiReduceBitsGetBufferSize(ippC1, {0, 8}, 0, ippDitherFS, &size), ippStsSizeErr);
    EXPECT_EQ(ippiReduceBitsGetBufferSize(ippC1, {8, 0}, 0, ippDitherFS, &size), ippStsSizeErr);
    EXPECT_EQ(ippiReduceBitsGetBufferSize(ippC3, roi, 0, ippDitherFS, &size), ippStsChannelErr);
    EXPECT_EQ(ippiReduceBitsGetBufferSize(ippC1, roi, 101, ippDitherFS, &size), ippStsDataTypeErr);
    EXPECT_EQ(ippiReduceBitsGetBufferSize(ippC1, roi, 0, static_cast<IppiDitherType>(7), &size),
              ippStsDitherTypeErr);
    EXPECT_EQ(size, -1);
    // A width whose error rows would not fit an int.
    EXPECT_EQ(ippiReduceBitsGetBufferSize(ippC1, {INT32_MAX / 4, 1}, 0, ippDitherFS, &size),
              ippStsSizeErr);
}
