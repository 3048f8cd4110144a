// A stimulation device the test holds, and stimulation areas for it.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "cztstimulationdeviceverove.h"
#include "zt/zt_roi.h"

// Devices are reference counted: the test holds the creation reference.
struct ReleaseDevice {
    void operator()(CZtStimulationDeviceVerove* device) const { device->Release(); }
};
using DevicePtr = std::unique_ptr<CZtStimulationDeviceVerove, ReleaseDevice>;

// A stimulation area of a group (0-2) as the host's ROI list holds it.
inline CZtRoiObject StimulationArea(std::uint32_t id, std::uint32_t group, std::uint32_t type,
                                    std::vector<double> geometry) {
    CZtRoiObject area(type, std::move(geometry));
    area.SetId(id);
    area.SetStimulation(true);
    area.SetStimulationGroup(group);
    return area;
}
