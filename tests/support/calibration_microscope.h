// The fixture of the calibration suites (the automatic and the manual dialog, the configuration
// dialog): a fresh reference host with the fake SDK, and the calibration microscope's device.
#pragma once

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <array>

#include "cztpluginverove.h"
#include "plugin_host.h"
#include "verove_device.h"
#include "zthost/microscope.h"
#include "zthost/zthost.h"

class CalibrationMicroscope : public ::testing::Test {
protected:
    static constexpr ZT_DWORD kNosepiece = 11;

    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(ResetPluginHost(m_dir));
        zthost::SetSearchFolders({CZtStringW::FromUtf8(VEROVE_FAKE_SDK_DIR).Str()});
    }

    // Derived fixtures drop their dialogs first: a dialog holds the device.
    void TearDown() override {
        m_device.reset();
        VerovePluginState().hostContext = nullptr;
        zthost::ResetForTests();
    }

    CZtStimulationDeviceVerove* SetUpMicroscope(const std::array<double, 6>& truth,
                                                bool simulated = false, int sensorWidth = 2048,
                                                int sensorHeight = 2048) {
        m_device =
            ConnectOnCalibrationMicroscope(truth, kNosepiece, simulated, sensorWidth, sensorHeight);
        return m_device.get();
    }

    // Moves a changer (the nosepiece: the objective) and lets the device follow.
    void SetPosition(ZT_DWORD id, int position) {
        zthost::LogicalDeviceSetup device;
        ASSERT_TRUE(zthost::FindLogicalDevice(id, &device));
        device.position = position;
        ASSERT_EQ(zthost::UpdateLogicalDevice(device), 0);
        ASSERT_EQ(m_device->CheckConfigurationDataAndUpdateCalibration(nullptr), 0);
    }

    QTemporaryDir m_dir;
    DevicePtr m_device;
};
