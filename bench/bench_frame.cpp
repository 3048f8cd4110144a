// A camera frame as auto-calibration grabs it: background, noise and one projected square.
#include "bench_frame.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

// The square's blurred edge profile along one axis.
std::vector<double> Profile(std::uint32_t size, double centre) {
    constexpr double kHalfSide = 7.0;
    const double k = 1.0 / (2.0 * std::sqrt(2.0));
    std::vector<double> profile(size);
    for (std::uint32_t i = 0; i < size; ++i) {
        profile[i] =
            0.5 * (std::erf((i - centre + kHalfSide) * k) - std::erf((i - centre - kHalfSide) * k));
    }
    return profile;
}

}  // namespace

SZtPicBuf SpotFrame(std::uint32_t width, std::uint32_t height, double x, double y) {
    SZtPicBuf frame;
    CZtPicBufAPI::Alloc(&frame, width, height, 16, 1);
    const std::vector<double> across = Profile(width, x);
    const std::vector<double> down = Profile(height, y);
    std::mt19937 random(11);
    std::normal_distribution<double> noise(0.0, 30.0);
    for (std::uint32_t j = 0; j < height; ++j) {
        auto* row = reinterpret_cast<std::uint16_t*>(frame.Row(j));
        for (std::uint32_t i = 0; i < width; ++i) {
            const double value = 1000.0 + noise(random) + 20000.0 * across[i] * down[j];
            row[i] = static_cast<std::uint16_t>(std::clamp(std::round(value), 0.0, 65535.0));
        }
    }
    return frame;
}
