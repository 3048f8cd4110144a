// A stimulation device the test holds, the three groups' areas for it, and a host with a small
// DMD.
#pragma once

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <array>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "cztstimulationdeviceverove.h"
#include "fake_atcore_control.h"
#include "plugin_host.h"
#include "shown_mirrors.h"
#include "stimulation_areas.h"
#include "zt/zt_devices.h"
#include "zt/zt_roi.h"
#include "zthost/microscope.h"
#include "zthost/optics.h"
#include "zthost/zthost.h"

// Devices are reference counted: the test holds the creation reference.
struct ReleaseDevice {
    void operator()(CZtStimulationDeviceVerove* device) const { device->Release(); }
};
using DevicePtr = std::unique_ptr<CZtStimulationDeviceVerove, ReleaseDevice>;

// The microscope a calibration works on: a nosepiece (positions "P10", "P40"), a camera (2048 x
// 2048 unless given) onto which the optics image the DMD through dmdToSensor, the mirrors the fake
// SDK shows; and a device (the simulated unit's when asked) connected there with its optical
// configuration checked.
inline DevicePtr ConnectOnCalibrationMicroscope(const std::array<double, 6>& dmdToSensor,
                                                ZT_DWORD nosepieceId, bool simulated = false,
                                                int sensorWidth = 2048, int sensorHeight = 2048) {
    zthost::LogicalDeviceSetup nosepiece;
    nosepiece.id = nosepieceId;
    nosepiece.type = ZT_LOGDEV_NOSEPIECE;
    nosepiece.key = L"Nosepiece";
    nosepiece.positionNames = {L"P10", L"P40"};
    EXPECT_EQ(zthost::AddLogicalDevice(nosepiece), 0);
    zthost::CameraSetup camera;
    camera.name = L"Cam1";
    camera.sensorWidth = sensorWidth;
    camera.sensorHeight = sensorHeight;
    EXPECT_EQ(zthost::SetCamera(camera), 0);
    zthost::OpticsSetup optics;
    optics.dmdToSensor = dmdToSensor;
    EXPECT_EQ(zthost::SetOptics(optics), 0);
    zthost::SetMirrorFrameSource(ShownMirrors);
    DevicePtr device(simulated ? new CZtStimulationDeviceVeroveSim()
                               : new CZtStimulationDeviceVerove());
    device->SetUniqueName(simulated ? L"CZtStimulationDeviceVeroveSim_0"
                                    : L"CZtStimulationDeviceVerove_0");
    EXPECT_TRUE(device->Connect(true, 0, 0));
    EXPECT_EQ(device->CheckConfigurationDataAndUpdateCalibration(nullptr), 0);
    return device;
}

// One area per group, apart from each other on an 800 x 600 image times scale: a rectangle in
// S1, an ellipse in S2, a triangle in S3.
inline CZtRoiObjectList ThreeGroupAreas(double scale) {
    const auto scaled = [scale](std::vector<double> values) {
        for (double& value : values) {
            value *= scale;
        }
        return values;
    };
    CZtRoiObjectList areas;
    areas.Add(Area(11, 0, ZT_ROITYPE_RECTANGLE, scaled({150.0, 125.0, 50.0, 25.0})));
    areas.Add(Area(12, 1, ZT_ROITYPE_ELLIPSE, scaled({400.0, 300.0, 40.0, 30.0})));
    areas.Add(Area(13, 2, ZT_ROITYPE_POLYGON, scaled({600.0, 400.0, 700.0, 400.0, 650.0, 500.0})));
    return areas;
}

// A DMD of a fifth of the Verove III's mirrors each way, and a camera of its size: tests that
// connect a device many times stay fast with it.
constexpr int kSmallDmdWidth = 160;
constexpr int kSmallDmdHeight = 120;

// A fresh reference host (ResetPluginHost) with the fake SDK's unit at the small size on its
// search path and a camera of that size.
inline void ResetSmallDmdHost(const QTemporaryDir& settingsDir) {
    ResetPluginHost(settingsDir);
    fake_atcore::SetSensorSize(kSmallDmdWidth, kSmallDmdHeight);
    zthost::SetSearchFolders({QString(VEROVE_FAKE_SDK_DIR).toStdWString()});
    zthost::CameraSetup camera;
    camera.name = L"Cam1";
    camera.sensorWidth = kSmallDmdWidth;
    camera.sensorHeight = kSmallDmdHeight;
    zthost::SetCamera(camera);
}

// The three groups' areas (ThreeGroupAreas at a fifth) set on a device (or an aggregator) over
// the small DMD.
inline int SetSmallDmdAreas(IZtStimulationDevice* device) {
    const CZtRoiObjectList areas = ThreeGroupAreas(0.2);
    SZtRLEPicBuf masks;
    ZT_RoiListToRLE(&areas, kSmallDmdWidth, kSmallDmdHeight, &masks);
    SZtGrabberFormatDesc format;
    zthost::HostContext()->GetGrabberProvider()->CameraSettingsGet(&format);
    const SZtRect rect{0, 0, kSmallDmdWidth, kSmallDmdHeight};
    return device->StimulationAreaSet(&areas, &masks, nullptr, &format, &rect);
}
