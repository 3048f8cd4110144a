// The DMD interface a session asks a stimulation device for.
#pragma once

#include "zt/zt_dmd.h"
#include "zt/zt_stimulation.h"

// The device's DMD interface with a reference the caller releases, or null.
inline IZtDeviceDMD* DmdOf(IZtStimulationDevice* device) {
    return device ? static_cast<IZtDeviceDMD*>(device->QueryInterface("IZtDeviceDMD")) : nullptr;
}

// The detail a check gives when the device has no DMD interface.
inline constexpr char kNoDmdInterface[] = "the device does not answer \"IZtDeviceDMD\"";
