// The plug-in manager: module events delivered by priority, handled events, unregistering, and the
// events the host sends itself.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "module_stub.h"
#include "zt/zt_devices.h"
#include "zt/zt_grabber.h"
#include "zt/zt_module.h"
#include "zthost/microscope.h"
#include "zthost/zthost.h"

namespace {

// Thread-bound. A module that records the events it receives into a shared journal.
class RecordingModule : public ModuleStub {
public:
    RecordingModule(std::wstring name, std::vector<std::wstring>* journal, bool handles = false)
        : m_name(std::move(name)), m_journal(journal), m_handles(handles) {}

    int OnModuleEvent(const wchar_t* eventName, std::intptr_t param, bool* handled,
                      void* list) override {
        m_journal->push_back(m_name + L":" + eventName + L":" + std::to_wstring(param));
        if (m_handles) {
            *handled = true;
        }
        lastList = list;
        if (onEvent) {
            onEvent();
        }
        return 0;
    }
    std::function<void()> onEvent;
    void* lastList = nullptr;  // valid only while the event is delivered

private:
    std::wstring m_name;
    std::vector<std::wstring>* m_journal;
    bool m_handles;
};

class PluginManager : public ::testing::Test {
protected:
    void SetUp() override { zthost::ResetForTests(); }
    void TearDown() override { zthost::ResetForTests(); }

    IZtPluginManager* manager = zthost::PluginManager();
    std::vector<std::wstring> journal;
};

TEST_F(PluginManager, DeliversInAscendingPriorityThenRegistrationOrder) {
    RecordingModule a(L"a", &journal), b(L"b", &journal), c(L"c", &journal), d(L"d", &journal);
    ASSERT_EQ(manager->RegisterModuleEvent(L"Refresh", &a, 5), 0);
    ASSERT_EQ(manager->RegisterModuleEvent(L"Refresh", &b, -1), 0);
    ASSERT_EQ(manager->RegisterModuleEvent(L"Refresh", &c, 5), 0);
    ASSERT_EQ(manager->RegisterModuleEvent(L"Refresh", &d, -1), 0);
    ASSERT_EQ(manager->RegisterModuleEvent(L"Other", &a, 0), 0);

    bool handled = true;  // the manager starts every delivery unhandled
    EXPECT_EQ(manager->SendModuleEvent(L"Refresh", 7, &handled, nullptr), 4);
    EXPECT_FALSE(handled);
    EXPECT_EQ(journal, (std::vector<std::wstring>{L"b:Refresh:7", L"d:Refresh:7", L"a:Refresh:7",
                                                  L"c:Refresh:7"}));
    journal.clear();
    EXPECT_EQ(manager->SendModuleEvent(L"Nobody", 0, nullptr, nullptr), 0);
    EXPECT_TRUE(journal.empty());
}

TEST_F(PluginManager, HandledEndsTheDelivery) {
    RecordingModule first(L"first", &journal), taker(L"taker", &journal, true),
        late(L"late", &journal);
    manager->RegisterModuleEvent(L"Start", &first, 0);
    manager->RegisterModuleEvent(L"Start", &taker, 1);
    manager->RegisterModuleEvent(L"Start", &late, 2);
    bool handled = false;
    EXPECT_EQ(manager->SendModuleEvent(L"Start", 1, &handled, nullptr), 2);
    EXPECT_TRUE(handled);
    EXPECT_EQ(journal, (std::vector<std::wstring>{L"first:Start:1", L"taker:Start:1"}));
    journal.clear();
    EXPECT_EQ(manager->SendModuleEvent(L"Start", 2, nullptr, nullptr), 2);  // no flag given
}

TEST_F(PluginManager, UnregisterAndRefusals) {
    RecordingModule a(L"a", &journal), b(L"b", &journal);
    EXPECT_EQ(manager->RegisterModuleEvent(L"E", &a, 0), 0);
    EXPECT_EQ(manager->RegisterModuleEvent(L"E", &a, 3), -10);
    EXPECT_EQ(manager->RegisterModuleEvent(L"E", &b, 0), 0);
    EXPECT_EQ(manager->UnregisterModuleEvent(L"E", &a), 0);
    EXPECT_EQ(manager->UnregisterModuleEvent(L"E", &a), -5);
    EXPECT_EQ(manager->SendModuleEvent(L"E", 0, nullptr, nullptr), 1);
    EXPECT_EQ(journal, std::vector<std::wstring>{L"b:E:0"});
}

TEST_F(PluginManager, ModuleUnregisteredDuringDeliveryIsNotCalled) {
    RecordingModule first(L"first", &journal), second(L"second", &journal);
    first.onEvent = [&] { manager->UnregisterModuleEvent(L"E", &second); };
    manager->RegisterModuleEvent(L"E", &first, 0);
    manager->RegisterModuleEvent(L"E", &second, 1);
    EXPECT_EQ(manager->SendModuleEvent(L"E", 0, nullptr, nullptr), 1);
    EXPECT_EQ(journal, std::vector<std::wstring>{L"first:E:0"});
}

TEST_F(PluginManager, DeviceManagerRefreshIsAnnouncedToTheModulesAfterwards) {
    RecordingModule module(L"m", &journal);
    int countSeen = -1;
    module.onEvent = [&] { countSeen = zthost::DeviceManagerRefreshCount(); };
    ASSERT_EQ(manager->RegisterModuleEvent(L"ZT_MODULEEVENT_DM_AFTER_REFRESH", &module, -1), 0);
    zthost::LogicalDeviceSetup lamp;
    lamp.id = 1;
    lamp.type = ZT_LOGDEV_LIGHT;
    lamp.key = L"Lamp";
    ASSERT_EQ(zthost::AddLogicalDevice(lamp), 0);
    DMApi* devices = zthost::HostContext()->GetDeviceManager();
    ASSERT_NE(devices, nullptr);
    EXPECT_EQ(devices->DMApi_Refresh(), 0);
    EXPECT_EQ(journal, std::vector<std::wstring>{L"m:ZT_MODULEEVENT_DM_AFTER_REFRESH:0"});
    EXPECT_EQ(countSeen, 1);
}

TEST_F(PluginManager, TurningTheCameraIsAnnouncedToTheModulesWithTheTurnInPlace) {
    RecordingModule module(L"m", &journal);
    SZtCameraNewParams seen;
    double rotationSeen = -1.0;
    module.onEvent = [&] {
        rotationSeen = zthost::Camera().rotationDegrees;
        seen = *static_cast<const SZtCameraNewParams*>(module.lastList);
    };
    ASSERT_EQ(manager->RegisterModuleEvent(L"ZT_MODULEEVENT_CAMERA_NEW_PARAMS", &module, -1), 0);
    zthost::CameraSetup none;
    none.hasCamera = false;
    ASSERT_EQ(zthost::SetCamera(none), 0);
    EXPECT_EQ(zthost::TurnCamera(90.0, true), -6);
    EXPECT_TRUE(journal.empty());

    zthost::CameraSetup camera;
    camera.name = L"Cam1";
    camera.roiOn = true;
    camera.roi = {100, 200, 900, 600};
    ASSERT_EQ(zthost::SetCamera(camera), 0);
    EXPECT_EQ(zthost::TurnCamera(90.0, true), 0);
    EXPECT_EQ(journal, std::vector<std::wstring>{L"m:ZT_MODULEEVENT_CAMERA_NEW_PARAMS:1"});
    EXPECT_EQ(rotationSeen, 90.0);
    EXPECT_EQ(seen.camera.name, CZtStringW(L"Cam1"));
    EXPECT_EQ(seen.region.left, 100);
    EXPECT_EQ(seen.region.bottom, 600);
    const zthost::CameraSetup turned = zthost::Camera();
    EXPECT_EQ(turned.angleParams, (std::array<double, 4>{1.0, 0.0, 0.0, -1.0}));
    EXPECT_TRUE(turned.roiOn) << "the region stays";
    EXPECT_EQ(turned.roi.right, 900);
}

}  // namespace
