// Gathering the live optical configuration from the host's logical devices and the active camera.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <vector>

#include "cztconfigurationdata.h"
#include "fake_grabber_provider.h"
#include "logical_device.h"
#include "zt/zt_devices.h"
#include "zthost/microscope.h"
#include "zthost/zthost.h"

namespace {

// The host's device manager with a stand of every type the walk reads, and a confocal-capable
// grabber; ids 1 to 7 are the devices the walk is given.
class FillConfiguration : public ::testing::Test {
protected:
    void SetUp() override {
        zthost::ResetForTests();
        auto nosepiece = LogicalDevice(1, ZT_LOGDEV_NOSEPIECE, L"Nosepiece");
        nosepiece.position = 1;
        nosepiece.positionNames = {L"P10", L"P20"};
        auto turret = LogicalDevice(2, ZT_LOGDEV_FILTERCHANGER, L"Turret1");
        turret.position = 2;
        turret.positionNames = {L"DAPI", L"RFP", L"GFP"};
        auto launch = LogicalDevice(5, ZT_LOGDEV_MULTILASER, L"Launch");
        launch.lines = {{405, 0.0, true}, {488, 0.0, false}, {561, 0.0, true}, {640, 0.0, true}};
        auto zoom = LogicalDevice(6, ZT_LOGDEV_ZOOM, L"Zoom");
        zoom.manualZoom = true;
        zoom.zoom = 1.5;
        for (const zthost::LogicalDeviceSetup& device :
             {nosepiece, turret, LogicalDevice(3, ZT_LOGDEV_LIGHT, L"LED"),
              LogicalDevice(4, ZT_LOGDEV_MICROSCOPE, L"Stand"), launch, zoom,
              LogicalDevice(7, ZT_LOGDEV_SHUTTER, L"Shutter")}) {
            ASSERT_EQ(zthost::AddLogicalDevice(device), 0);
        }
        m_ids = {1, 2, 3, 4, 5, 6, 7};
        m_grabber.cameraName = L"Cam3";
        m_grabber.rotation = 450;
    }
    void TearDown() override { zthost::ResetForTests(); }

    void Change(ZT_DWORD id, const std::function<void(zthost::LogicalDeviceSetup*)>& change) {
        zthost::LogicalDeviceSetup device;
        ASSERT_TRUE(zthost::FindLogicalDevice(id, &device));
        change(&device);
        ASSERT_EQ(zthost::UpdateLogicalDevice(device), 0);
    }

    int Fill(CZtConfigurationData* record, std::optional<bool> trax = std::nullopt) {
        return FillConfigurationData(zthost::HostContext()->GetDeviceManager(), &m_grabber,
                                     m_ids.data(), static_cast<int>(m_ids.size()), record, trax);
    }

    FakeGrabberProvider m_grabber;
    std::vector<ZT_DWORD> m_ids;
};

TEST_F(FillConfiguration, GathersEveryVisibleActiveDeviceAndTheCamera) {
    CZtConfigurationData record;
    ASSERT_EQ(Fill(&record, true), 0);
    EXPECT_EQ(record.GetConfigurationString(),
              L"#F$KTurret1$NGFP$P2#OP20#R90.000000#L0#Z1.500000#CCam3");
    EXPECT_EQ(record.GetMicroscope(), L"Stand");
    EXPECT_EQ(record.GetLights(), std::set<std::wstring>{L"LED"});
    ASSERT_EQ(record.GetMultilasers().size(), 1u);
    EXPECT_EQ(record.GetMultilasers().begin()->key, L"Launch");
    EXPECT_EQ(record.GetMultilasers().begin()->usedLineMask, 0b1101u);
    EXPECT_TRUE(record.IsTRAXConnected());
}

TEST_F(FillConfiguration, HiddenInactiveAndFailingDevicesAreLeftOut) {
    Change(1, [](zthost::LogicalDeviceSetup* d) { d->visible = false; });
    Change(2, [](zthost::LogicalDeviceSetup* d) { d->active = false; });
    Change(6, [](zthost::LogicalDeviceSetup* d) { d->manualZoom = false; });
    Change(3, [](zthost::LogicalDeviceSetup* d) { d->type = 99; });
    m_ids.push_back(42);  // no such device
    CZtConfigurationData record;
    ASSERT_EQ(Fill(&record), 0);
    EXPECT_EQ(record.GetConfigurationString(), L"#F#O#R90.000000#CCam3");
    EXPECT_TRUE(record.GetLights().empty());
    EXPECT_FALSE(record.IsTRAXConnected()) << "no driver, no TRAX flag";
}

TEST_F(FillConfiguration, LaserLinesBeyond32WrapIntoTheMask) {
    Change(5, [](zthost::LogicalDeviceSetup* d) {
        d->lines.assign(34, {488, 0.0, false});
        d->lines[33].used = true;
    });
    CZtConfigurationData record;
    ASSERT_EQ(Fill(&record), 0);
    EXPECT_EQ(record.GetMultilasers().begin()->usedLineMask, 0b10u);
}

TEST_F(FillConfiguration, ConfocalCameraNamesItsScannerType) {
    m_grabber.confocal = true;
    m_grabber.cameraName = std::wstring(70, L'c');
    CZtConfigurationData galvano;
    ASSERT_EQ(Fill(&galvano), 0);
    EXPECT_EQ(galvano.GetCamera(), std::wstring(64, L'c') + L"_Galvano");
    m_grabber.cameraName = L"Confocal";
    m_grabber.scannerType = 1;
    CZtConfigurationData resonant;
    ASSERT_EQ(Fill(&resonant), 0);
    EXPECT_EQ(resonant.GetCamera(), L"Confocal_Resonant");
    m_grabber.scannerType = 2;
    CZtConfigurationData other;
    ASSERT_EQ(Fill(&other), 0);
    EXPECT_EQ(other.GetCamera(), L"Confocal");
}

TEST_F(FillConfiguration, CameraAndRotationFallBackWhenTheGrabberCannotTell) {
    m_grabber.cameraStatus = -6;
    m_grabber.rotationStatus = -5;
    CZtConfigurationData record;
    ASSERT_EQ(Fill(&record, false), 0);
    EXPECT_EQ(record.GetCamera(), L"");
    EXPECT_TRUE(record.IsRotationSet());
    EXPECT_EQ(record.GetCameraRotation(), 0.0);
    EXPECT_FALSE(record.IsTRAXConnected());
}

TEST_F(FillConfiguration, MissingIdsOrGrabberAreRefused) {
    CZtConfigurationData record;
    EXPECT_EQ(FillConfigurationData(zthost::HostContext()->GetDeviceManager(), &m_grabber, nullptr,
                                    0, &record, true),
              -4);
    EXPECT_FALSE(record.IsValid());
    EXPECT_EQ(FillConfigurationData(zthost::HostContext()->GetDeviceManager(), nullptr,
                                    m_ids.data(), static_cast<int>(m_ids.size()), &record, true),
              -12);
    EXPECT_EQ(record.GetObjective(), L"P20") << "the devices were gathered before";
    EXPECT_EQ(record.GetCamera(), L"");
}

}  // namespace
