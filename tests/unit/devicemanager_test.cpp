// The device manager: logical devices as the plug-in reads them through DMApi, configured through
// the simulated microscope's control side.
#include <gtest/gtest.h>

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

}  // namespace
