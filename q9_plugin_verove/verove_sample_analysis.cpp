// Spot detection in camera frames and the least-squares fit of the camera <-> DMD matrices.
#include "verove_sample_analysis.h"

#include <lapacke.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "verove_log.h"
#include "zt/zt_grabber.h"

#if defined(__SSE2__) || defined(_M_X64)
#define VEROVE_SSE2 1
#include <emmintrin.h>
#endif
// GCC and Clang compile the contrast stretch's AVX-512 and AVX2 steps into functions of their own,
// which run only when the processor has them; the rest of the library stays plain x86-64.
#if defined(VEROVE_SSE2) && defined(__x86_64__) && defined(__GNUC__)
#define VEROVE_AVX512 1
#include "verove_vector_intrinsics.h"
#endif

// One pixel of the flood fill's queue.
struct SZtQueuedPixel {
    std::uint32_t x;
    std::uint32_t y;
};

namespace {

constexpr int kSpotSmoothing = 10;
constexpr int kRegionSmoothing = 3;
// A spot's smoothed peak stands this many standard deviations above the frame's mean.
constexpr double kSpotContrast = 10.0;
constexpr double kRegionContrast = 4.0;
// A DMD square's diagonal, in mirrors, sets the margin kept from the image border.
constexpr double kSquareDiagonal = 9.0;

bool IsGrey(const SZtPicBuf* picture) {
    return picture && !picture->IsEmpty() && picture->components == 1 &&
           picture->bitsPerComponent >= 8 && picture->bitsPerComponent <= 16 &&
           picture->stride >=
               std::uint64_t{picture->width} * (picture->bitsPerComponent > 8 ? 2 : 1);
}

const std::uint16_t* Row16(const SZtPicBuf& picture, std::uint32_t y) {
    return reinterpret_cast<const std::uint16_t*>(picture.Row(y));
}

std::uint16_t* Row16(SZtPicBuf& picture, std::uint32_t y) {
    return reinterpret_cast<std::uint16_t*>(picture.Row(y));
}

#ifdef VEROVE_SSE2
// SSE2 compares 16-bit lanes only as signed numbers; with the top bit flipped, unsigned values
// keep their order among signed ones.
inline __m128i Signed16(const std::uint16_t* pixels) {
    return _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels)),
                         _mm_set1_epi16(static_cast<short>(0x8000)));
}

// The largest of eight flipped lanes, flipped back.
inline std::uint16_t LargestLane16(__m128i lanes) {
    lanes = _mm_max_epi16(lanes, _mm_srli_si128(lanes, 8));
    lanes = _mm_max_epi16(lanes, _mm_srli_si128(lanes, 4));
    lanes = _mm_max_epi16(lanes, _mm_srli_si128(lanes, 2));
    return static_cast<std::uint16_t>(_mm_cvtsi128_si32(lanes) ^ 0x8000);
}

inline std::uint16_t SmallestLane16(__m128i lanes) {
    lanes = _mm_min_epi16(lanes, _mm_srli_si128(lanes, 8));
    lanes = _mm_min_epi16(lanes, _mm_srli_si128(lanes, 4));
    lanes = _mm_min_epi16(lanes, _mm_srli_si128(lanes, 2));
    return static_cast<std::uint16_t>(_mm_cvtsi128_si32(lanes) ^ 0x8000);
}
#endif

void MinMax16(const SZtPicBuf& picture, std::uint32_t* minimum, std::uint32_t* maximum) {
    std::uint16_t low = 0xFFFF;
    std::uint16_t high = 0;
#ifdef VEROVE_SSE2
    __m128i lows = _mm_set1_epi16(0x7FFF);
    __m128i highs = _mm_set1_epi16(static_cast<short>(0x8000));
#endif
    for (std::uint32_t y = 0; y < picture.height; ++y) {
        const std::uint16_t* row = Row16(picture, y);
        std::uint32_t x = 0;
#ifdef VEROVE_SSE2
        for (; x + 16 <= picture.width; x += 16) {
            const __m128i a = Signed16(row + x);
            const __m128i b = Signed16(row + x + 8);
            lows = _mm_min_epi16(lows, _mm_min_epi16(a, b));
            highs = _mm_max_epi16(highs, _mm_max_epi16(a, b));
        }
#endif
        for (; x < picture.width; ++x) {
            low = std::min(low, row[x]);
            high = std::max(high, row[x]);
        }
    }
#ifdef VEROVE_SSE2
    low = std::min(low, SmallestLane16(lows));
    high = std::max(high, LargestLane16(highs));
#endif
    *minimum = low;
    *maximum = high;
}

void MinMax8(const SZtPicBuf& picture, std::uint32_t* minimum, std::uint32_t* maximum) {
    std::uint8_t low = 0xFF;
    std::uint8_t high = 0;
#ifdef VEROVE_SSE2
    __m128i lows = _mm_set1_epi8(static_cast<char>(0xFF));
    __m128i highs = _mm_setzero_si128();
#endif
    for (std::uint32_t y = 0; y < picture.height; ++y) {
        const std::uint8_t* row = picture.Row(y);
        std::uint32_t x = 0;
#ifdef VEROVE_SSE2
        for (; x + 32 <= picture.width; x += 32) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x + 16));
            lows = _mm_min_epu8(lows, _mm_min_epu8(a, b));
            highs = _mm_max_epu8(highs, _mm_max_epu8(a, b));
        }
#endif
        for (; x < picture.width; ++x) {
            low = std::min(low, row[x]);
            high = std::max(high, row[x]);
        }
    }
#ifdef VEROVE_SSE2
    alignas(16) std::uint8_t lanes[2][16];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes[0]), lows);
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes[1]), highs);
    for (int i = 0; i < 16; ++i) {
        low = std::min(low, lanes[0][i]);
        high = std::max(high, lanes[1][i]);
    }
#endif
    *minimum = low;
    *maximum = high;
}

std::uint16_t RowMaximum16(const std::uint16_t* row, std::uint32_t width) {
    std::uint16_t high = 0;
    std::uint32_t x = 0;
#ifdef VEROVE_SSE2
    if (width >= 16) {
        __m128i highs = _mm_set1_epi16(static_cast<short>(0x8000));
        for (; x + 16 <= width; x += 16) {
            highs = _mm_max_epi16(highs, _mm_max_epi16(Signed16(row + x), Signed16(row + x + 8)));
        }
        high = LargestLane16(highs);
    }
#endif
    for (; x < width; ++x) {
        high = std::max(high, row[x]);
    }
    return high;
}

// out[x] = the integer part of (in[x] - offset) * factor + 0.5. in and out may be the same row.
template <typename Pixel>
void StretchRow(const Pixel* in, Pixel* out, std::uint32_t width, std::int32_t offset,
                double factor) {
    // In signed 32-bit steps, which convert to and from double in single instructions.
    for (std::uint32_t x = 0; x < width; ++x) {
        out[x] = static_cast<Pixel>(static_cast<std::int32_t>((in[x] - offset) * factor + 0.5));
    }
}

#ifdef VEROVE_AVX512
// StretchRow of 16-bit pixels, sixteen at a time in two vectors of eight doubles, as far as
// whole steps go; returns where it stopped. The multiply and the add stay two roundings (the
// build never fuses them), so the values are those of the plain loop.
__attribute__((target("avx512f,avx512bw"))) std::uint32_t StretchRow16Avx512(
    const std::uint16_t* in, std::uint16_t* out, std::uint32_t width, std::int32_t offset,
    double factor) {
    const __m512i offsets = _mm512_set1_epi32(offset);
    const __m512d factors = _mm512_set1_pd(factor);
    const __m512d halves = _mm512_set1_pd(0.5);
    std::uint32_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m512i differences = _mm512_sub_epi32(
            _mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + x))),
            offsets);
        const __m512d low = _mm512_cvtepi32_pd(_mm512_castsi512_si256(differences));
        const __m512d high = _mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(differences, 1));
        const __m256i lowLevels =
            _mm512_cvttpd_epi32(_mm512_add_pd(_mm512_mul_pd(low, factors), halves));
        const __m256i highLevels =
            _mm512_cvttpd_epi32(_mm512_add_pd(_mm512_mul_pd(high, factors), halves));
        const __m512i levels = _mm512_inserti64x4(_mm512_castsi256_si512(lowLevels), highLevels, 1);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), _mm512_cvtepi32_epi16(levels));
    }
    return x;
}

// StretchRow16Avx512 eight pixels at a time, in two vectors of four doubles.
__attribute__((target("avx2"))) std::uint32_t StretchRow16Avx2(const std::uint16_t* in,
                                                               std::uint16_t* out,
                                                               std::uint32_t width,
                                                               std::int32_t offset, double factor) {
    const __m256i offsets = _mm256_set1_epi32(offset);
    const __m256d factors = _mm256_set1_pd(factor);
    const __m256d halves = _mm256_set1_pd(0.5);
    std::uint32_t x = 0;
    for (; x + 8 <= width; x += 8) {
        const __m256i differences = _mm256_sub_epi32(
            _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x))),
            offsets);
        const __m256d low = _mm256_cvtepi32_pd(_mm256_castsi256_si128(differences));
        const __m256d high = _mm256_cvtepi32_pd(_mm256_extracti128_si256(differences, 1));
        const __m128i lowLevels =
            _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_mul_pd(low, factors), halves));
        const __m128i highLevels =
            _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_mul_pd(high, factors), halves));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x),
                         _mm_packus_epi32(lowLevels, highLevels));
    }
    return x;
}
#endif

std::atomic<int> g_widestVectorBits{512};

void StretchRow16(const std::uint16_t* in, std::uint16_t* out, std::uint32_t width,
                  std::int32_t offset, double factor) {
    std::uint32_t x = 0;
#ifdef VEROVE_AVX512
    const int widest = UsableVectorBits(g_widestVectorBits.load(std::memory_order_relaxed));
    if (widest == 512) {
        x = StretchRow16Avx512(in, out, width, offset, factor);
    } else if (widest == 256) {
        x = StretchRow16Avx2(in, out, width, offset, factor);
    }
#endif
    StretchRow(in + x, out + x, width - x, offset, factor);
}

// The 4-connected region around the seed of the pixels of smoothed above threshold; the seed
// always belongs. Every pixel that joins is set to 0 in smoothed, so it joins once and the queue,
// one entry per pixel of the frame, cannot overflow. The region is queue[0 .. count - 1].
std::uint64_t FloodFill(SZtPicBuf& smoothed, std::uint32_t seedX, std::uint32_t seedY,
                        std::uint16_t threshold, SZtQueuedPixel* queue) {
    std::uint64_t head = 0;
    std::uint64_t tail = 0;
    queue[tail++] = {seedX, seedY};
    Row16(smoothed, seedY)[seedX] = 0;
    const auto visit = [&](std::uint32_t x, std::uint32_t y) {
        std::uint16_t& value = Row16(smoothed, y)[x];
        if (value > threshold) {
            value = 0;
            queue[tail++] = {x, y};
        }
    };
    while (head < tail) {
        const SZtQueuedPixel p = queue[head++];
        if (p.x > 0) {
            visit(p.x - 1, p.y);
        }
        if (p.x + 1 < smoothed.width) {
            visit(p.x + 1, p.y);
        }
        if (p.y > 0) {
            visit(p.x, p.y - 1);
        }
        if (p.y + 1 < smoothed.height) {
            visit(p.x, p.y + 1);
        }
    }
    return tail;
}

double Distance(const SZtPointD& a, const SZtPointD& b) {
    return std::hypot(a.x - b.x, a.y - b.y);
}

}  // namespace

void SetSpotDetectionVectorBits(int bits) {
    g_widestVectorBits.store(bits, std::memory_order_relaxed);
}

SZtPointD ApplyAffine(const CZtMatrix3& m, const SZtPointD& p) {
    return {m[0] * p.x + m[1] * p.y + m[2], m[3] * p.x + m[4] * p.y + m[5]};
}

int GetMinMax(const SZtPicBuf& picture, std::uint32_t* minimum, std::uint32_t* maximum) {
    if (!IsGrey(&picture) || !minimum || !maximum) {
        return -4;
    }
    if (picture.bitsPerComponent == 8) {
        MinMax8(picture, minimum, maximum);
    } else {
        MinMax16(picture, minimum, maximum);
    }
    return 0;
}

int FindFirstMaximum(const SZtPicBuf& picture, std::uint32_t* value, std::uint32_t* x,
                     std::uint32_t* y) {
    if (!IsGrey(&picture) || picture.bitsPerComponent == 8 || !value || !x || !y) {
        return -4;
    }
    std::uint16_t best = 0;
    std::uint32_t bestX = 0;
    std::uint32_t bestY = 0;
    for (std::uint32_t row = 0; row < picture.height; ++row) {
        const std::uint16_t* pixels = Row16(picture, row);
        const std::uint16_t high = RowMaximum16(pixels, picture.width);
        // Only a strictly larger value moves the maximum: the first one met stays.
        if (row == 0 || high > best) {
            best = high;
            bestY = row;
            bestX = static_cast<std::uint32_t>(std::find(pixels, pixels + picture.width, high) -
                                               pixels);
        }
    }
    *value = best;
    *x = bestX;
    *y = bestY;
    return 0;
}

int StretchContrast(const SZtPicBuf& source, SZtPicBuf* target) {
    std::uint32_t low = 0;
    std::uint32_t high = 0;
    if (!target || GetMinMax(source, &low, &high) != 0) {
        return -4;
    }
    const std::uint32_t bits = source.bitsPerComponent;
    // A target of the source's format and size is written over; a view is never written.
    const bool reused =
        target == &source || (target->ownsData && target->data != source.data &&
                              target->width == source.width && target->height == source.height &&
                              target->bitsPerComponent == bits && target->components == 1);
    if (!reused) {
        const int status = CZtPicBufAPI::Alloc(target, source.width, source.height, bits, 1);
        if (status != 0) {
            return status;
        }
    }
    if (low == high) {
        if (target != &source) {
            const std::size_t rowBytes = std::size_t{source.width} * (bits > 8 ? 2 : 1);
            for (std::uint32_t y = 0; y < source.height; ++y) {
                std::memcpy(target->Row(y), source.Row(y), rowBytes);
            }
        }
        return 0;
    }
    const auto offset = static_cast<std::int32_t>(low);
    const double factor = ((bits > 8 ? (1u << bits) : 256u) - 1.0) / (high - low);
    for (std::uint32_t y = 0; y < source.height; ++y) {
        if (bits == 8) {
            StretchRow(source.Row(y), target->Row(y), source.width, offset, factor);
        } else {
            StretchRow16(Row16(source, y), Row16(*target, y), source.width, offset, factor);
        }
    }
    return 0;
}

int StretchContrast(SZtPicBuf* picture) {
    return picture ? StretchContrast(*picture, picture) : -4;
}

CZtSpotDetector::CZtSpotDetector() = default;

CZtSpotDetector::~CZtSpotDetector() = default;

std::uint32_t CZtSpotDetector::CentralOtsuThreshold(const SZtPicBuf& box) {
    const std::uint64_t width = box.width;
    const std::uint64_t height = box.height;
    const std::uint64_t rowPixels = box.stride / 2;
    const std::size_t bins = std::size_t{1} << box.bitsPerComponent;
    if (m_counts.size() != bins) {
        m_counts.assign(bins, 0);
        m_occupied.assign((bins + 63) / 64, 0);
    }
    const auto* pixels = reinterpret_cast<const std::uint16_t*>(box.data);
    // The first counted pixel is a sixth of the array's rows down (in whole pixels, not rows)
    // and a sixth of a row across.
    const std::uint64_t start = rowPixels * height / 6 + width / 6;
    for (std::uint64_t row = 0; row < 2 * (height / 3); ++row) {
        const std::uint16_t* line = pixels + start + row * rowPixels;
        for (std::uint64_t x = 0; x < 2 * (width / 3); ++x) {
            ++m_counts[line[x]];
            m_occupied[line[x] / 64] |= std::uint64_t{1} << (line[x] % 64);
        }
    }
    // Only the occupied bins are visited, in ascending order: an empty bin moves neither class,
    // so its separation equals the one before it and never beats it. The counts go back to 0.
    const std::uint64_t norm = width * height * 4 / 9;
    m_bins.clear();
    for (std::size_t word = 0; word < m_occupied.size(); ++word) {
        for (std::uint64_t bits = m_occupied[word]; bits != 0; bits &= bits - 1) {
            const std::size_t k = word * 64 + static_cast<std::size_t>(std::countr_zero(bits));
            const auto count = static_cast<double>(m_counts[k]);
            m_bins.push_back({static_cast<std::uint32_t>(k),
                              norm > 0 ? count / static_cast<double>(norm) : count});
            m_counts[k] = 0;
        }
        m_occupied[word] = 0;
    }
    double totalProbability = 0.0;
    double totalMean = 0.0;
    for (const SZtBin& bin : m_bins) {
        totalProbability += bin.share;
        totalMean += bin.value * bin.share;
    }
    double probability = 0.0;
    double mean = 0.0;
    double best = 0.0;
    std::uint32_t threshold = 0;
    const auto weigh = [&](std::uint32_t k) {
        const double lowMean = probability > 1e-10 ? mean / probability : mean;
        const double rest = totalProbability - probability;
        const double highMean = rest > 1e-10 ? (totalMean - mean) / rest : totalMean - mean;
        const double between = probability * (lowMean - totalMean) * (lowMean - totalMean) +
                               rest * (highMean - totalMean) * (highMean - totalMean);
        if (k == 0 || between > best) {
            best = between;
            threshold = k;
        }
    };
    // Bin 0 is weighed first even when empty.
    if (m_bins.empty() || m_bins.front().value != 0) {
        weigh(0);
    }
    for (const SZtBin& bin : m_bins) {
        probability += bin.share;
        mean += bin.value * bin.share;
        weigh(bin.value);
    }
    return threshold;
}

int CZtSpotDetector::ConvertStretched(const SZtPicBuf& frame) {
    const std::uint32_t bits = frame.bitsPerComponent;
    const std::uint32_t top = (1u << bits) - 1;
    if (m_convertedBits != bits) {
        // The host's conversion of every value, taken from the host itself.
        SZtPicBuf values;
        if (const int status = CZtPicBufAPI::Alloc(&values, top + 1, 1, bits, 1); status != 0) {
            return status;
        }
        for (std::uint32_t v = 0; v <= top; ++v) {
            CZtPicBufAPI::SetValue(&values, v, 0, v);
        }
        if (const int status = CZtPicBufAPI::ConvertBpcAndComp(&values, 16, 1); status != 0) {
            return status;
        }
        const auto* converted = reinterpret_cast<const std::uint16_t*>(values.data);
        m_converted.assign(converted, converted + top + 1);
        m_convertedBits = bits;
    }
    std::uint32_t low = 0;
    std::uint32_t high = 0;
    GetMinMax(frame, &low, &high);
    // The conversion never lowers a larger value (values above the depth read as its top), so
    // the converted frame's extremes are the converted extremes.
    const std::int32_t offset = m_converted[std::min(low, top)];
    const std::int32_t range = m_converted[std::min(high, top)] - offset;
    const double factor = range == 0 ? 0.0 : 65535.0 / range;
    m_levels.resize(top + 1);
    for (std::uint32_t v = 0; v <= top; ++v) {
        m_levels[v] = range == 0 ? m_converted[v]
                                 : static_cast<std::uint16_t>(static_cast<std::int32_t>(
                                       (m_converted[v] - offset) * factor + 0.5));
    }
    const bool reused = m_work.ownsData && m_work.width == frame.width &&
                        m_work.height == frame.height && m_work.bitsPerComponent == 16 &&
                        m_work.components == 1;
    if (!reused) {
        if (const int status = CZtPicBufAPI::Alloc(&m_work, frame.width, frame.height, 16, 1);
            status != 0) {
            return status;
        }
    }
    for (std::uint32_t y = 0; y < frame.height; ++y) {
        std::uint16_t* out = Row16(m_work, y);
        if (bits == 8) {
            const std::uint8_t* in = frame.Row(y);
            for (std::uint32_t x = 0; x < frame.width; ++x) {
                out[x] = m_levels[in[x]];
            }
        } else {
            const std::uint16_t* in = Row16(frame, y);
            for (std::uint32_t x = 0; x < frame.width; ++x) {
                out[x] = m_levels[std::min<std::uint32_t>(in[x], top)];
            }
        }
    }
    return 0;
}

int CZtSpotDetector::DetectSpot(const SZtPicBuf* picture, SZtPointD* point) {
    if (!picture || picture->IsEmpty() || !point) {
        return -9;
    }
    const auto failed = [](int status) { return status == ZT_PIC_ALLOC_FAILED ? -3 : -9; };
    int status = 0;
    if (picture->components == 1 && picture->bitsPerComponent == 16) {
        // The working copy of a 16-bit grey frame is written stretched, in one pass.
        status = StretchContrast(*picture, &m_work);
    } else if (IsGrey(picture)) {
        status = ConvertStretched(*picture);
    } else {
        status = CZtPicBufAPI::ConvertBpcAndComp(picture, &m_work, 16, 1);
        if (status == 0) {
            StretchContrast(&m_work);
        }
    }
    if (status != 0) {
        return failed(status);
    }

    double mean = 0.0;
    double variation = 0.0;
    std::uint32_t peak = 0;
    std::uint32_t seedX = 0;
    std::uint32_t seedY = 0;
    status = CZtPicBufAPI::SmoothSquare(&m_work, &m_smoothed, kSpotSmoothing);
    if (status != 0) {
        return failed(status);
    }
    CZtPicBufAPI::GetMeanIntAndVariation(&m_work, &mean, &variation);
    FindFirstMaximum(m_smoothed, &peak, &seedX, &seedY);
    if (peak < mean + kSpotContrast * variation) {
        return -13;
    }

    CZtPicBufAPI::SmoothSquare(&m_work, &m_smoothed, kRegionSmoothing);
    CZtPicBufAPI::GetMeanIntAndVariation(&m_smoothed, &mean, &variation);
    const double level = std::max(mean + kRegionContrast * variation, 0.5 * mean);
    const auto threshold = static_cast<std::uint16_t>(std::min(level, 65535.0));
    const std::uint64_t pixels = std::uint64_t{m_work.width} * m_work.height;
    if (m_queueLength < pixels) {
        // Left uninitialised: pages the regions never reach are never touched.
        m_queue.reset(new (std::nothrow) SZtQueuedPixel[pixels]);
        m_queueLength = m_queue ? pixels : 0;
        if (!m_queue) {
            return -3;
        }
    }
    const std::uint64_t regionSize = FloodFill(m_smoothed, seedX, seedY, threshold, m_queue.get());
    const SZtQueuedPixel* region = m_queue.get();

    // Intensity-weighted centroid and bounding box of the region, in exact integer sums.
    std::uint64_t sumX = 0;
    std::uint64_t sumY = 0;
    std::uint64_t sum = 0;
    std::uint32_t minX = m_work.width;
    std::uint32_t maxX = 0;
    std::uint32_t minY = m_work.height;
    std::uint32_t maxY = 0;
    for (std::uint64_t i = 0; i < regionSize; ++i) {
        const SZtQueuedPixel p = region[i];
        const std::uint64_t w = Row16(m_work, p.y)[p.x];
        sumX += p.x * w;
        sumY += p.y * w;
        sum += w;
        minX = std::min(minX, p.x);
        maxX = std::max(maxX, p.x);
        minY = std::min(minY, p.y);
        maxY = std::max(maxY, p.y);
    }
    if (sum == 0) {
        return -13;
    }
    const double cx = static_cast<double>(sumX) / static_cast<double>(sum);
    const double cy = static_cast<double>(sumY) / static_cast<double>(sum);

    // A box twice as far from the centroid as the region reaches on each side, in the frame.
    const auto x0 = std::max<std::int64_t>(static_cast<std::int64_t>(cx - 2.0 * (cx - minX)), 0);
    const auto x1 =
        std::min<std::int64_t>(static_cast<std::int64_t>(cx + 2.0 * (maxX - cx)), m_work.width);
    const auto y0 = std::max<std::int64_t>(static_cast<std::int64_t>(cy - 2.0 * (cy - minY)), 0);
    const auto y1 =
        std::min<std::int64_t>(static_cast<std::int64_t>(cy + 2.0 * (maxY - cy)), m_work.height);
    // A region without extent (a uniform frame gives the seed alone) is no spot.
    if (x1 <= x0 || y1 <= y0) {
        return -13;
    }
    SZtPicBuf box;
    status = CZtPicBufAPI::Alloc(&box, static_cast<std::uint32_t>(x1 - x0),
                                 static_cast<std::uint32_t>(y1 - y0), 16, 1);
    if (status != 0) {
        return failed(status);
    }
    CZtPicBufAPI::CopyRect(&m_work, static_cast<int>(x0), static_cast<int>(y0), box.width,
                           box.height, &box, 0, 0);
    const std::uint32_t cut = CentralOtsuThreshold(box);

    // The centre of the region's pixels at or above the cut, weighted by their values.
    sumX = sumY = sum = 0;
    for (std::uint64_t i = 0; i < regionSize; ++i) {
        const SZtQueuedPixel p = region[i];
        const std::uint64_t v = Row16(m_work, p.y)[p.x];
        if (v >= cut) {
            sumX += p.x * v;
            sumY += p.y * v;
            sum += v;
        }
    }
    const double x = static_cast<double>(sumX) / static_cast<double>(sum);
    const double y = static_cast<double>(sumY) / static_cast<double>(sum);
    // Not >= 0 also catches 0 / 0.
    if (!(x >= 0.0) || !(y >= 0.0)) {
        return -13;
    }
    *point = {x, y};
    return 0;
}

int CalibrateWithLeastSquares_64f(std::vector<SZtPointD>* source, std::vector<SZtPointD>* target,
                                  CZtMatrix3* matrix) {
    std::vector<SZtPointD> from;
    std::vector<SZtPointD> to;
    if (source) {
        from.swap(*source);
    }
    if (target) {
        to.swap(*target);
    }
    if (!source || !target || !matrix) {
        return -9;
    }
    if (from.size() != to.size()) {
        VEROVE_LOG_DETAIL("CalibrateWithLeastSquares_64f",
                          L"CalibrateWithLeastSquares_64f Invalid data supplied to calibration "
                          L"procedure");
        return -9;
    }
    const std::size_t n = from.size();
    if (n < 3) {
        return -9;
    }
    // A holds rows (x, y, 1) of the source points, B rows (x', y') of the target points; dgels
    // leaves the 3 x 2 solution in B's first three rows and R of A's QR factors in A.
    std::vector<double> a(3 * n);
    std::vector<double> b(2 * n);
    for (std::size_t i = 0; i < n; ++i) {
        a[3 * i] = from[i].x;
        a[3 * i + 1] = from[i].y;
        a[3 * i + 2] = 1.0;
        b[2 * i] = to[i].x;
        b[2 * i + 1] = to[i].y;
    }
    const lapack_int info = LAPACKE_dgels(LAPACK_ROW_MAJOR, 'N', static_cast<lapack_int>(n), 3, 2,
                                          a.data(), 3, b.data(), 2);
    if (info != 0) {
        return -9;
    }
    // dgels only refuses an exactly zero diagonal of R; points on one line leave one that is zero
    // up to rounding, and the fit would be noise.
    const double largest = std::max({std::fabs(a[0]), std::fabs(a[4]), std::fabs(a[8])});
    if (std::min({std::fabs(a[0]), std::fabs(a[4]), std::fabs(a[8])}) <= 1e-10 * largest) {
        return -9;
    }
    *matrix = {b[0], b[2], b[4], b[1], b[3], b[5], 0.0, 0.0, 1.0};
    return 0;
}

SZtCalibrationFit MeasureFit(const CZtMatrix3& dmdToChip, const std::vector<SZtPointD>& dmdPoints,
                             const std::vector<SZtPointD>& chipPoints,
                             const CZtMatrix3& imageFromChip) {
    SZtCalibrationFit fit;
    fit.pairs = std::min(dmdPoints.size(), chipPoints.size());
    double sumSquares = 0.0;
    for (std::size_t i = 0; i < fit.pairs; ++i) {
        const double distance =
            Distance(ApplyAffine(imageFromChip, ApplyAffine(dmdToChip, dmdPoints[i])),
                     ApplyAffine(imageFromChip, chipPoints[i]));
        sumSquares += distance * distance;
        fit.max = std::max(fit.max, distance);
    }
    fit.rms = fit.pairs == 0 ? 0.0 : std::sqrt(sumSquares / static_cast<double>(fit.pairs));
    return fit;
}

int ComputeCalibrationMatrices(std::vector<SZtPointD>* dmdPoints,
                               std::vector<SZtPointD>* cameraPoints, int imageWidth,
                               int imageHeight, const CZtMatrix3& imageFromChip,
                               const CZtCameraTransformQuery& cameraTransform,
                               CZtMatrix3* dmdToCamera, CZtMatrix3* cameraToDmd,
                               SZtCalibrationFit* fit) {
    std::vector<SZtPointD> dmd;
    std::vector<SZtPointD> camera;
    if (dmdPoints) {
        dmd.swap(*dmdPoints);
    }
    if (cameraPoints) {
        camera.swap(*cameraPoints);
    }
    if (!dmdPoints || !cameraPoints || !dmdToCamera || !cameraToDmd) {
        return -9;
    }
    std::vector<SZtPointD> dmdCopy = dmd;
    std::vector<SZtPointD> cameraCopy = camera;
    CZtMatrix3 first{};
    if (CalibrateWithLeastSquares_64f(&dmdCopy, &cameraCopy, &first) != 0) {
        return -9;
    }
    // Pairs seen closer to the image border than a square's diagonal may show a clipped square.
    const double diagonal = Distance(ApplyAffine(first, {kSquareDiagonal, kSquareDiagonal}),
                                     ApplyAffine(first, {0.0, 0.0}));
    const double margin = Distance(ApplyAffine(imageFromChip, {diagonal, diagonal}),
                                   ApplyAffine(imageFromChip, {0.0, 0.0}));
    std::size_t kept = 0;
    for (std::size_t i = 0; i < camera.size(); ++i) {
        const SZtPointD image = ApplyAffine(imageFromChip, camera[i]);
        if (image.x >= margin && image.x <= imageWidth - margin && image.y >= margin &&
            image.y <= imageHeight - margin) {
            dmd[kept] = dmd[i];
            camera[kept] = camera[i];
            ++kept;
        }
    }
    dmd.resize(kept);
    camera.resize(kept);

    dmdCopy = dmd;
    cameraCopy = camera;
    CZtMatrix3 forward{};
    CZtMatrix3 backward{};
    if (CalibrateWithLeastSquares_64f(&dmdCopy, &cameraCopy, &forward) != 0) {
        return -9;
    }
    const SZtCalibrationFit measured = MeasureFit(forward, dmd, camera, imageFromChip);
    if (CalibrateWithLeastSquares_64f(&camera, &dmd, &backward) != 0) {
        return -9;
    }

    CZtMatrix3 rotation{};
    CZtMatrix3 flip{};
    std::array<double, 3> centre{};
    if (!cameraTransform || cameraTransform(&rotation, &flip, &centre) != 0) {
        *dmdToCamera = forward;
        *cameraToDmd = backward;
        if (fit) {
            *fit = measured;
        }
        return 0;
    }
    // Stored for the unturned camera: the calibration data multiply by the mapping to the
    // unrotated camera again when they apply the matrices.
    CZtMatrix3 unrotated{};
    CZtMatrix3 rotated{};
    if (GetMappingToUnrotatedCamera(rotation.data(), flip.data(), centre.data(),
                                    unrotated.data()) != 0 ||
        InvertMatrix(3, unrotated.data(), rotated.data()) != 0) {
        return -9;
    }
    const CZtMatrix3 toDmd = MultiplyMatrix3(backward, rotated);
    CZtMatrix3 toCamera{};
    if (InvertMatrix(3, toDmd.data(), toCamera.data()) != 0) {
        return -9;
    }
    *dmdToCamera = toCamera;
    *cameraToDmd = toDmd;
    if (fit) {
        *fit = measured;
    }
    return 0;
}
