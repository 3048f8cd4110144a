// Error diffusion in AVX2 lanes, 16 rows at a time, compiled for AVX2 alone (never with fused
// multiply-adds, which would change the sums); runs only where the processor has AVX2.
#include <immintrin.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

#include "errordiffusion.h"

#if defined(__GNUC__)
#pragma GCC push_options
#pragma GCC target("avx2")

namespace ipp_compat {
namespace {
namespace avx2 {

struct V {
    using F = __m256;
    static constexpr int kFloats = 8;

    static F load(const float* p) { return _mm256_loadu_ps(p); }
    static void store(float* p, F v) { _mm256_storeu_ps(p, v); }
    static F set1(float x) { return _mm256_set1_ps(x); }
    static F add(F a, F b) { return _mm256_add_ps(a, b); }
    static F sub(F a, F b) { return _mm256_sub_ps(a, b); }
    static F mul(F a, F b) { return _mm256_mul_ps(a, b); }
    static F div(F a, F b) { return _mm256_div_ps(a, b); }
    static F min(F a, F b) { return _mm256_min_ps(a, b); }
    static F max(F a, F b) { return _mm256_max_ps(a, b); }

    static F bytesToFloats(const Ipp8u* p) {
        return _mm256_cvtepi32_ps(
            _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
    }

    static void truncate(F v, int* k) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(k), _mm256_cvttps_epi32(v));
    }

    // top where v >= threshold, else 0; the bytes 255 or 0 to out.
    static F upperOrZero(F v, F threshold, F top, Ipp8u* out) {
        const F up = _mm256_cmp_ps(v, threshold, _CMP_GE_OS);
        const __m256i mask = _mm256_castps_si256(up);
        const __m128i words =
            _mm_packs_epi32(_mm256_castsi256_si128(mask), _mm256_extracti128_si256(mask, 1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packs_epi16(words, words));
        return _mm256_and_ps(up, top);
    }

    // e where the lane's column t - lags[lane] lies in 0 ... width - 1, else 0.
    static F keepInside(F e, int t, const int* lags, int width) {
        const __m256i column = _mm256_sub_epi32(
            _mm256_set1_epi32(t), _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lags)));
        const __m256i inside =
            _mm256_and_si256(_mm256_cmpgt_epi32(column, _mm256_set1_epi32(-1)),
                             _mm256_cmpgt_epi32(_mm256_set1_epi32(width), column));
        return _mm256_and_ps(e, _mm256_castsi256_ps(inside));
    }

    static void storeLastTwo(float* p, F e) {
        const __m128 high = _mm256_extractf128_ps(e, 1);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p),
                         _mm_castps_si128(_mm_movehl_ps(high, high)));
    }
};

#include "errordiffusion_steps.h"

}  // namespace avx2
}  // namespace

void DiffuseAvx2(const Picture& p, IppiDitherType dtype, const Ipp8u* value, int levels,
                 const Work& work) {
    avx2::diffuse(p, dtype, value, levels, work);
}

}  // namespace ipp_compat

#pragma GCC pop_options
#else
void ipp_compat::DiffuseAvx2(const Picture& p, IppiDitherType dtype, const Ipp8u* value, int levels,
                             const Work& work) {
    DiffuseSse2(p, dtype, value, levels, work);
}
#endif
