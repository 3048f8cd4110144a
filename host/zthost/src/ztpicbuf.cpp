// SZtPicBuf: ownership of a picture's pixels.
#include "zt/zt_picbuf.h"

#include <utility>

SZtPicBuf::~SZtPicBuf() {
    CZtPicBufAPI::Free(this);
}

SZtPicBuf::SZtPicBuf(SZtPicBuf&& other) noexcept
    : width(other.width),
      height(other.height),
      stride(other.stride),
      bitsPerComponent(other.bitsPerComponent),
      components(other.components),
      data(other.data),
      ownsData(other.ownsData) {
    other.data = nullptr;
    other.ownsData = false;
    CZtPicBufAPI::Free(&other);
}

SZtPicBuf& SZtPicBuf::operator=(SZtPicBuf&& other) noexcept {
    if (this != &other) {
        CZtPicBufAPI::Free(this);
        width = other.width;
        height = other.height;
        stride = other.stride;
        bitsPerComponent = other.bitsPerComponent;
        components = other.components;
        data = std::exchange(other.data, nullptr);
        ownsData = std::exchange(other.ownsData, false);
        CZtPicBufAPI::Free(&other);
    }
    return *this;
}
