// How far a measured DMD -> sensor matrix lands from a scenario's ground truth.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>

// (x, y) through the first two rows of a row-major 3 x 3 or 2 x 3 matrix.
template <typename Matrix>
std::array<double, 2> ApplyRows(const Matrix& m, double x, double y) {
    return {m[0] * x + m[1] * y + m[2], m[3] * x + m[4] * y + m[5]};
}

// In camera pixels: root mean square and maximum over a 41 x 31 grid of mirror positions
// spanning the whole 800 x 600 DMD field.
struct SDeviation {
    double rms = 0.0;
    double max = 0.0;
};

template <typename Matrix>
SDeviation Deviation(const Matrix& measured, const std::array<double, 6>& truth) {
    SDeviation deviation;
    int count = 0;
    for (int j = 0; j <= 30; ++j) {
        for (int i = 0; i <= 40; ++i) {
            const double x = 800.0 * i / 40;
            const double y = 600.0 * j / 30;
            const auto a = ApplyRows(measured, x, y);
            const auto b = ApplyRows(truth, x, y);
            const double d = std::hypot(a[0] - b[0], a[1] - b[1]);
            deviation.rms += d * d;
            deviation.max = std::max(deviation.max, d);
            ++count;
        }
    }
    deviation.rms = std::sqrt(deviation.rms / count);
    return deviation;
}
