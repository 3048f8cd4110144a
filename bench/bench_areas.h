// The stimulation areas of the stimulation benchmarks: a rectangle in each group, set on a
// device or an aggregator for the camera the host has now.
#pragma once

#include "zt/zt_grabber.h"
#include "zt/zt_roi.h"
#include "zt/zt_stimulation.h"
#include "zthost/zthost.h"

inline int SetBenchAreas(IZtStimulationDevice* device, int width, int height) {
    CZtRoiObjectList areas;
    for (std::uint32_t g = 0; g < 3; ++g) {
        CZtRoiObject area(ZT_ROITYPE_RECTANGLE, {150.0 + 200.0 * g, 300.0, 60.0, 120.0});
        area.SetId(g + 1);
        area.SetStimulation(true);
        area.SetStimulationGroup(g);
        areas.Add(area);
    }
    SZtRLEPicBuf masks;
    ZT_RoiListToRLE(&areas, width, height, &masks);
    SZtGrabberFormatDesc format;
    zthost::HostContext()->GetGrabberProvider()->CameraSettingsGet(&format);
    return device->StimulationAreaSet(&areas, &masks, nullptr, &format, nullptr);
}
