// ZT_GetTimeCounter: milliseconds on the steady clock since the host library was loaded.
#include <chrono>

#include "zt/zt_util.h"

namespace {
const auto kStart = std::chrono::steady_clock::now();
}

double ZT_GetTimeCounter() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - kStart)
        .count();
}
