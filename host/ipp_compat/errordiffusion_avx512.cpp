// Error diffusion in AVX-512 lanes, 32 rows at a time, compiled for AVX-512F alone (never with
// fused multiply-adds, which would change the sums); runs only where the processor has it.
#if defined(__GNUC__) && !defined(__clang__)
// GCC 12's AVX-512 header fills "undefined" vectors from themselves, which its own warnings then
// call uninitialised.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

#include "errordiffusion.h"

#if defined(__GNUC__)
#pragma GCC push_options
#pragma GCC target("avx512f")

namespace ipp_compat {
namespace {
namespace avx512 {

struct V {
    using F = __m512;
    static constexpr int kFloats = 16;

    static F load(const float* p) { return _mm512_loadu_ps(p); }
    static void store(float* p, F v) { _mm512_storeu_ps(p, v); }
    static F set1(float x) { return _mm512_set1_ps(x); }
    static F add(F a, F b) { return _mm512_add_ps(a, b); }
    static F sub(F a, F b) { return _mm512_sub_ps(a, b); }
    static F mul(F a, F b) { return _mm512_mul_ps(a, b); }
    static F div(F a, F b) { return _mm512_div_ps(a, b); }
    static F min(F a, F b) { return _mm512_min_ps(a, b); }
    static F max(F a, F b) { return _mm512_max_ps(a, b); }

    static F bytesToFloats(const Ipp8u* p) {
        return _mm512_cvtepi32_ps(
            _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
    }

    static void truncate(F v, int* k) { _mm512_storeu_si512(k, _mm512_cvttps_epi32(v)); }

    // top where v >= threshold, else 0; the bytes 255 or 0 to out.
    static F upperOrZero(F v, F threshold, F top, Ipp8u* out) {
        const __mmask16 up = _mm512_cmp_ps_mask(v, threshold, _CMP_GE_OS);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                         _mm512_cvtepi32_epi8(_mm512_maskz_set1_epi32(up, 255)));
        return _mm512_maskz_mov_ps(up, top);
    }

    // e where the lane's column t - lags[lane] lies in 0 ... width - 1, else 0.
    static F keepInside(F e, int t, const int* lags, int width) {
        const __m512i column = _mm512_sub_epi32(_mm512_set1_epi32(t), _mm512_loadu_si512(lags));
        const __mmask16 inside = _mm512_cmpge_epi32_mask(column, _mm512_setzero_si512()) &
                                 _mm512_cmplt_epi32_mask(column, _mm512_set1_epi32(width));
        return _mm512_maskz_mov_ps(inside, e);
    }

    static void storeLastTwo(float* p, F e) {
        const __m128 high = _mm512_extractf32x4_ps(e, 3);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p),
                         _mm_castps_si128(_mm_movehl_ps(high, high)));
    }
};

#include "errordiffusion_steps.h"

}  // namespace avx512
}  // namespace

void DiffuseAvx512(const Picture& p, IppiDitherType dtype, const Ipp8u* value, int levels,
                   const Work& work) {
    avx512::diffuse(p, dtype, value, levels, work);
}

}  // namespace ipp_compat

#pragma GCC pop_options
#else
void ipp_compat::DiffuseAvx512(const Picture& p, IppiDitherType dtype, const Ipp8u* value,
                               int levels, const Work& work) {
    DiffuseAvx2(p, dtype, value, levels, work);
}
#endif
