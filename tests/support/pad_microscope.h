// A microscope with a calibrated Verove on the fake SDK, a four-line laser launch and a shutter,
// and the device's pad in the host's acquisition controls: what the pad tests start from.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QThread>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "cztpatterncombobox.h"
#include "cztpluginverove.h"
#include "cztstimulationdeviceverove.h"
#include "cztverovedriver.h"
#include "cztverovenamemanager.h"
#include "cztverovepadqt.h"
#include "cztverovepadwrapper.h"
#include "event_wait.h"
#include "fake_atcore_control.h"
#include "plugin_host.h"
#include "stimulation_areas.h"
#include "verove_device.h"
#include "zt/zt_devices.h"
#include "zt/zt_roi.h"
#include "zt/zt_stimulation.h"
#include "zthost/gui.h"
#include "zthost/microscope.h"
#include "zthost/registry_store.h"
#include "zthost/zthost.h"

// The plug-in's resources (the pad's style sheet) live in the statically linked core.
inline void InitPadResources() {
    Q_INIT_RESOURCE(q9_plugin_verove);
}

namespace pad_test {

constexpr ZT_DWORD kNosepiece = 11;
constexpr ZT_DWORD kLaunch = 21;
constexpr ZT_DWORD kShutter = 31;
constexpr int kWidth = 800;
constexpr int kHeight = 600;

// Areas of S1 (a rectangle centred on 150, 125) and S2 (an ellipse centred on 400, 300); S3 has
// none.
inline CZtRoiObjectList TwoGroups() {
    CZtRoiObjectList areas;
    areas.Add(Area(11, 0, ZT_ROITYPE_RECTANGLE, {150.0, 125.0, 50.0, 25.0}));
    areas.Add(Area(12, 1, ZT_ROITYPE_ELLIPSE, {400.0, 300.0, 40.0, 30.0}));
    return areas;
}

// The level the shown frame has at a mirror (0 dark, 255 on); -1 while the DMD does not expose.
inline int Mirror(int x, int y) {
    const fake_atcore::MirrorFrame shown = fake_atcore::ShownFrame();
    if (!shown.exposing || shown.levels.empty()) {
        return -1;
    }
    return shown.levels[static_cast<size_t>(y * shown.width + x)];
}

class PadMicroscope : public ::testing::Test {
protected:
    void SetUp() override {
        InitPadResources();
        ASSERT_NO_FATAL_FAILURE(ResetPluginHost(m_dir));
        // VEROVE_LOG_ECHO=1 shows the host log while a test runs.
        zthost::SetLogEcho(qEnvironmentVariableIsSet("VEROVE_LOG_ECHO"));
        zthost::SetRegistryLocation(m_dir.filePath("registry.ini").toStdWString());
        zthost::SetSearchFolders({QString(VEROVE_FAKE_SDK_DIR).toStdWString()});
        CZtVeroveNameManager::Instance().SetBrand(1);
        AddDevices();
        zthost::CameraSetup camera;
        camera.name = L"Cam1";
        camera.sensorWidth = kWidth;
        camera.sensorHeight = kHeight;
        ASSERT_EQ(zthost::SetCamera(camera), 0);
        m_device.reset(NewDevice());
        m_device->SetUniqueName(m_uniqueName.c_str());
        m_device->SetGUIElementName(L"VerovePadElement");
        ASSERT_TRUE(m_device->Connect(true, 0, 0));
        SZtStimulationDeviceRecord record;
        record.uniqueName = m_uniqueName;
        record.device = m_device.get();
        ASSERT_EQ(CZtStimulationDeviceManager::GetInstance()->StaticDeviceAdd(record), 0);
        ASSERT_EQ(m_device->CheckConfigurationDataAndUpdateCalibration(nullptr), 0);
        if (m_calibrate) {
            const CZtMatrix3 identity{1, 0, 0, 0, 1, 0, 0, 0, 1};
            ASSERT_EQ(m_device->GetDriver()->SetCalibrationMatrices(identity, identity), 0);
        }
        ASSERT_NE(zthost::AddControlPad(m_device->GetPadWrapper(), L"VerovePadElement"), nullptr);
        m_pad = m_device->GetPadWrapper()->GetPad();
        ASSERT_NE(m_pad, nullptr);
        // The pad asked for the settings, which apply the light path; then the light is chosen.
        QCoreApplication::processEvents();
        if (m_associateLaunch) {
            ASSERT_EQ(m_device->OnAssociatedLightChanged(kLaunch), 0);
            m_device->OnAssociatedShuttersChanged({L"Shutter1"});
        }
        QCoreApplication::processEvents();
    }

    void TearDown() override {
        if (m_device) {
            m_device->Connect(false, 0, -1);
        }
        zthost::ResetForTests();
        m_device.reset();
        VerovePluginState().hostContext = nullptr;
    }

    virtual CZtStimulationDeviceVerove* NewDevice() { return new CZtStimulationDeviceVerove(); }

    // A nosepiece (objectives P10, P40), a launch of four lines (405, 488, 561, 640 nm) and a
    // shutter.
    void AddDevices() {
        zthost::LogicalDeviceSetup nosepiece;
        nosepiece.id = kNosepiece;
        nosepiece.type = ZT_LOGDEV_NOSEPIECE;
        nosepiece.key = L"Nosepiece";
        nosepiece.positionNames = {L"P10", L"P40"};
        ASSERT_EQ(zthost::AddLogicalDevice(nosepiece), 0);
        zthost::LogicalDeviceSetup launch;
        launch.id = kLaunch;
        launch.type = ZT_LOGDEV_MULTILASER;
        launch.key = L"Launch1";
        launch.physicalId = 210;
        launch.capabilities = {16};
        launch.lines = {
            {405, 10.0, true}, {488, 20.0, false}, {561, 30.0, true}, {640, 0.0, false}};
        ASSERT_EQ(zthost::AddLogicalDevice(launch), 0);
        zthost::LogicalDeviceSetup shutter;
        shutter.id = kShutter;
        shutter.type = ZT_LOGDEV_SHUTTER;
        shutter.key = L"Shutter1";
        shutter.physicalId = 310;
        ASSERT_EQ(zthost::AddLogicalDevice(shutter), 0);
    }

    // processEvents false: for a thread other than the GUI thread.
    int SetAreas(const CZtRoiObjectList& areas, bool processEvents = true) {
        SZtRLEPicBuf masks;
        EXPECT_EQ(ZT_RoiListToRLE(&areas, kWidth, kHeight, &masks), 0);
        SZtGrabberFormatDesc format;
        EXPECT_EQ(zthost::HostContext()->GetGrabberProvider()->CameraSettingsGet(&format), 0);
        const SZtRect rect{0, 0, kWidth, kHeight};
        const int result = m_device->StimulationAreaSet(&areas, &masks, nullptr, &format, &rect);
        if (processEvents) {
            QCoreApplication::processEvents();
        }
        return result;
    }

    const CZtVerovePadUi& Ui() const { return m_pad->Ui(); }

    // Chooses the combo's item with that text the way the user does.
    static void Choose(QComboBox* combo, const QString& text) {
        const int index = combo->findText(text);
        ASSERT_GE(index, 0) << text.toStdString();
        combo->setCurrentIndex(index);
        QCoreApplication::processEvents();
    }

    QTemporaryDir m_dir;
    std::wstring m_uniqueName = L"CZtStimulationDeviceVerove_0";
    bool m_calibrate = true;
    bool m_associateLaunch = true;
    DevicePtr m_device;
    CZtVerovePadQt* m_pad = nullptr;
};

}  // namespace pad_test
