// The device manager: logical devices as the plug-in reads them through DMApi, configured through
// the simulated microscope's control side.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "logical_device.h"
#include "zt/zt_devices.h"
#include "zthost/microscope.h"
#include "zthost/zthost.h"

namespace {

class DeviceManager : public ::testing::Test {
protected:
    void SetUp() override { zthost::ResetForTests(); }
    void TearDown() override { zthost::ResetForTests(); }

    DMApi* Api() { return zthost::HostContext()->GetDeviceManager(); }

    // A microscope stand with every device type the configuration walk reads.
    void AddStand() {
        auto nosepiece = LogicalDevice(10, ZT_LOGDEV_NOSEPIECE, L"Nosepiece1");
        nosepiece.positionNames = {L"P4", L"P10", L"P20", L"P60"};
        nosepiece.position = 2;
        auto turret = LogicalDevice(11, ZT_LOGDEV_FILTERCHANGER, L"Turret1");
        turret.positionNames = {L"DAPI", L"GFP", L"<none>"};
        turret.position = 1;
        auto launch = LogicalDevice(12, ZT_LOGDEV_MULTILASER, L"Launch");
        launch.lines = {{405, 0.0, true}, {488, 0.0, false}, {561, 0.0, true}};
        auto zoom = LogicalDevice(13, ZT_LOGDEV_ZOOM, L"Zoom");
        zoom.manualZoom = true;
        zoom.zoom = 1.5;
        ASSERT_EQ(zthost::AddLogicalDevice(nosepiece), 0);
        ASSERT_EQ(zthost::AddLogicalDevice(turret), 0);
        ASSERT_EQ(zthost::AddLogicalDevice(launch), 0);
        ASSERT_EQ(zthost::AddLogicalDevice(zoom), 0);
        ASSERT_EQ(zthost::AddLogicalDevice(LogicalDevice(14, ZT_LOGDEV_LIGHT, L"Lamp")), 0);
        ASSERT_EQ(zthost::AddLogicalDevice(LogicalDevice(15, ZT_LOGDEV_MICROSCOPE, L"Stand")), 0);
    }
};

TEST_F(DeviceManager, HostHasOneOnlyOnceConfigured) {
    EXPECT_EQ(Api(), nullptr);
    zthost::SetGalvoXYCount(0);
    ASSERT_NE(Api(), nullptr);
    int count = -1;
    EXPECT_EQ(Api()->LogDev_GetCount(&count), 0);
    EXPECT_EQ(count, 0);

    zthost::ResetForTests();
    EXPECT_EQ(Api(), nullptr);
    ASSERT_EQ(zthost::AddLogicalDevice(LogicalDevice(1, ZT_LOGDEV_LIGHT, L"Lamp")), 0);
    ASSERT_NE(Api(), nullptr);

    // Hiding the manager keeps its devices for when it comes back.
    zthost::SetDeviceManagerPresent(false);
    EXPECT_EQ(Api(), nullptr);
    zthost::SetDeviceManagerPresent(true);
    ASSERT_NE(Api(), nullptr);
    EXPECT_EQ(Api()->LogDev_GetCount(&count), 0);
    EXPECT_EQ(count, 1);

    zthost::ResetForTests();
    EXPECT_EQ(Api(), nullptr);
    EXPECT_FALSE(zthost::FindLogicalDevice(1, nullptr));
}

TEST_F(DeviceManager, RefusedQueriesLeaveOutputsAlone) {
    AddStand();
    DMApi* dm = Api();
    ASSERT_NE(dm, nullptr);
    CZtStringW text(L"untouched");
    int value = 77;
    bool flag = true;

    // A query for another device type: the plug-in must not read a nosepiece as a light.
    EXPECT_EQ(dm->Light_GetKey(10, &text), -6);
    EXPECT_EQ(dm->Nosepiece_GetPosition(11, &value), -6);
    EXPECT_EQ(dm->FilterChanger_GetKey(10, &text), -6);
    EXPECT_EQ(dm->MultiLaser_GetLineCount(14, &value), -6);
    EXPECT_EQ(dm->Zoom_GetManual(12, &flag), -6);
    // Unknown ids, including 0.
    EXPECT_EQ(dm->LogDev_GetType(99, &value), -5);
    EXPECT_EQ(dm->LogDev_GetKey(0, &text), -5);
    // Positions, lines and indexes beyond the device.
    EXPECT_EQ(dm->Nosepiece_GetObjectiveCode(10, 4, &text), -7);
    EXPECT_EQ(dm->FilterChanger_GetFilterName(11, -1, &text), -7);
    EXPECT_EQ(dm->MultiLaser_GetLineUsed(12, 3, &flag), -7);
    ZT_DWORD id = 1234;
    EXPECT_EQ(dm->LogDev_GetId(6, &id), -7);
    EXPECT_EQ(dm->Nosepiece_GetObjectiveCode(10, 0, nullptr), -4);

    EXPECT_EQ(text, L"untouched");
    EXPECT_EQ(value, 77);
    EXPECT_TRUE(flag);
    EXPECT_EQ(id, 1234u);
}

TEST_F(DeviceManager, ChangesShowThroughTheInterface) {
    AddStand();
    DMApi* dm = Api();
    ASSERT_NE(dm, nullptr);

    zthost::LogicalDeviceSetup nosepiece;
    ASSERT_TRUE(zthost::FindLogicalDevice(10, &nosepiece));
    nosepiece.position = 3;
    nosepiece.visible = false;
    ASSERT_EQ(zthost::UpdateLogicalDevice(nosepiece), 0);

    int position = 0;
    bool visible = true;
    CZtStringW code;
    ASSERT_EQ(dm->Nosepiece_GetPosition(10, &position), 0);
    ASSERT_EQ(dm->Nosepiece_GetObjectiveCode(10, position, &code), 0);
    ASSERT_EQ(dm->LogDev_GetVisible(10, &visible), 0);
    EXPECT_EQ(code, L"P60");
    EXPECT_FALSE(visible);
    // The update kept the device's place in the list.
    ZT_DWORD first = 0;
    ASSERT_EQ(dm->LogDev_GetId(0, &first), 0);
    EXPECT_EQ(first, 10u);

    ASSERT_EQ(zthost::RemoveLogicalDevice(11), 0);
    int count = 0;
    ASSERT_EQ(dm->LogDev_GetCount(&count), 0);
    EXPECT_EQ(count, 5);
    ZT_DWORD second = 0;
    ASSERT_EQ(dm->LogDev_GetId(1, &second), 0);
    EXPECT_EQ(second, 12u);
    EXPECT_EQ(dm->FilterChanger_GetKey(11, &code), -5);
}

TEST_F(DeviceManager, IncoherentSetupsAreRefused) {
    EXPECT_EQ(zthost::AddLogicalDevice(LogicalDevice(0, ZT_LOGDEV_LIGHT, L"Lamp")), -4);

    auto nosepiece = LogicalDevice(1, ZT_LOGDEV_NOSEPIECE, L"Nosepiece");
    nosepiece.position = 0;
    EXPECT_EQ(zthost::AddLogicalDevice(nosepiece), -4) << "a nosepiece without positions";
    nosepiece.positionNames = {L"P10", L"P20"};
    nosepiece.position = 2;
    EXPECT_EQ(zthost::AddLogicalDevice(nosepiece), -4) << "standing beyond its positions";
    nosepiece.position = 1;
    ASSERT_EQ(zthost::AddLogicalDevice(nosepiece), 0);
    EXPECT_EQ(zthost::AddLogicalDevice(LogicalDevice(1, ZT_LOGDEV_LIGHT, L"Lamp")), -10);

    nosepiece.position = -1;
    EXPECT_EQ(zthost::UpdateLogicalDevice(nosepiece), -4);
    EXPECT_EQ(zthost::UpdateLogicalDevice(LogicalDevice(2, ZT_LOGDEV_LIGHT, L"Lamp")), -5);
    EXPECT_EQ(zthost::RemoveLogicalDevice(2), -5);

    // The refused update left the device as it was.
    int position = -1;
    ASSERT_EQ(Api()->Nosepiece_GetPosition(1, &position), 0);
    EXPECT_EQ(position, 1);
}

TEST_F(DeviceManager, GalvoScannersAndCapabilities) {
    auto scanner = LogicalDevice(5, 30, L"Scanner");
    scanner.capabilities = {16, ZT_LOGDEV_CAP_GALVO_XY};
    scanner.physicalId = 500;
    ASSERT_EQ(zthost::AddLogicalDevice(scanner), 0);
    ASSERT_EQ(zthost::AddLogicalDevice(LogicalDevice(6, ZT_LOGDEV_LIGHT, L"Lamp")), 0);
    DMApi* dm = Api();
    ASSERT_NE(dm, nullptr);

    bool has = false;
    ASSERT_EQ(dm->LogDev_HasCapability(5, ZT_LOGDEV_CAP_GALVO_XY, &has), 0);
    EXPECT_TRUE(has);
    ASSERT_EQ(dm->LogDev_HasCapability(5, 17, &has), 0);
    EXPECT_FALSE(has);
    ASSERT_EQ(dm->LogDev_HasCapability(6, ZT_LOGDEV_CAP_GALVO_XY, &has), 0);
    EXPECT_FALSE(has);
    ZT_DWORD physical = 0;
    ASSERT_EQ(dm->LogDev_GetPhysicalId(5, &physical), 0);
    EXPECT_EQ(physical, 500u);

    int galvos = -1;
    ASSERT_EQ(dm->DMApi_GalvoXY_GetCount(&galvos), 0);
    EXPECT_EQ(galvos, 0);
    zthost::SetGalvoXYCount(2);
    ASSERT_EQ(dm->DMApi_GalvoXY_GetCount(&galvos), 0);
    EXPECT_EQ(galvos, 2);
}

// A worker thread reads the filter changer while the GUI side moves it: every read answers, and
// under tsan no read races an update.
TEST_F(DeviceManager, ReadsWhileTheSetupChanges) {
    AddStand();
    DMApi* dm = Api();
    ASSERT_NE(dm, nullptr);
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::thread reader([&] {
        while (!stop) {
            int position = -1;
            CZtStringW name;
            if (dm->FilterChanger_GetPosition(11, &position) != 0 ||
                dm->FilterChanger_GetFilterName(11, position, &name) != 0) {
                ++bad;
            }
        }
    });
    zthost::LogicalDeviceSetup turret;
    ASSERT_TRUE(zthost::FindLogicalDevice(11, &turret));
    for (int i = 0; i < 2000; ++i) {
        turret.position = i % 3;
        ASSERT_EQ(zthost::UpdateLogicalDevice(turret), 0);
    }
    stop = true;
    reader.join();
    EXPECT_EQ(bad, 0);
}

}  // namespace
