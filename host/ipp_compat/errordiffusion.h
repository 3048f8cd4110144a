// Error diffusion of ippiReduceBits_8u_C1R: what its vector paths share, and the paths themselves.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ipp.h"

namespace ipp_compat {

struct Picture {
    const Ipp8u* src;
    int srcStep;
    Ipp8u* dst;
    int dstStep;
    IppiSize roi;

    const Ipp8u* srcRow(int y) const { return src + static_cast<ptrdiff_t>(y) * srcStep; }
    Ipp8u* dstRow(int y) const { return dst + static_cast<ptrdiff_t>(y) * dstStep; }
};

// One error product a pixel receives: that of the pixel dy rows up and dx columns across, with
// the kernel's weight number w.
struct Term {
    int dy;
    int dx;
    int w;
};

// Every kernel has four distinct weights; a pixel's error is multiplied by each once, and the
// products are shared by all taps of that weight.
constexpr int kWeightCount = 4;
constexpr int kMaxLag = 5;
constexpr int kMaxReach = 2;
// Rows of the widest band: lanes of the widest path.
constexpr int kMaxLanes = 16;
// Steps of a band are skewed and de-skewed sixteen at a time.
constexpr int kTile = 16;
// Floats of the window of error products that slides along a band, whatever its lanes.
constexpr int kWindowFloats = 8192;

// The kernels, seen from the pixel receiving error: kAbove lists the pixels of the rows above
// and kLeft those of its own row, each in the order the scan decided them, so that the sums are
// formed in exactly the order in which each pixel's error was passed on to its neighbours.
// kLag lets a row read kAbove's rightmost pixel of the row above three steps after it was
// decided: a read sooner would overlap a store still on its way to the cache and wait for it.
struct FloydSteinberg {
    static constexpr int kLag = 4;
    static constexpr float kWeights[kWeightCount] = {7 / 16.f, 5 / 16.f, 3 / 16.f, 1 / 16.f};
    static constexpr Term kAbove[] = {{1, -1, 3}, {1, 0, 1}, {1, 1, 2}};
    static constexpr Term kLeft[] = {{0, -1, 0}};
};

struct JarvisJudiceNinke {
    static constexpr int kLag = 5;
    static constexpr float kWeights[kWeightCount] = {7 / 48.f, 5 / 48.f, 3 / 48.f, 1 / 48.f};
    static constexpr Term kAbove[] = {{2, -2, 3}, {2, -1, 2}, {2, 0, 1}, {2, 1, 2}, {2, 2, 3},
                                      {1, -2, 2}, {1, -1, 1}, {1, 0, 0}, {1, 1, 1}, {1, 2, 2}};
    static constexpr Term kLeft[] = {{0, -2, 1}, {0, -1, 0}};
};

struct Stucki {
    static constexpr int kLag = 5;
    static constexpr float kWeights[kWeightCount] = {8 / 42.f, 4 / 42.f, 2 / 42.f, 1 / 42.f};
    static constexpr Term kAbove[] = {{2, -2, 3}, {2, -1, 2}, {2, 0, 1}, {2, 1, 2}, {2, 2, 3},
                                      {1, -2, 2}, {1, -1, 1}, {1, 0, 0}, {1, 1, 1}, {1, 2, 2}};
    static constexpr Term kLeft[] = {{0, -2, 1}, {0, -1, 0}};
};

// Steps of a band of the widest path: its last lane reaches the last column that many steps after
// its first.
inline int64_t BandSteps(int width) {
    return int64_t{width} + (kMaxLanes - 1) * kMaxLag;
}

// Bytes of one skewed band: a byte per lane and step, the steps rounded up to whole tiles.
inline int64_t SkewedBytes(int width) {
    return (BandSteps(width) + kTile - 1) / kTile * kTile * kMaxLanes;
}

// The errors of a band's last two rows, a pair per step, which the next band reads up to
// lanes * kMaxLag steps later than it takes them.
inline int64_t BoundaryFloats(int width) {
    return 2 * (BandSteps(width) + kMaxLanes * kMaxLag);
}

// The work buffer of a diffusion, carved from the caller's bytes.
struct Work {
    float* window;
    float* boundary;
    // A band's sources and decided levels, step by step: lane r of step t is column t - lag * r
    // of the band's row r.
    Ipp8u* sources;
    Ipp8u* levels;
};

// The least value v that the two-level decision puts on the upper level.
float UpperOfTwoLevels();

// Diffuses the picture's error with dither type dtype (Floyd-Steinberg, Jarvis-Judice-Ninke or
// Stucki) onto the levels value[0 ... levels - 1]. The paths give the same pixels: 8 rows at a
// time in SSE2 lanes, 16 in AVX2 lanes. (32 rows in AVX-512 lanes were slower than 16 in AVX2 ones
// on the benchmark machine, which has AVX-512: their bands spend twice the steps on their slanted
// ends.)
void DiffuseSse2(const Picture& p, IppiDitherType dtype, const Ipp8u* value, int levels,
                 const Work& work);
void DiffuseAvx2(const Picture& p, IppiDitherType dtype, const Ipp8u* value, int levels,
                 const Work& work);

// The widest vector steps the diffusion takes on processors that have them: 256 (AVX2, the
// default) or less (SSE2). All give the same pixels; tests run each path on one machine.
void SetDiffusionVectorBits(int bits);

}  // namespace ipp_compat
