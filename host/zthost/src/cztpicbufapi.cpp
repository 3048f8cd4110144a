// CZtPicBufAPI: allocation, copies, stretch, depth conversion and pixel access of host pictures.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "zt/zt_picbuf.h"
#include "zthost/zthost.h"

#if defined(__SSE2__) || defined(_M_X64)
#define ZT_PICBUF_SSE2 1
#include <emmintrin.h>
#endif
// GCC and Clang compile AVX-512 and AVX2 steps into functions of their own, which run only when
// the processor has them; the rest of the library stays plain x86-64.
#if defined(ZT_PICBUF_SSE2) && defined(__x86_64__) && defined(__GNUC__)
#define ZT_PICBUF_AVX512 1
// GCC 12's AVX-512 header fills "undefined" vectors from themselves, which its own warnings
// then call uninitialised.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

namespace {

bool IsSupportedFormat(std::uint32_t bits, std::uint32_t components) {
    if (bits == 1 || bits == 4) {
        return components == 1;
    }
    return bits >= 8 && bits <= 16 && (components == 1 || components == 3);
}

std::uint64_t RowBytes(std::uint32_t width, std::uint32_t bits, std::uint32_t components) {
    if (bits == 1) {
        return (std::uint64_t{width} + 7) / 8;
    }
    if (bits == 4) {
        return (std::uint64_t{width} + 1) / 2;
    }
    return std::uint64_t{width} * components * (bits > 8 ? 2 : 1);
}

bool IsValid(const SZtPicBuf* pic) {
    return pic && pic->data && pic->width > 0 && pic->height > 0 &&
           IsSupportedFormat(pic->bitsPerComponent, pic->components) &&
           pic->stride >= RowBytes(pic->width, pic->bitsPerComponent, pic->components);
}

// The byte-addressed formats that copy-rectangle and stretch work on.
bool IsWholeBytes(const SZtPicBuf* pic) {
    return IsValid(pic) && pic->bitsPerComponent >= 8;
}

std::uint32_t MaxValue(std::uint32_t bits) {
    return (1u << bits) - 1;
}

// Unchecked component read and write for coordinates known to be inside the picture.
std::uint32_t Read(const SZtPicBuf& pic, std::uint32_t x, std::uint32_t y, std::uint32_t c) {
    const std::uint8_t* row = pic.Row(y);
    switch (pic.bitsPerComponent) {
        case 1:
            return (row[x / 8] >> (7 - x % 8)) & 1u;
        case 4:
            return x % 2 == 0 ? row[x / 2] >> 4 : row[x / 2] & 0xFu;
        case 8:
            return row[std::size_t{x} * pic.components + c];
        default: {
            std::uint16_t value;
            std::memcpy(&value, row + (std::size_t{x} * pic.components + c) * 2, 2);
            return value;
        }
    }
}

void Write(SZtPicBuf& pic, std::uint32_t x, std::uint32_t y, std::uint32_t c, std::uint32_t value) {
    std::uint8_t* row = pic.Row(y);
    switch (pic.bitsPerComponent) {
        case 1: {
            const std::uint8_t bit = static_cast<std::uint8_t>(0x80u >> (x % 8));
            row[x / 8] = value ? (row[x / 8] | bit) : (row[x / 8] & ~bit);
            break;
        }
        case 4: {
            std::uint8_t& byte = row[x / 2];
            byte = x % 2 == 0 ? static_cast<std::uint8_t>((byte & 0x0F) | (value << 4))
                              : static_cast<std::uint8_t>((byte & 0xF0) | value);
            break;
        }
        case 8:
            row[std::size_t{x} * pic.components + c] = static_cast<std::uint8_t>(value);
            break;
        default: {
            const std::uint16_t narrow = static_cast<std::uint16_t>(value);
            std::memcpy(row + (std::size_t{x} * pic.components + c) * 2, &narrow, 2);
            break;
        }
    }
}

std::uint32_t ConvertDepth(std::uint32_t value, std::uint32_t from, std::uint32_t to) {
    // A 1-bit picture is a mask: its values stay 0 and 1.
    if (from == 1 || from == to) {
        return value;
    }
    if (from > to) {
        return value >> (from - to);
    }
    const std::uint64_t fromMax = MaxValue(from);
    return static_cast<std::uint32_t>((value * std::uint64_t{MaxValue(to)} + fromMax / 2) /
                                      fromMax);
}

// One source pixel's share of a target pixel along one axis.
struct Tap {
    std::uint32_t index;
    std::uint32_t weight;
};

// Area weights along an axis of n source pixels resized to m: target pixel i covers
// [i * n, (i + 1) * n) and source pixel k covers [k * m, (k + 1) * m) in units of 1 / (n * m) of
// the axis; the overlaps are the weights, which sum to n for every target pixel.
std::vector<std::vector<Tap>> AreaTaps(std::uint32_t n, std::uint32_t m) {
    std::vector<std::vector<Tap>> taps(m);
    for (std::uint64_t i = 0; i < m; ++i) {
        const std::uint64_t begin = i * n;
        const std::uint64_t end = begin + n;
        for (std::uint64_t k = begin / m; k * m < end; ++k) {
            const std::uint64_t overlap = std::min(end, (k + 1) * m) - std::max(begin, k * m);
            taps[i].push_back({static_cast<std::uint32_t>(k), static_cast<std::uint32_t>(overlap)});
        }
    }
    return taps;
}

// Alloc; pictures whose every pixel is written next skip the zero fill.
int AllocPixels(SZtPicBuf* pic, std::uint32_t width, std::uint32_t height,
                std::uint32_t bitsPerComponent, std::uint32_t components, bool zeroFill) {
    if (!pic || width == 0 || height == 0 || !IsSupportedFormat(bitsPerComponent, components)) {
        return ZT_PIC_INVALID_ARG;
    }
    CZtPicBufAPI::Free(pic);
    const std::uint64_t rowBytes = RowBytes(width, bitsPerComponent, components);
    if (rowBytes > ZT_PICBUF_MAX_BYTES || rowBytes * height > ZT_PICBUF_MAX_BYTES) {
        return ZT_PIC_ALLOC_FAILED;
    }
    std::uint8_t* data = zeroFill ? new (std::nothrow) std::uint8_t[rowBytes * height]()
                                  : new (std::nothrow) std::uint8_t[rowBytes * height];
    if (!data) {
        return ZT_PIC_ALLOC_FAILED;
    }
    pic->width = width;
    pic->height = height;
    pic->stride = static_cast<std::uint32_t>(rowBytes);
    pic->bitsPerComponent = bitsPerComponent;
    pic->components = components;
    pic->data = data;
    pic->ownsData = true;
    return ZT_PIC_OK;
}

// Whether an operation may write its result straight into dst: a picture of its own, apart from
// src, that already has the result's format and size. Otherwise the result is built aside.
bool IsOwnTarget(const SZtPicBuf* src, const SZtPicBuf* dst, std::uint32_t width,
                 std::uint32_t height, std::uint32_t bitsPerComponent, std::uint32_t components) {
    return dst != src && dst->ownsData && IsValid(dst) && dst->data != src->data &&
           dst->width == width && dst->height == height &&
           dst->bitsPerComponent == bitsPerComponent && dst->components == components;
}

}  // namespace

int CZtPicBufAPI::Alloc(SZtPicBuf* pic, std::uint32_t width, std::uint32_t height,
                        std::uint32_t bitsPerComponent, std::uint32_t components) {
    return AllocPixels(pic, width, height, bitsPerComponent, components, true);
}

int CZtPicBufAPI::Free(SZtPicBuf* pic) {
    if (!pic) {
        return ZT_PIC_INVALID_ARG;
    }
    if (pic->ownsData) {
        delete[] pic->data;
    }
    pic->width = pic->height = pic->stride = pic->bitsPerComponent = pic->components = 0;
    pic->data = nullptr;
    pic->ownsData = false;
    return ZT_PIC_OK;
}

int CZtPicBufAPI::Zero(SZtPicBuf* pic) {
    if (!IsValid(pic)) {
        return ZT_PIC_INVALID_ARG;
    }
    const std::size_t rowBytes = RowBytes(pic->width, pic->bitsPerComponent, pic->components);
    for (std::uint32_t y = 0; y < pic->height; ++y) {
        std::memset(pic->Row(y), 0, rowBytes);
    }
    return ZT_PIC_OK;
}

int CZtPicBufAPI::Copy(const SZtPicBuf* src, SZtPicBuf* dst) {
    if (!IsValid(src) || !dst) {
        return ZT_PIC_INVALID_ARG;
    }
    if (src == dst) {
        return ZT_PIC_OK;
    }
    SZtPicBuf copy;
    const int status =
        AllocPixels(&copy, src->width, src->height, src->bitsPerComponent, src->components, false);
    if (status != ZT_PIC_OK) {
        return status;
    }
    for (std::uint32_t y = 0; y < src->height; ++y) {
        std::memcpy(copy.Row(y), src->Row(y), copy.stride);
    }
    *dst = std::move(copy);
    return ZT_PIC_OK;
}

int CZtPicBufAPI::CopyRect(const SZtPicBuf* src, int srcX, int srcY, int width, int height,
                           SZtPicBuf* dst, int dstX, int dstY) {
    if (!IsWholeBytes(src) || !IsWholeBytes(dst) ||
        src->bitsPerComponent != dst->bitsPerComponent || src->components != dst->components) {
        return ZT_PIC_INVALID_ARG;
    }
    // Clip in 64 bits so that no coordinate sum can overflow.
    std::int64_t sx = srcX, sy = srcY, dx = dstX, dy = dstY, w = width, h = height;
    const auto clipStart = [](std::int64_t& s, std::int64_t& d, std::int64_t& length) {
        const std::int64_t cut = std::max<std::int64_t>({0, -s, -d});
        s += cut;
        d += cut;
        length -= cut;
    };
    clipStart(sx, dx, w);
    clipStart(sy, dy, h);
    w = std::min({w, std::int64_t{src->width} - sx, std::int64_t{dst->width} - dx});
    h = std::min({h, std::int64_t{src->height} - sy, std::int64_t{dst->height} - dy});
    if (w <= 0 || h <= 0) {
        return ZT_PIC_OK;
    }
    const std::size_t pixelBytes =
        std::size_t{src->components} * (src->bitsPerComponent > 8 ? 2 : 1);
    // Within one picture a part moved down is copied bottom-up so that rows are read before
    // they are overwritten.
    const bool bottomUp = src->data == dst->data && dy > sy;
    for (std::int64_t i = 0; i < h; ++i) {
        const std::int64_t row = bottomUp ? h - 1 - i : i;
        std::memmove(dst->Row(static_cast<std::uint32_t>(dy + row)) + dx * pixelBytes,
                     src->Row(static_cast<std::uint32_t>(sy + row)) + sx * pixelBytes,
                     w * pixelBytes);
    }
    return ZT_PIC_OK;
}

int CZtPicBufAPI::Stretch(const SZtPicBuf* src, SZtPicBuf* dst, std::uint32_t newWidth,
                          std::uint32_t newHeight, int interpolation) {
    if (!IsWholeBytes(src) || !dst || newWidth == 0 || newHeight == 0 ||
        (interpolation != ZT_INTERPOLATION_NEAREST && interpolation != ZT_INTERPOLATION_AREA)) {
        return ZT_PIC_INVALID_ARG;
    }
    SZtPicBuf out;
    const int status = Alloc(&out, newWidth, newHeight, src->bitsPerComponent, src->components);
    if (status != ZT_PIC_OK) {
        return status;
    }
    const std::uint32_t components = src->components;
    if (interpolation == ZT_INTERPOLATION_NEAREST) {
        for (std::uint32_t y = 0; y < newHeight; ++y) {
            const auto sy = static_cast<std::uint32_t>((2 * std::uint64_t{y} + 1) * src->height /
                                                       (2 * std::uint64_t{newHeight}));
            for (std::uint32_t x = 0; x < newWidth; ++x) {
                const auto sx = static_cast<std::uint32_t>((2 * std::uint64_t{x} + 1) * src->width /
                                                           (2 * std::uint64_t{newWidth}));
                for (std::uint32_t c = 0; c < components; ++c) {
                    Write(out, x, y, c, Read(*src, sx, sy, c));
                }
            }
        }
    } else {
        const auto tapsX = AreaTaps(src->width, newWidth);
        const auto tapsY = AreaTaps(src->height, newHeight);
        const std::uint64_t total = std::uint64_t{src->width} * src->height;
        for (std::uint32_t y = 0; y < newHeight; ++y) {
            for (std::uint32_t x = 0; x < newWidth; ++x) {
                for (std::uint32_t c = 0; c < components; ++c) {
                    std::uint64_t sum = 0;
                    for (const Tap& ty : tapsY[y]) {
                        for (const Tap& tx : tapsX[x]) {
                            sum += std::uint64_t{Read(*src, tx.index, ty.index, c)} * tx.weight *
                                   ty.weight;
                        }
                    }
                    Write(out, x, y, c, static_cast<std::uint32_t>((sum + total / 2) / total));
                }
            }
        }
    }
    *dst = std::move(out);
    return ZT_PIC_OK;
}

int CZtPicBufAPI::ConvertBpcAndComp(SZtPicBuf* pic, std::uint32_t bitsPerComponent,
                                    std::uint32_t components) {
    return ConvertBpcAndComp(pic, pic, bitsPerComponent, components);
}

int CZtPicBufAPI::ConvertBpcAndComp(const SZtPicBuf* src, SZtPicBuf* dst,
                                    std::uint32_t bitsPerComponent, std::uint32_t components) {
    if (!IsValid(src) || !dst || (bitsPerComponent != 8 && bitsPerComponent != 16) ||
        (components != 1 && components != 3)) {
        return ZT_PIC_INVALID_ARG;
    }
    const std::uint32_t from = src->bitsPerComponent;
    const bool sameFormat = from == bitsPerComponent && src->components == components;
    if (sameFormat && src == dst && dst->ownsData) {
        return ZT_PIC_OK;
    }
    const bool inPlace =
        IsOwnTarget(src, dst, src->width, src->height, bitsPerComponent, components);
    SZtPicBuf aside;
    if (!inPlace) {
        const int status =
            AllocPixels(&aside, src->width, src->height, bitsPerComponent, components, false);
        if (status != ZT_PIC_OK) {
            return status;
        }
    }
    SZtPicBuf& out = inPlace ? *dst : aside;
    if (sameFormat) {
        const std::size_t rowBytes = RowBytes(src->width, from, components);
        for (std::uint32_t y = 0; y < src->height; ++y) {
            std::memcpy(out.Row(y), src->Row(y), rowBytes);
        }
    } else if (src->components == 1 && components == 1 && from >= 8 && bitsPerComponent == 16) {
        // Grey camera frames to 16 bits, the analysis' working depth: one table lookup per pixel,
        // in a loop of its own for each storage.
        std::vector<std::uint16_t> table(std::size_t{1} << from);
        for (std::uint32_t v = 0; v < table.size(); ++v) {
            table[v] = static_cast<std::uint16_t>(ConvertDepth(v, from, 16));
        }
        const std::uint32_t top = MaxValue(from);
        for (std::uint32_t y = 0; y < src->height; ++y) {
            auto* row = reinterpret_cast<std::uint16_t*>(out.Row(y));
            if (from == 8) {
                const std::uint8_t* in = src->Row(y);
                for (std::uint32_t x = 0; x < src->width; ++x) {
                    row[x] = table[in[x]];
                }
            } else {
                const auto* in = reinterpret_cast<const std::uint16_t*>(src->Row(y));
                for (std::uint32_t x = 0; x < src->width; ++x) {
                    row[x] = table[std::min<std::uint32_t>(in[x], top)];
                }
            }
        }
    } else {
        for (std::uint32_t y = 0; y < src->height; ++y) {
            for (std::uint32_t x = 0; x < src->width; ++x) {
                std::uint32_t value[3];
                for (std::uint32_t c = 0; c < src->components; ++c) {
                    value[c] = ConvertDepth(Read(*src, x, y, c), from, bitsPerComponent);
                }
                if (src->components == 3 && components == 1) {
                    value[0] = (299 * value[0] + 587 * value[1] + 114 * value[2] + 500) / 1000;
                } else if (src->components == 1 && components == 3) {
                    value[1] = value[2] = value[0];
                }
                for (std::uint32_t c = 0; c < components; ++c) {
                    Write(out, x, y, c, value[c]);
                }
            }
        }
    }
    if (!inPlace) {
        *dst = std::move(aside);
    }
    return ZT_PIC_OK;
}

int CZtPicBufAPI::MultiplyC(SZtPicBuf* pic, std::uint32_t factor) {
    if (!IsValid(pic)) {
        return ZT_PIC_INVALID_ARG;
    }
    const std::uint64_t maxValue = MaxValue(pic->bitsPerComponent);
    for (std::uint32_t y = 0; y < pic->height; ++y) {
        for (std::uint32_t x = 0; x < pic->width; ++x) {
            for (std::uint32_t c = 0; c < pic->components; ++c) {
                const std::uint64_t value = std::uint64_t{Read(*pic, x, y, c)} * factor;
                Write(*pic, x, y, c, static_cast<std::uint32_t>(std::min(value, maxValue)));
            }
        }
    }
    return ZT_PIC_OK;
}

std::uint32_t CZtPicBufAPI::GetValue(const SZtPicBuf* pic, std::uint32_t x, std::uint32_t y,
                                     std::uint32_t component) {
    if (!IsValid(pic) || x >= pic->width || y >= pic->height || component >= pic->components) {
        return 0;
    }
    return Read(*pic, x, y, component);
}

int CZtPicBufAPI::SetValue(SZtPicBuf* pic, std::uint32_t x, std::uint32_t y, std::uint32_t value,
                           std::uint32_t component) {
    if (!IsValid(pic) || x >= pic->width || y >= pic->height || component >= pic->components) {
        return ZT_PIC_INVALID_ARG;
    }
    Write(*pic, x, y, component, std::min(value, MaxValue(pic->bitsPerComponent)));
    return ZT_PIC_OK;
}

namespace {

#ifdef ZT_PICBUF_AVX512
std::atomic<bool> g_avx512Allowed{true};
std::atomic<bool> g_avx2Allowed{true};
#endif

// The widest vector steps the picture operations take: chosen once per call.
enum class Vectors { kSse2, kAvx2, kAvx512 };

Vectors WidestVectors() {
#ifdef ZT_PICBUF_AVX512
    // AVX-512 steps run only on processors that have the foundation and 16-bit instructions.
    static const bool avx512 =
        __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx512 && g_avx512Allowed.load(std::memory_order_relaxed)) {
        return Vectors::kAvx512;
    }
    if (avx2 && g_avx2Allowed.load(std::memory_order_relaxed)) {
        return Vectors::kAvx2;
    }
#endif
    return Vectors::kSse2;
}

// Each vector step below starts at x, handles as many whole vectors as fit before the end and
// returns where it stopped: the 64-byte steps go first, the 16-byte steps take the rest, and a
// plain loop the last few pixels.

#ifdef ZT_PICBUF_AVX512
// ShiftColumns in sixteen columns at a time, from x = 0. Within a vector the running sum adds
// the lanes 1, 2, 4 and 8 places before each lane; only the carried total is a chain from one
// step to the next.
__attribute__((target("avx512f,avx512bw"))) std::uint32_t ShiftColumnsAvx512(
    std::uint32_t* columns, const std::uint16_t* entering, const std::uint16_t* leaving,
    std::uint32_t width, std::uint32_t* prefix) {
    const __m512i zero = _mm512_setzero_si512();
    const __m512i lastLane = _mm512_set1_epi32(15);
    __m512i carry = zero;
    std::uint32_t x = 0;
    for (; x + 16 <= width; x += 16) {
        __m512i sums = _mm512_loadu_si512(columns + x);
        if (entering) {
            sums = _mm512_add_epi32(sums, _mm512_cvtepu16_epi32(_mm256_loadu_si256(
                                              reinterpret_cast<const __m256i*>(entering + x))));
        }
        if (leaving) {
            sums = _mm512_sub_epi32(sums, _mm512_cvtepu16_epi32(_mm256_loadu_si256(
                                              reinterpret_cast<const __m256i*>(leaving + x))));
        }
        _mm512_storeu_si512(columns + x, sums);
        sums = _mm512_add_epi32(sums, _mm512_alignr_epi32(sums, zero, 15));
        sums = _mm512_add_epi32(sums, _mm512_alignr_epi32(sums, zero, 14));
        sums = _mm512_add_epi32(sums, _mm512_alignr_epi32(sums, zero, 12));
        sums = _mm512_add_epi32(sums, _mm512_alignr_epi32(sums, zero, 8));
        _mm512_storeu_si512(prefix + x + 1, _mm512_add_epi32(sums, carry));
        carry = _mm512_add_epi32(carry, _mm512_permutexvar_epi32(lastLane, sums));
    }
    return x;
}
#endif

#ifdef ZT_PICBUF_AVX512
// ShiftColumns in eight columns at a time, from x = 0: the running sum within each half of the
// vector first, then the lower half's total added to the upper half.
__attribute__((target("avx2"))) std::uint32_t ShiftColumnsAvx2(std::uint32_t* columns,
                                                               const std::uint16_t* entering,
                                                               const std::uint16_t* leaving,
                                                               std::uint32_t width,
                                                               std::uint32_t* prefix) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i lowerLast = _mm256_set1_epi32(3);
    const __m256i last = _mm256_set1_epi32(7);
    __m256i carry = zero;
    std::uint32_t x = 0;
    for (; x + 8 <= width; x += 8) {
        __m256i sums = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(columns + x));
        if (entering) {
            sums = _mm256_add_epi32(sums, _mm256_cvtepu16_epi32(_mm_loadu_si128(
                                              reinterpret_cast<const __m128i*>(entering + x))));
        }
        if (leaving) {
            sums = _mm256_sub_epi32(sums, _mm256_cvtepu16_epi32(_mm_loadu_si128(
                                              reinterpret_cast<const __m128i*>(leaving + x))));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(columns + x), sums);
        sums = _mm256_add_epi32(sums, _mm256_slli_si256(sums, 4));
        sums = _mm256_add_epi32(sums, _mm256_slli_si256(sums, 8));
        sums = _mm256_add_epi32(
            sums, _mm256_blend_epi32(zero, _mm256_permutevar8x32_epi32(sums, lowerLast), 0xF0));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(prefix + x + 1),
                            _mm256_add_epi32(sums, carry));
        carry = _mm256_add_epi32(carry, _mm256_permutevar8x32_epi32(sums, last));
    }
    return x;
}
#endif

#ifdef ZT_PICBUF_SSE2
// ShiftColumns in eight columns at a time, in two vectors, going on from prefix[x].
std::uint32_t ShiftColumnsSse2(std::uint32_t* columns, const std::uint16_t* entering,
                               const std::uint16_t* leaving, std::uint32_t width,
                               std::uint32_t* prefix, std::uint32_t x) {
    const __m128i zero = _mm_setzero_si128();
    const auto shifted = [&](std::uint32_t at) {
        __m128i sums = _mm_loadu_si128(reinterpret_cast<const __m128i*>(columns + at));
        if (entering) {
            const __m128i in = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(entering + at));
            sums = _mm_add_epi32(sums, _mm_unpacklo_epi16(in, zero));
        }
        if (leaving) {
            const __m128i out = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(leaving + at));
            sums = _mm_sub_epi32(sums, _mm_unpacklo_epi16(out, zero));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(columns + at), sums);
        sums = _mm_add_epi32(sums, _mm_slli_si128(sums, 4));
        return _mm_add_epi32(sums, _mm_slli_si128(sums, 8));
    };
    __m128i carry = _mm_set1_epi32(static_cast<int>(prefix[x]));
    for (; x + 8 <= width; x += 8) {
        const __m128i low = shifted(x);
        const __m128i high = _mm_add_epi32(shifted(x + 4), _mm_shuffle_epi32(low, 0xFF));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(prefix + x + 1), _mm_add_epi32(low, carry));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(prefix + x + 5), _mm_add_epi32(high, carry));
        carry = _mm_add_epi32(carry, _mm_shuffle_epi32(high, 0xFF));
    }
    return x;
}
#endif

// Moves the window's column sums one row down, adding the entering row and taking out the leaving
// one (either may be null), and writes their running sums along the row: prefix[x] = columns[0]
// + ... + columns[x - 1], modulo 2^32.
void ShiftColumns(std::uint32_t* columns, const std::uint16_t* entering,
                  const std::uint16_t* leaving, std::uint32_t width, std::uint32_t* prefix,
                  Vectors vectors) {
    prefix[0] = 0;
    std::uint32_t x = 0;
#ifdef ZT_PICBUF_AVX512
    if (vectors == Vectors::kAvx512) {
        x = ShiftColumnsAvx512(columns, entering, leaving, width, prefix);
    } else if (vectors == Vectors::kAvx2) {
        x = ShiftColumnsAvx2(columns, entering, leaving, width, prefix);
    }
#endif
#ifdef ZT_PICBUF_SSE2
    x = ShiftColumnsSse2(columns, entering, leaving, width, prefix, x);
#endif
    for (; x < width; ++x) {
        columns[x] += (entering ? entering[x] : 0u) - (leaving ? leaving[x] : 0u);
        prefix[x + 1] = prefix[x] + columns[x];
    }
}

// The mean of count values summing to sum, rounded half up: floor((2 sum + count) / (2 count)).
inline std::uint16_t RoundedMean(std::uint32_t sum, std::uint32_t count) {
    return static_cast<std::uint16_t>((2 * std::uint64_t{sum} + count) /
                                      (2 * std::uint64_t{count}));
}

// The vector steps divide (2 sum + count) by 2 count as the high half of its product with
// ceil(2^32 / (2 count)); exact while the dividend times the divisor stays below 2^32, as the
// error then stays below one divisor's part. With sums of up to 65535 count, that holds for
// count <= 128.
constexpr std::uint32_t kMaxVectorCount = 128;

#ifdef ZT_PICBUF_SSE2
std::uint32_t Reciprocal(std::uint32_t count) {
    return static_cast<std::uint32_t>(((std::uint64_t{1} << 32) + 2 * count - 1) / (2 * count));
}
#endif

#ifdef ZT_PICBUF_AVX512
// RoundedMean of the window sums prefix[x + window] - prefix[x] for count pixels each, sixteen at
// a time from begin.
__attribute__((target("avx512f,avx512bw"))) std::int64_t RoundedMeansAvx512(
    const std::uint32_t* prefix, std::int64_t window, std::uint32_t count, std::int64_t begin,
    std::int64_t end, std::uint16_t* out) {
    const __m512i counts = _mm512_set1_epi32(static_cast<int>(count));
    const __m512i reciprocal = _mm512_set1_epi32(static_cast<int>(Reciprocal(count)));
    std::int64_t x = begin;
    for (; x + 16 <= end; x += 16) {
        const __m512i sums = _mm512_sub_epi32(_mm512_loadu_si512(prefix + x + window),
                                              _mm512_loadu_si512(prefix + x));
        const __m512i n = _mm512_add_epi32(_mm512_add_epi32(sums, sums), counts);
        const __m512i even = _mm512_srli_epi64(_mm512_mul_epu32(n, reciprocal), 32);
        const __m512i odd = _mm512_mul_epu32(_mm512_srli_epi64(n, 32), reciprocal);
        const __m512i means = _mm512_mask_blend_epi32(0xAAAA, even, odd);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), _mm512_cvtepi32_epi16(means));
    }
    return x;
}
#endif

#ifdef ZT_PICBUF_AVX512
// RoundedMeansAvx512 eight at a time.
__attribute__((target("avx2"))) std::int64_t RoundedMeansAvx2(const std::uint32_t* prefix,
                                                              std::int64_t window,
                                                              std::uint32_t count,
                                                              std::int64_t begin, std::int64_t end,
                                                              std::uint16_t* out) {
    const __m256i counts = _mm256_set1_epi32(static_cast<int>(count));
    const __m256i reciprocal = _mm256_set1_epi32(static_cast<int>(Reciprocal(count)));
    std::int64_t x = begin;
    for (; x + 8 <= end; x += 8) {
        const __m256i sums = _mm256_sub_epi32(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(prefix + x + window)),
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(prefix + x)));
        const __m256i n = _mm256_add_epi32(_mm256_add_epi32(sums, sums), counts);
        const __m256i even = _mm256_srli_epi64(_mm256_mul_epu32(n, reciprocal), 32);
        const __m256i odd = _mm256_mul_epu32(_mm256_srli_epi64(n, 32), reciprocal);
        const __m256i means = _mm256_blend_epi32(even, odd, 0xAA);
        // Packing works within halves: the two halves' four words each, brought together.
        const __m256i words = _mm256_permute4x64_epi64(_mm256_packus_epi32(means, means), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm256_castsi256_si128(words));
    }
    return x;
}
#endif

#ifdef ZT_PICBUF_SSE2
// floor(n / d) in four lanes as the high half of n * m with m = Reciprocal.
inline __m128i DivideLanes(__m128i n, __m128i m) {
    const __m128i even = _mm_srli_epi64(_mm_mul_epu32(n, m), 32);
    const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(n, 32), m);
    return _mm_or_si128(even, _mm_and_si128(odd, _mm_set_epi32(-1, 0, -1, 0)));
}

// RoundedMeansAvx512 in eight lanes.
std::int64_t RoundedMeansSse2(const std::uint32_t* prefix, std::int64_t window, std::uint32_t count,
                              std::int64_t begin, std::int64_t end, std::uint16_t* out) {
    const __m128i counts = _mm_set1_epi32(static_cast<int>(count));
    const __m128i reciprocal = _mm_set1_epi32(static_cast<int>(Reciprocal(count)));
    const __m128i bias32 = _mm_set1_epi32(0x8000);
    const __m128i bias16 = _mm_set1_epi16(static_cast<short>(0x8000));
    const auto mean = [&](std::int64_t x) {
        const __m128i sums =
            _mm_sub_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(prefix + x + window)),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(prefix + x)));
        const __m128i means =
            DivideLanes(_mm_add_epi32(_mm_add_epi32(sums, sums), counts), reciprocal);
        // SSE2 packs only signed 32-bit lanes: shift the means into their range and back.
        return _mm_sub_epi32(means, bias32);
    };
    std::int64_t x = begin;
    for (; x + 8 <= end; x += 8) {
        const __m128i packed = _mm_add_epi16(_mm_packs_epi32(mean(x), mean(x + 4)), bias16);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), packed);
    }
    return x;
}
#endif

// Sums of the values of a stretch of a row taken as signed offsets b = v - 32768, and of their
// squares.
struct SOffsetSums {
    std::int64_t sum = 0;
    std::uint64_t squares = 0;
};

#ifdef ZT_PICBUF_AVX512
// Offset sums of 32 values at a time from x = 0 (see SumOffsetsSse2).
__attribute__((target("avx512f,avx512bw"))) std::uint32_t SumOffsetsAvx512(const std::uint16_t* in,
                                                                           std::uint32_t width,
                                                                           SOffsetSums* sums) {
    const __m512i bias = _mm512_set1_epi16(static_cast<short>(0x8000));
    const __m512i ones = _mm512_set1_epi16(1);
    const __m512i zero = _mm512_setzero_si512();
    __m512i offsets = zero;
    __m512i offsetSquares = zero;
    std::uint32_t x = 0;
    for (; x + 32 <= width; x += 32) {
        const __m512i b = _mm512_xor_si512(_mm512_loadu_si512(in + x), bias);
        const __m512i squarePairs = _mm512_madd_epi16(b, b);
        offsetSquares = _mm512_add_epi64(offsetSquares, _mm512_unpacklo_epi32(squarePairs, zero));
        offsetSquares = _mm512_add_epi64(offsetSquares, _mm512_unpackhi_epi32(squarePairs, zero));
        const __m512i pairs = _mm512_madd_epi16(b, ones);
        const __m512i signs = _mm512_srai_epi32(pairs, 31);
        offsets = _mm512_add_epi64(offsets, _mm512_unpacklo_epi32(pairs, signs));
        offsets = _mm512_add_epi64(offsets, _mm512_unpackhi_epi32(pairs, signs));
    }
    sums->sum += _mm512_reduce_add_epi64(offsets);
    sums->squares += static_cast<std::uint64_t>(_mm512_reduce_add_epi64(offsetSquares));
    return x;
}
#endif

#ifdef ZT_PICBUF_AVX512
// Offset sums of 16 values at a time from x = 0 (see SumOffsetsSse2).
__attribute__((target("avx2"))) std::uint32_t SumOffsetsAvx2(const std::uint16_t* in,
                                                             std::uint32_t width,
                                                             SOffsetSums* sums) {
    const __m256i bias = _mm256_set1_epi16(static_cast<short>(0x8000));
    const __m256i ones = _mm256_set1_epi16(1);
    const __m256i zero = _mm256_setzero_si256();
    __m256i offsets = zero;
    __m256i offsetSquares = zero;
    std::uint32_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m256i b =
            _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + x)), bias);
        const __m256i squarePairs = _mm256_madd_epi16(b, b);
        offsetSquares = _mm256_add_epi64(offsetSquares, _mm256_unpacklo_epi32(squarePairs, zero));
        offsetSquares = _mm256_add_epi64(offsetSquares, _mm256_unpackhi_epi32(squarePairs, zero));
        const __m256i pairs = _mm256_madd_epi16(b, ones);
        const __m256i signs = _mm256_srai_epi32(pairs, 31);
        offsets = _mm256_add_epi64(offsets, _mm256_unpacklo_epi32(pairs, signs));
        offsets = _mm256_add_epi64(offsets, _mm256_unpackhi_epi32(pairs, signs));
    }
    alignas(32) std::int64_t offsetLanes[4];
    alignas(32) std::uint64_t squareLanes[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(offsetLanes), offsets);
    _mm256_store_si256(reinterpret_cast<__m256i*>(squareLanes), offsetSquares);
    for (int i = 0; i < 4; ++i) {
        sums->sum += offsetLanes[i];
        sums->squares += squareLanes[i];
    }
    return x;
}
#endif

#ifdef ZT_PICBUF_SSE2
// Offset sums of eight values at a time: SSE2 multiplies and adds pairs of signed 16-bit lanes,
// and b^2 + b'^2 <= 2^31 still fits an unsigned 32-bit lane.
std::uint32_t SumOffsetsSse2(const std::uint16_t* in, std::uint32_t width, SOffsetSums* sums,
                             std::uint32_t x) {
    const __m128i bias = _mm_set1_epi16(static_cast<short>(0x8000));
    const __m128i ones = _mm_set1_epi16(1);
    const __m128i zero = _mm_setzero_si128();
    __m128i offsets = zero;
    __m128i offsetSquares = zero;
    for (; x + 8 <= width; x += 8) {
        const __m128i b =
            _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x)), bias);
        const __m128i squarePairs = _mm_madd_epi16(b, b);
        offsetSquares = _mm_add_epi64(offsetSquares, _mm_unpacklo_epi32(squarePairs, zero));
        offsetSquares = _mm_add_epi64(offsetSquares, _mm_unpackhi_epi32(squarePairs, zero));
        const __m128i pairs = _mm_madd_epi16(b, ones);
        const __m128i signs = _mm_srai_epi32(pairs, 31);
        offsets = _mm_add_epi64(offsets, _mm_unpacklo_epi32(pairs, signs));
        offsets = _mm_add_epi64(offsets, _mm_unpackhi_epi32(pairs, signs));
    }
    alignas(16) std::int64_t offsetLanes[2];
    alignas(16) std::uint64_t squareLanes[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(offsetLanes), offsets);
    _mm_store_si128(reinterpret_cast<__m128i*>(squareLanes), offsetSquares);
    sums->sum += offsetLanes[0] + offsetLanes[1];
    sums->squares += squareLanes[0] + squareLanes[1];
    return x;
}
#endif

}  // namespace

namespace zthost {

void SetAvx512Allowed(bool allowed) {
#ifdef ZT_PICBUF_AVX512
    g_avx512Allowed.store(allowed, std::memory_order_relaxed);
#endif
}

void SetAvx2Allowed(bool allowed) {
#ifdef ZT_PICBUF_AVX512
    g_avx2Allowed.store(allowed, std::memory_order_relaxed);
#endif
}

}  // namespace zthost

int CZtPicBufAPI::SmoothSquare(const SZtPicBuf* src, SZtPicBuf* dst, std::uint32_t size) {
    if (!IsValid(src) || !dst || src->components != 1 || src->bitsPerComponent <= 8 || size == 0 ||
        size > 255) {
        return ZT_PIC_INVALID_ARG;
    }
    const std::uint32_t width = src->width;
    const std::uint32_t height = src->height;
    const bool inPlace = IsOwnTarget(src, dst, width, height, src->bitsPerComponent, 1);
    SZtPicBuf aside;
    if (!inPlace) {
        const int status = AllocPixels(&aside, width, height, src->bitsPerComponent, 1, false);
        if (status != ZT_PIC_OK) {
            return status;
        }
    }
    SZtPicBuf& out = inPlace ? *dst : aside;
    // The sums of each column over the window's rows, and their running sum along the row
    // (prefix[x] = columns 0 .. x - 1), so that every window sum is a difference of two entries.
    // The running sum may wrap around; a window's sum stays below 255^2 * 65535 < 2^32, so the
    // difference is still exact.
    std::unique_ptr<std::uint32_t[]> buffer(new (std::nothrow) std::uint32_t[2 * width + 1]());
    if (!buffer) {
        return ZT_PIC_ALLOC_FAILED;
    }
    std::uint32_t* columns = buffer.get();
    std::uint32_t* prefix = columns + width;
    const auto row = [src](std::int64_t y) {
        return reinterpret_cast<const std::uint16_t*>(src->Row(static_cast<std::uint32_t>(y)));
    };
    const Vectors vectors = WidestVectors();
    const std::int64_t before = size / 2;
    const std::int64_t after = size - 1 - before;
    const std::int64_t lastX = std::int64_t{width} - 1;
    const std::int64_t lastY = std::int64_t{height} - 1;
    for (std::int64_t y = 0; y < std::min(after, lastY + 1); ++y) {
        ShiftColumns(columns, row(y), nullptr, width, prefix, vectors);
    }
    // Inside these columns the window keeps all of its own.
    const std::int64_t innerBegin = std::min<std::int64_t>(before, width);
    const std::int64_t innerEnd = std::max(innerBegin, std::int64_t{width} - after);
    for (std::int64_t y = 0; y <= lastY; ++y) {
        ShiftColumns(columns, y + after <= lastY ? row(y + after) : nullptr,
                     y - 1 - before >= 0 ? row(y - 1 - before) : nullptr, width, prefix, vectors);
        const auto rows = static_cast<std::uint32_t>(std::min(y + after, lastY) -
                                                     std::max(y - before, std::int64_t{0}) + 1);
        auto* smoothed = reinterpret_cast<std::uint16_t*>(out.Row(static_cast<std::uint32_t>(y)));
        const std::uint32_t count = rows * size;
        std::int64_t x = innerBegin;
        if (count <= kMaxVectorCount) {
            // The vector steps count from the window's first column.
            std::int64_t first = innerBegin - before;
#ifdef ZT_PICBUF_AVX512
            if (vectors == Vectors::kAvx512) {
                first = RoundedMeansAvx512(prefix, size, count, first, innerEnd - before,
                                           smoothed + before);
            } else if (vectors == Vectors::kAvx2) {
                first = RoundedMeansAvx2(prefix, size, count, first, innerEnd - before,
                                         smoothed + before);
            }
#endif
#ifdef ZT_PICBUF_SSE2
            first =
                RoundedMeansSse2(prefix, size, count, first, innerEnd - before, smoothed + before);
#endif
            x = first + before;
        }
        for (; x < innerEnd; ++x) {
            smoothed[x] = RoundedMean(prefix[x + after + 1] - prefix[x - before], count);
        }
        // Near the left and right edges the window loses columns.
        const auto atEdge = [&](std::int64_t x) {
            const std::int64_t left = std::max(x - before, std::int64_t{0});
            const std::int64_t right = std::min(x + after, lastX);
            smoothed[x] = RoundedMean(prefix[right + 1] - prefix[left],
                                      rows * static_cast<std::uint32_t>(right - left + 1));
        };
        for (std::int64_t x = 0; x < innerBegin; ++x) {
            atEdge(x);
        }
        for (std::int64_t x = innerEnd; x < width; ++x) {
            atEdge(x);
        }
    }
    if (!inPlace) {
        *dst = std::move(aside);
    }
    return ZT_PIC_OK;
}

int CZtPicBufAPI::GetMeanIntAndVariation(const SZtPicBuf* pic, double* mean, double* variation) {
    if (!IsValid(pic) || !mean || !variation || pic->components != 1 ||
        pic->bitsPerComponent <= 8) {
        return ZT_PIC_INVALID_ARG;
    }
#ifdef ZT_PICBUF_AVX512
    const Vectors vectors = WidestVectors();
#endif
    // Exact integer sums: a picture holds at most 2^29 values of 16 bits, so the squares sum
    // below 2^61.
    std::uint64_t sum = 0;
    std::uint64_t squares = 0;
    for (std::uint32_t y = 0; y < pic->height; ++y) {
        const auto* in = reinterpret_cast<const std::uint16_t*>(pic->Row(y));
        // The vector steps sum b = v - 32768 and b^2; v^2 = b^2 + 65536 b + 2^30.
        SOffsetSums offsets;
        std::uint32_t x = 0;
#ifdef ZT_PICBUF_AVX512
        if (vectors == Vectors::kAvx512) {
            x = SumOffsetsAvx512(in, pic->width, &offsets);
        } else if (vectors == Vectors::kAvx2) {
            x = SumOffsetsAvx2(in, pic->width, &offsets);
        }
#endif
#ifdef ZT_PICBUF_SSE2
        x = SumOffsetsSse2(in, pic->width, &offsets, x);
#endif
        const std::int64_t values = x;
        sum += static_cast<std::uint64_t>(offsets.sum + 32768 * values);
        squares += static_cast<std::uint64_t>(static_cast<std::int64_t>(offsets.squares) +
                                              65536 * offsets.sum + (values << 30));
        for (; x < pic->width; ++x) {
            sum += in[x];
            squares += std::uint32_t{in[x]} * in[x];
        }
    }
    const double count = double(pic->width) * pic->height;
    const double average = sum / count;
    *mean = average;
    *variation = std::sqrt(std::max(0.0, squares / count - average * average));
    return ZT_PIC_OK;
}
