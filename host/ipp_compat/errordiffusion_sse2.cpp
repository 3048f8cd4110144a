// Error diffusion in SSE2 lanes, 8 rows at a time: the path every x86-64 processor has.
#include <emmintrin.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

#include "errordiffusion.h"

namespace ipp_compat {
namespace {
namespace sse2 {

struct V {
    using F = __m128;
    static constexpr int kFloats = 4;

    static F load(const float* p) { return _mm_loadu_ps(p); }
    static void store(float* p, F v) { _mm_storeu_ps(p, v); }
    static F set1(float x) { return _mm_set1_ps(x); }
    static F add(F a, F b) { return _mm_add_ps(a, b); }
    static F sub(F a, F b) { return _mm_sub_ps(a, b); }
    static F mul(F a, F b) { return _mm_mul_ps(a, b); }
    static F div(F a, F b) { return _mm_div_ps(a, b); }
    static F min(F a, F b) { return _mm_min_ps(a, b); }
    static F max(F a, F b) { return _mm_max_ps(a, b); }

    static F bytesToFloats(const Ipp8u* p) {
        int word;
        std::memcpy(&word, p, sizeof word);
        const __m128i zero = _mm_setzero_si128();
        return _mm_cvtepi32_ps(
            _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(word), zero), zero));
    }

    static void truncate(F v, int* k) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(k), _mm_cvttps_epi32(v));
    }

    // top where v >= threshold, else 0; the bytes 255 or 0 to out.
    static F upperOrZero(F v, F threshold, F top, Ipp8u* out) {
        const F up = _mm_cmpge_ps(v, threshold);
        const __m128i words = _mm_packs_epi32(_mm_castps_si128(up), _mm_castps_si128(up));
        const int bytes = _mm_cvtsi128_si32(_mm_packs_epi16(words, words));
        std::memcpy(out, &bytes, sizeof bytes);
        return _mm_and_ps(up, top);
    }

    // e where the lane's column t - lags[lane] lies in 0 ... width - 1, else 0.
    static F keepInside(F e, int t, const int* lags, int width) {
        const __m128i column = _mm_sub_epi32(
            _mm_set1_epi32(t), _mm_loadu_si128(reinterpret_cast<const __m128i*>(lags)));
        const __m128i inside = _mm_and_si128(_mm_cmpgt_epi32(column, _mm_set1_epi32(-1)),
                                             _mm_cmpgt_epi32(_mm_set1_epi32(width), column));
        return _mm_and_ps(e, _mm_castsi128_ps(inside));
    }

    static void storeLastTwo(float* p, F e) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_castps_si128(_mm_movehl_ps(e, e)));
    }
};

#include "errordiffusion_steps.h"

}  // namespace sse2
}  // namespace

void DiffuseSse2(const Picture& p, IppiDitherType dtype, const Ipp8u* value, int levels,
                 const Work& work) {
    sse2::diffuse(p, dtype, value, levels, work);
}

}  // namespace ipp_compat
