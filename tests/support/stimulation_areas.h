// Stimulation areas as the host hands them to a stimulation device.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "zt/zt_roi.h"

// An area of the group (0-based) marked for stimulation.
inline CZtRoiObject Area(std::uint32_t id, std::uint32_t group, std::uint32_t type,
                         std::vector<double> geometry) {
    CZtRoiObject area(type, std::move(geometry));
    area.SetId(id);
    area.SetStimulation(true);
    area.SetStimulationGroup(group);
    return area;
}
