// A camera frame as auto-calibration grabs it: background, noise and one projected square.
#pragma once

#include <cstdint>

#include "zt/zt_picbuf.h"

// A 16-bit grey frame of width x height: a background of 1000 with noise of standard deviation 30
// and a 14-pixel square blurred by 2 pixels, 20000 levels bright, centred at (x, y).
SZtPicBuf SpotFrame(std::uint32_t width, std::uint32_t height, double x, double y);
