// Reduction of 8-bit one-channel pictures to a few grey levels, plain or dithered: what the
// plug-in gets from Intel IPP's ippiReduceBits_8u_C1R when no IPP is installed.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

#include "ipp.h"

namespace {

// Error rows kept while diffusing: the current row and the two below it (Jarvis-Judice-Ninke
// and Stucki reach two rows down), each padded by two cells on both sides so that no tap needs
// a bounds check. Error pushed into a padding cell or below the last row is dropped.
constexpr int kErrorRows = 3;
constexpr int kPad = 2;

struct Tap {
    int dx;
    int dy;
    float weight;
};

// Shares of a pixel's quantisation error passed on to the neighbours not yet visited, for a
// scan from left to right and top to bottom. Each kernel's weights sum to one.
constexpr Tap kFloydSteinberg[] = {
    {1, 0, 7 / 16.f}, {-1, 1, 3 / 16.f}, {0, 1, 5 / 16.f}, {1, 1, 1 / 16.f}};
constexpr Tap kJarvisJudiceNinke[] = {
    {1, 0, 7 / 48.f},  {2, 0, 5 / 48.f},                                        //
    {-2, 1, 3 / 48.f}, {-1, 1, 5 / 48.f}, {0, 1, 7 / 48.f},  {1, 1, 5 / 48.f},  //
    {2, 1, 3 / 48.f},  {-2, 2, 1 / 48.f}, {-1, 2, 3 / 48.f}, {0, 2, 5 / 48.f},  //
    {1, 2, 3 / 48.f},  {2, 2, 1 / 48.f}};
constexpr Tap kStucki[] = {
    {1, 0, 8 / 42.f},  {2, 0, 4 / 42.f},                                        //
    {-2, 1, 2 / 42.f}, {-1, 1, 4 / 42.f}, {0, 1, 8 / 42.f},  {1, 1, 4 / 42.f},  //
    {2, 1, 2 / 42.f},  {-2, 2, 1 / 42.f}, {-1, 2, 2 / 42.f}, {0, 2, 4 / 42.f},  //
    {1, 2, 2 / 42.f},  {2, 2, 1 / 42.f}};

// Bayer's 4x4 index matrix, indexed [y mod 4][x mod 4] from the ROI origin. A flat value i/16 of
// the way between two levels takes the upper level on exactly i pixels of every 4x4 tile.
constexpr int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

int errorRowLength(int width) {
    return width + 2 * kPad;
}

// The float rows plus slack to align them inside a byte buffer of any alignment.
int64_t bufferBytes(int width) {
    return int64_t{kErrorRows} * errorRowLength(width) * int64_t{sizeof(float)} +
           int64_t{alignof(float)} - 1;
}

bool validDitherType(IppiDitherType dtype) {
    return dtype >= ippDitherNone && dtype <= ippDitherBayer;
}

// Output value of level k: k steps of 255 / (levels - 1), rounded to the nearest integer.
Ipp8u levelValue(int k, int levels) {
    return static_cast<Ipp8u>((2 * 255 * k + (levels - 1)) / (2 * (levels - 1)));
}

// Index of the level nearest to v (a value on the 0..255 scale, possibly outside it once error
// is added): the threshold between two levels lies half a step above the lower one, and a value
// exactly on it takes the upper level.
int nearestLevel(float v, int levels) {
    const int k = static_cast<int>(std::floor((2.f * v * (levels - 1) + 255.f) / 510.f));
    return std::clamp(k, 0, levels - 1);
}

struct Picture {
    const Ipp8u* src;
    int srcStep;
    Ipp8u* dst;
    int dstStep;
    IppiSize roi;

    const Ipp8u* srcRow(int y) const { return src + static_cast<ptrdiff_t>(y) * srcStep; }
    Ipp8u* dstRow(int y) const { return dst + static_cast<ptrdiff_t>(y) * dstStep; }
};

void quantise(const Picture& p, const Ipp8u* value, int levels) {
    Ipp8u lut[256];
    for (int v = 0; v < 256; ++v) {
        lut[v] = value[nearestLevel(static_cast<float>(v), levels)];
    }
    for (int y = 0; y < p.roi.height; ++y) {
        const Ipp8u* s = p.srcRow(y);
        Ipp8u* d = p.dstRow(y);
        for (int x = 0; x < p.roi.width; ++x) {
            d[x] = lut[s[x]];
        }
    }
}

void orderedDither(const Picture& p, const Ipp8u* value, int levels) {
    for (int y = 0; y < p.roi.height; ++y) {
        const Ipp8u* s = p.srcRow(y);
        Ipp8u* d = p.dstRow(y);
        const int* matrix = kBayer[y & 3];
        for (int x = 0; x < p.roi.width; ++x) {
            // Position between the two neighbouring levels in 255ths of a step: the upper one is
            // taken when it exceeds the cell's threshold (index + 1/2) / 16 of a step.
            const int scaled = s[x] * (levels - 1);
            const int fraction = scaled % 255;
            const bool up = 32 * fraction > (2 * matrix[x & 3] + 1) * 255;
            d[x] = value[scaled / 255 + (up ? 1 : 0)];
        }
    }
}

void diffuseErrors(const Picture& p, const Ipp8u* value, int levels, std::span<const Tap> taps,
                   float* rows) {
    const int length = errorRowLength(p.roi.width);
    std::fill(rows, rows + kErrorRows * length, 0.f);
    float* error[kErrorRows] = {rows, rows + length, rows + 2 * length};
    for (int y = 0; y < p.roi.height; ++y) {
        const Ipp8u* s = p.srcRow(y);
        Ipp8u* d = p.dstRow(y);
        for (int x = 0; x < p.roi.width; ++x) {
            const float v = s[x] + error[0][x + kPad];
            const Ipp8u out = value[nearestLevel(v, levels)];
            d[x] = out;
            const float e = v - out;
            for (const Tap& t : taps) {
                error[t.dy][x + kPad + t.dx] += e * t.weight;
            }
        }
        float* finished = error[0];
        std::copy(error + 1, error + kErrorRows, error);
        error[kErrorRows - 1] = finished;
        std::fill(finished, finished + length, 0.f);
    }
}

}  // namespace

extern "C" IppStatus ippiReduceBitsGetBufferSize(IppChannels ippChan, IppiSize roiSize, int noise,
                                                 IppiDitherType dtype, int* pBufferSize) {
    if (pBufferSize == nullptr) {
        return ippStsNullPtrErr;
    }
    if (roiSize.width <= 0 || roiSize.height <= 0 || bufferBytes(roiSize.width) > INT_MAX) {
        return ippStsSizeErr;
    }
    if (ippChan != ippC1) {
        return ippStsChannelErr;
    }
    if (noise < 0 || noise > 100) {
        return ippStsDataTypeErr;
    }
    if (!validDitherType(dtype)) {
        return ippStsDitherTypeErr;
    }
    // One size for every dither type, so a caller may change the type without asking again.
    *pBufferSize = static_cast<int>(bufferBytes(roiSize.width));
    return ippStsNoErr;
}

extern "C" IppStatus ippiReduceBits_8u_C1R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                           IppiSize roiSize, int noise, IppiDitherType dtype,
                                           int levels, Ipp8u* pBuffer) {
    if (pSrc == nullptr || pDst == nullptr || pBuffer == nullptr) {
        return ippStsNullPtrErr;
    }
    if (roiSize.width <= 0 || roiSize.height <= 0 || bufferBytes(roiSize.width) > INT_MAX) {
        return ippStsSizeErr;
    }
    if (srcStep < roiSize.width || dstStep < roiSize.width) {
        return ippStsStepErr;
    }
    if (noise < 0 || noise > 100) {
        return ippStsNoiseValErr;
    }
    if (levels < 2 || levels > 256) {
        return ippStsDitherLevelsErr;
    }
    if (!validDitherType(dtype)) {
        return ippStsDitherTypeErr;
    }
    // Noise draws from IPP's own random generator, which cannot be reproduced here.
    if (noise > 0) {
        return ippStsNotSupportedModeErr;
    }

    Ipp8u value[256];
    for (int k = 0; k < levels; ++k) {
        value[k] = levelValue(k, levels);
    }
    const Picture picture{pSrc, srcStep, pDst, dstStep, roiSize};
    const auto aligned = (reinterpret_cast<uintptr_t>(pBuffer) + alignof(float) - 1) &
                         ~uintptr_t{alignof(float) - 1};
    float* rows = reinterpret_cast<float*>(aligned);
    switch (dtype) {
        case ippDitherNone:
            quantise(picture, value, levels);
            break;
        case ippDitherFS:
            diffuseErrors(picture, value, levels, kFloydSteinberg, rows);
            break;
        case ippDitherJJN:
            diffuseErrors(picture, value, levels, kJarvisJudiceNinke, rows);
            break;
        case ippDitherStucki:
            diffuseErrors(picture, value, levels, kStucki, rows);
            break;
        case ippDitherBayer:
            orderedDither(picture, value, levels);
            break;
    }
    return ippStsNoErr;
}
