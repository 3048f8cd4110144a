// Pictures for tests, written out plainly: a view of pixels held elsewhere, and the mean and
// standard deviation of values from their integer sums.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "zt/zt_picbuf.h"

// A one-component picture of the pixels at data, rows stride bytes apart, that it does not own.
inline SZtPicBuf PictureView(void* data, std::uint32_t width, std::uint32_t height,
                             std::uint32_t stride, std::uint32_t bits) {
    SZtPicBuf view;
    view.width = width;
    view.height = height;
    view.stride = stride;
    view.bitsPerComponent = bits;
    view.components = 1;
    view.data = static_cast<std::uint8_t*>(data);
    return view;
}

// The mean of the values and their standard deviation over all of them (divided by the count),
// from exact integer sums.
inline void PlainMeanAndDeviation(const std::vector<std::uint32_t>& values, double* mean,
                                  double* deviation) {
    std::uint64_t sum = 0;
    std::uint64_t squares = 0;
    for (const std::uint64_t v : values) {
        sum += v;
        squares += v * v;
    }
    const double count = values.size();
    *mean = sum / count;
    *deviation = std::sqrt(std::max(0.0, squares / count - *mean * *mean));
}
