// The per-area stimulation settings that decide how bright an area's mirrors are.
#pragma once

#include <cstdint>

// A plain value. Intensities are percentages of full brightness.
//
// intensityMode: 0 full brightness, 1 flat at intensity, 2..5 a gradient between intensity and
// secondIntensity running left to right, right to left, top to bottom, bottom to top.
struct SZtStimulationArea {
    std::uint32_t intensityMode = 0;
    double intensity = 100.0;
    double secondIntensity = 100.0;
};
