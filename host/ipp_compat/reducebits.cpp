// Reduction of 8-bit one-channel pictures to a few grey levels, plain or dithered: what the
// plug-in gets from Intel IPP's ippiReduceBits_8u_C1R when no IPP is installed.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <utility>

#include <emmintrin.h>

#include "ipp.h"

namespace {

// Error diffusion runs on kLanes rows at once, one per SSE lane, each row kLag columns behind the
// one above it, so that every error a pixel needs from the rows above is known when its lane
// reaches it. A pixel's error is the only serial dependency left within a row; eight rows in two
// registers keep eight such chains in flight.
constexpr int kLanes = 8;
constexpr int kVectorLanes = 4;
constexpr int kVectors = kLanes / kVectorLanes;
// Per step of the band, the two rows above it and then its own rows.
constexpr int kSlots = kLanes + 2;
// Every kernel has four distinct weights; a pixel's error is multiplied by each once, and the
// products are shared by all taps of that weight.
constexpr int kWeightCount = 4;
constexpr int kMaxLag = 5;
constexpr int kMaxReach = 2;
// Steps before the first one of a band that a term may read: two rows up, kMaxReach to the left.
constexpr int kLead = kMaxReach + 2 * kMaxLag;

// One error product a pixel receives: that of the pixel dy rows up and dx columns across, with
// the kernel's weight number w.
struct Term {
    int dy;
    int dx;
    int w;
};

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

// Bayer's 4x4 index matrix, indexed [y mod 4][x mod 4] from the ROI origin. A flat value i/16 of
// the way between two levels takes the upper level on exactly i pixels of every 4x4 tile.
constexpr int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

// Products are stored per step in blocks of kWeightCount rows of kSlots floats, in a window of
// kWindowBlocks steps that slides along the band.
constexpr ptrdiff_t kBlock = kWeightCount * kSlots;
constexpr int kWindowBlocks = 128;

// Steps of one band of rows: lane kLanes - 1 reaches the last column (kLanes - 1) * kMaxLag
// steps after lane 0.
int64_t bandSteps(int width) {
    return int64_t{width} + (kLanes - 1) * kMaxLag;
}

// The errors of a band's last two rows, a pair per step, which the next band reads up to
// kLanes * kMaxLag steps later than it takes them.
int64_t boundaryFloats(int width) {
    return 2 * (bandSteps(width) + kLanes * kMaxLag);
}

// The product window, the boundary errors, a scratch row for the lanes below the ROI, and slack
// to align the floats inside a byte buffer of any alignment.
int64_t bufferBytes(int width) {
    return (kWindowBlocks * kBlock + boundaryFloats(width)) * int64_t{sizeof(float)} + width +
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

// The least value v that nearestLevel puts on the upper of two levels. nearestLevel never
// decreases as v grows, so comparing with this value decides exactly as it does.
float upperOfTwoLevels() {
    float threshold = 127.5f;
    while (nearestLevel(std::nextafter(threshold, 0.f), 2) == 1) {
        threshold = std::nextafter(threshold, 0.f);
    }
    return threshold;
}

// Reentrant: decides four pixels at a time between the levels 0 and 255.
class TwoLevels {
public:
    TwoLevels() : m_threshold(_mm_set1_ps(upperOfTwoLevels())), m_top(_mm_set1_ps(255.f)) {}

    // Returns the output levels of v, and sets out to them as integers.
    __m128 decide(__m128 v, __m128i& out) const {
        const __m128 up = _mm_cmpge_ps(v, m_threshold);
        const __m128 level = _mm_and_ps(up, m_top);
        out = _mm_cvttps_epi32(level);
        return level;
    }

private:
    __m128 m_threshold;
    __m128 m_top;
};

// Reentrant: decides four pixels at a time between any number of levels, with the arithmetic of
// nearestLevel: same operations in the same order, the floor folded into the clamp.
class ManyLevels {
public:
    ManyLevels(const Ipp8u* value, int levels)
        : m_value(value),
          m_top(_mm_set1_ps(static_cast<float>(levels - 1))),
          m_two(_mm_set1_ps(2.f)),
          m_half(_mm_set1_ps(255.f)),
          m_span(_mm_set1_ps(510.f)) {}

    __m128 decide(__m128 v, __m128i& out) const {
        const __m128 q =
            _mm_div_ps(_mm_add_ps(_mm_mul_ps(_mm_mul_ps(m_two, v), m_top), m_half), m_span);
        // Truncating a quotient clamped to 0 ... levels - 1 is flooring it and clamping after.
        alignas(16) int k[kVectorLanes];
        _mm_store_si128(reinterpret_cast<__m128i*>(k),
                        _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(q, _mm_setzero_ps()), m_top)));
        out = _mm_setr_epi32(m_value[k[0]], m_value[k[1]], m_value[k[2]], m_value[k[3]]);
        return _mm_cvtepi32_ps(out);
    }

private:
    const Ipp8u* m_value;
    __m128 m_top;
    __m128 m_two;
    __m128 m_half;
    __m128 m_span;
};

// Offset from a step's block to the products lane 0 reads for term a: lane r reads slot r - a.dy
// + 2 of the block a.dx - kLag * a.dy steps away, where the row a.dy above put that column.
template <typename K, size_t I>
__m128 aboveTerm(const float* block) {
    constexpr Term a = K::kAbove[I];
    constexpr ptrdiff_t offset = (a.dx - K::kLag * a.dy) * kBlock + a.w * kSlots + 2 - a.dy;
    return _mm_loadu_ps(block + offset);
}

// The sum starts with the first term instead of 0 plus it: the same value, and at most the sign of
// a zero differs, which no later sum or decision can tell.
template <typename K, size_t... I>
__m128 sumAbove(const float* block, std::index_sequence<I...>) {
    __m128 sum = aboveTerm<K, 0>(block);
    ((sum = _mm_add_ps(sum, aboveTerm<K, I + 1>(block))), ...);
    return sum;
}

template <typename K, size_t... I>
__m128 addLeft(__m128 sum, const __m128 (&left1)[kWeightCount], const __m128 (&left2)[kWeightCount],
               std::index_sequence<I...>) {
    ((sum = _mm_add_ps(sum, K::kLeft[I].dx == -1 ? left1[K::kLeft[I].w] : left2[K::kLeft[I].w])),
     ...);
    return sum;
}

// The eight 16-bit lanes word(0) ... word(7), inserted one by one: a vector load of eight
// scalar stores would wait for all of them.
template <typename F, size_t... R>
__m128i laneWords(F word, std::index_sequence<R...>) {
    __m128i words = _mm_setzero_si128();
    ((words = _mm_insert_epi16(words, word(static_cast<int>(R)), static_cast<int>(R))), ...);
    return words;
}

// Rows of one band: lane r holds row y0 + r, or reads row y0 and writes the scratch row when that
// row lies below the ROI; what such a lane computes reaches no row of the ROI.
struct Band {
    const Ipp8u* src[kLanes];
    Ipp8u* dst[kLanes];
};

// Products of the two rows above the band for step t's block: the errors the previous band's
// last two lanes took kLanes * kLag steps later, times each weight.
template <typename K>
void takeRowsAbove(float* block, const float* boundary, int t) {
    const __m128 errors = _mm_castsi128_ps(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(boundary + 2 * (t + kLanes * K::kLag))));
    for (int w = 0; w < kWeightCount; ++w) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(block + w * kSlots),
                         _mm_castps_si128(_mm_mul_ps(errors, _mm_set1_ps(K::kWeights[w]))));
    }
}

// Steps tBegin ... tEnd - 1 of a band, the first with its products at first: at step t lane r
// decides column t - kLag * r. In edge steps some lanes lie outside the ROI; they read nothing,
// write nothing and pass on no error.
template <typename K, bool kEdge, typename Levels>
void diffuseSteps(const Band& band, int tBegin, int tEnd, int width, float* first, float* boundary,
                  const Levels& levels) {
    static_assert(kLanes == 8, "sources and levels travel as eight 16-bit or 8-bit lanes");
    // Products of the two steps before, which the row's own pixels pass on.
    __m128 left1[kVectors][kWeightCount];
    __m128 left2[kVectors][kWeightCount];
    for (int h = 0; h < kVectors; ++h) {
        for (int w = 0; w < kWeightCount; ++w) {
            const ptrdiff_t slot = w * kSlots + 2 + h * kVectorLanes;
            left1[h][w] = _mm_loadu_ps(first - kBlock + slot);
            left2[h][w] = _mm_loadu_ps(first - 2 * kBlock + slot);
        }
    }
    for (int t = tBegin; t < tEnd; ++t) {
        float* block = first + (t - tBegin) * kBlock;
        takeRowsAbove<K>(block, boundary, t);
        int column[kLanes];
        bool inside[kLanes];
        for (int r = 0; r < kLanes; ++r) {
            column[r] = t - K::kLag * r;
            inside[r] = !kEdge || (column[r] >= 0 && column[r] < width);
        }
        const __m128i source =
            laneWords([&](int r) { return inside[r] ? band.src[r][column[r]] : 0; },
                      std::make_index_sequence<kLanes>());
        const __m128i keep = laneWords([&](int r) { return inside[r] ? -1 : 0; },
                                       std::make_index_sequence<kLanes>());
        __m128i out[kVectors];
        __m128 e;
        for (int h = 0; h < kVectors; ++h) {
            float* lanes = block + h * kVectorLanes;
            __m128 error = sumAbove<K>(lanes, std::make_index_sequence<std::size(K::kAbove) - 1>());
            error = addLeft<K>(error, left1[h], left2[h],
                               std::make_index_sequence<std::size(K::kLeft)>());
            const __m128i s = h == 0 ? _mm_unpacklo_epi16(source, _mm_setzero_si128())
                                     : _mm_unpackhi_epi16(source, _mm_setzero_si128());
            const __m128 v = _mm_add_ps(_mm_cvtepi32_ps(s), error);
            e = _mm_sub_ps(v, levels.decide(v, out[h]));
            if constexpr (kEdge) {
                e = _mm_and_ps(e, _mm_castsi128_ps(h == 0 ? _mm_unpacklo_epi16(keep, keep)
                                                          : _mm_unpackhi_epi16(keep, keep)));
            }
            for (int w = 0; w < kWeightCount; ++w) {
                left2[h][w] = left1[h][w];
                left1[h][w] = _mm_mul_ps(e, _mm_set1_ps(K::kWeights[w]));
                _mm_storeu_ps(lanes + w * kSlots + 2, left1[h][w]);
            }
        }
        // The last two lanes' errors, for the band below.
        _mm_storel_epi64(reinterpret_cast<__m128i*>(boundary + 2 * t),
                         _mm_castps_si128(_mm_movehl_ps(e, e)));
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(out[0], out[1]), out[0]);
        auto levelBytes = static_cast<uint64_t>(_mm_cvtsi128_si64(bytes));
        for (int r = 0; r < kLanes; ++r, levelBytes >>= 8) {
            if (inside[r]) {
                band.dst[r][column[r]] = static_cast<Ipp8u>(levelBytes);
            }
        }
    }
}

// The work buffer of diffuseErrors, carved from the caller's bytes.
struct Work {
    float* window;
    float* boundary;
    Ipp8u* scratch;
};

template <typename K, typename Levels>
void diffuseErrors(const Picture& p, const Levels& levels, const Work& work) {
    static_assert(K::kLag <= kMaxLag);
    const int width = p.roi.width;
    const int steps = width + (kLanes - 1) * K::kLag;
    // Rows above the ROI have no error to pass on.
    std::fill(work.boundary, work.boundary + boundaryFloats(width), 0.f);
    for (int y0 = 0; y0 < p.roi.height; y0 += kLanes) {
        Band band;
        for (int r = 0; r < kLanes; ++r) {
            const bool inRoi = y0 + r < p.roi.height;
            band.src[r] = p.srcRow(inRoi ? y0 + r : y0);
            band.dst[r] = inRoi ? p.dstRow(y0 + r) : work.scratch;
        }
        // The kLead steps before the first one hold columns left of the ROI in the band's own
        // rows, while the rows above may already reach into it.
        std::fill(work.window, work.window + kLead * kBlock, 0.f);
        for (int t = -kLead; t < 0; ++t) {
            takeRowsAbove<K>(work.window + (t + kLead) * kBlock, work.boundary, t);
        }
        // Steps from firstFull to lastFull have every lane inside the ROI.
        const int firstFull = std::min((kLanes - 1) * K::kLag, steps);
        const int lastFull = std::max(width, firstFull);
        int windowStart = 0;  // the step whose block follows the kLead leading ones
        for (int t = 0; t < steps;) {
            if (t - windowStart == kWindowBlocks - kLead) {
                // Slide: the last kLead blocks, all that later steps read, move to the front.
                std::copy(work.window + (kWindowBlocks - kLead) * kBlock,
                          work.window + kWindowBlocks * kBlock, work.window);
                windowStart = t;
            }
            float* first = work.window + (kLead + t - windowStart) * kBlock;
            const int end = std::min(windowStart + kWindowBlocks - kLead, t < firstFull  ? firstFull
                                                                          : t < lastFull ? lastFull
                                                                                         : steps);
            if (t < firstFull || t >= lastFull) {
                diffuseSteps<K, true>(band, t, end, width, first, work.boundary, levels);
            } else {
                diffuseSteps<K, false>(band, t, end, width, first, work.boundary, levels);
            }
            t = end;
        }
    }
}

template <typename K>
void diffuseErrors(const Picture& p, const Ipp8u* value, int levels, const Work& work) {
    if (levels == 2) {
        diffuseErrors<K>(p, TwoLevels(), work);
    } else {
        diffuseErrors<K>(p, ManyLevels(value, levels), work);
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
    float* window = reinterpret_cast<float*>(aligned);
    float* boundary = window + kWindowBlocks * kBlock;
    const Work work{window, boundary,
                    reinterpret_cast<Ipp8u*>(boundary + boundaryFloats(roiSize.width))};
    switch (dtype) {
        case ippDitherNone:
            quantise(picture, value, levels);
            break;
        case ippDitherFS:
            diffuseErrors<FloydSteinberg>(picture, value, levels, work);
            break;
        case ippDitherJJN:
            diffuseErrors<JarvisJudiceNinke>(picture, value, levels, work);
            break;
        case ippDitherStucki:
            diffuseErrors<Stucki>(picture, value, levels, work);
            break;
        case ippDitherBayer:
            orderedDither(picture, value, levels);
            break;
    }
    return ippStsNoErr;
}
