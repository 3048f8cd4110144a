// Reduction of 8-bit one-channel pictures to a few grey levels, plain or dithered: what the
// plug-in gets from Intel IPP's ippiReduceBits_8u_C1R when no IPP is installed.
#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "errordiffusion.h"
#include "ipp.h"

namespace ipp_compat {
namespace {

std::atomic<int> g_widestDiffusionBits{256};

// Bayer's 4x4 index matrix, indexed [y mod 4][x mod 4] from the ROI origin. A flat value i/16 of
// the way between two levels takes the upper level on exactly i pixels of every 4x4 tile.
constexpr int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

// The product window, the boundary errors, a band's skewed sources and levels, and slack to align
// them for the widest vectors inside a byte buffer of any alignment.
constexpr int64_t kAlignment = 64;

int64_t bufferBytes(int width) {
    return (kWindowFloats + BoundaryFloats(width)) * int64_t{sizeof(float)} +
           2 * SkewedBytes(width) + kAlignment - 1;
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

// The widest path the processor has and the tests allow.
void diffuse(const Picture& p, IppiDitherType dtype, const Ipp8u* value, int levels,
             const Work& work) {
#if defined(__GNUC__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
#else
    constexpr bool avx2 = false;
#endif
    if (avx2 && g_widestDiffusionBits.load(std::memory_order_relaxed) >= 256) {
        DiffuseAvx2(p, dtype, value, levels, work);
    } else {
        DiffuseSse2(p, dtype, value, levels, work);
    }
}

}  // namespace

// nearestLevel never decreases as v grows, so comparing with this value decides exactly as it
// does.
float UpperOfTwoLevels() {
    float threshold = 127.5f;
    while (nearestLevel(std::nextafter(threshold, 0.f), 2) == 1) {
        threshold = std::nextafter(threshold, 0.f);
    }
    return threshold;
}

void SetDiffusionVectorBits(int bits) {
    g_widestDiffusionBits.store(bits, std::memory_order_relaxed);
}

}  // namespace ipp_compat

using namespace ipp_compat;

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
    const auto aligned = (reinterpret_cast<uintptr_t>(pBuffer) + kAlignment - 1) &
                         ~static_cast<uintptr_t>(kAlignment - 1);
    float* window = reinterpret_cast<float*>(aligned);
    float* boundary = window + kWindowFloats;
    Ipp8u* sources = reinterpret_cast<Ipp8u*>(boundary + BoundaryFloats(roiSize.width));
    const Work work{window, boundary, sources, sources + SkewedBytes(roiSize.width)};
    switch (dtype) {
        case ippDitherNone:
            quantise(picture, value, levels);
            break;
        case ippDitherFS:
        case ippDitherJJN:
        case ippDitherStucki:
            diffuse(picture, dtype, value, levels, work);
            break;
        case ippDitherBayer:
            orderedDither(picture, value, levels);
            break;
    }
    return ippStsNoErr;
}
