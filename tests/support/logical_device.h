// A logical device of the reference host's simulated microscope, as the tests set one up.
#pragma once

#include "zthost/microscope.h"

inline zthost::LogicalDeviceSetup LogicalDevice(ZT_DWORD id, int type, const wchar_t* key,
                                                ZT_DWORD physicalId = 0) {
    zthost::LogicalDeviceSetup device;
    device.id = id;
    device.type = type;
    device.key = key;
    device.physicalId = physicalId;
    return device;
}
