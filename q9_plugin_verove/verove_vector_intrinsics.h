// The x86 vector intrinsics for the steps compiled for AVX-512 and AVX2 beside the plain code.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__)
// GCC 12's AVX-512 header fills "undefined" vectors from themselves, which its own warnings then
// call uninitialised.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif

// The widest vector steps, in bits, that the processor runs and `allowed` (a test's narrowing)
// permits: 512 (AVX-512 F and BW), 256 (AVX2) or 128 (the SSE2 every x86-64 has). A processor
// with AVX-512 F alone takes the AVX2 steps, which give the same results.
inline int UsableVectorBits(int allowed) {
    static const bool avx512 =
        __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx512 && allowed >= 512 ? 512 : avx2 && allowed >= 256 ? 256 : 128;
}
#endif
