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
#endif
