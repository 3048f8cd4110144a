// The light-path devices of the reference host as a plug-in drives them through DMApi: launch
// lines, single lights, laser outputs, shutters, refusals, custom commands, deferred completion,
// device-change events and the layout elements of the lights.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "logical_device.h"
#include "module_stub.h"
#include "zt/zt_devices.h"
#include "zt/zt_layout.h"
#include "zthost/layout.h"
#include "zthost/microscope.h"
#include "zthost/zthost.h"

namespace {

using zthost::LightControl;

constexpr ZT_DWORD kLaunch = 1;
constexpr ZT_DWORD kLamp = 2;
constexpr ZT_DWORD kSwitcher = 4;
constexpr ZT_DWORD kShutter = 5;
constexpr ZT_DWORD kPlainLight = 6;
constexpr ZT_DWORD kLaunchUnit = 100;  // the launch and its shutter are one physical device
constexpr ZT_DWORD kLampUnit = 200;

const wchar_t* const kDeviceChanged = L"ZT_MODULEEVENT_DEVICE_BEFORE_CHANGED";

// Records every device-change event with the changed ids and what the device manager answers for
// the launch's line 0 at that moment.
class DeviceEventModule : public ModuleStub {
public:
    int OnModuleEvent(const wchar_t* eventName, std::intptr_t param, bool*, void* list) override {
        const auto* ids = static_cast<const ZT_DWORD*>(list);
        std::wstring text;
        for (std::intptr_t i = 0; i < param; ++i) {
            text += std::to_wstring(ids[i]) + L";";
        }
        if (param == 1 && ids[0] == kLaunch) {
            double power = -1.0;
            bool used = false;
            DMApi* dm = zthost::HostContext()->GetDeviceManager();
            dm->MultiLaser_GetLinePower(kLaunch, 0, &power);
            dm->MultiLaser_GetLineUsed(kLaunch, 0, &used);
            text +=
                L" line0 " + std::to_wstring(static_cast<int>(power)) + (used ? L" on" : L" off");
        }
        std::lock_guard lock(m_mutex);
        m_events.push_back(std::wstring(eventName) + L" " + text);
        return 0;
    }
    std::vector<std::wstring> Events() {
        std::lock_guard lock(m_mutex);
        return m_events;
    }
    void ClearEvents() {
        std::lock_guard lock(m_mutex);
        m_events.clear();
    }

private:
    std::mutex m_mutex;
    std::vector<std::wstring> m_events;  // guarded by m_mutex
};

std::wstring Event(const std::wstring& ids) {
    return std::wstring(kDeviceChanged) + L" " + ids;
}

class LightPathDevices : public ::testing::Test {
protected:
    void SetUp() override {
        zthost::ResetForTests();
        zthost::LogicalDeviceSetup launch = LogicalDevice(kLaunch, ZT_LOGDEV_MULTILASER, L"Launch");
        launch.physicalId = kLaunchUnit;
        launch.lines = {{405, 20.0, true}, {488, 0.0, false}, {561, 75.5, true}};
        launch.capabilities = {ZT_LOGDEV_CAP_LIGHT_INTENSITY};
        zthost::LogicalDeviceSetup lamp = LogicalDevice(kLamp, ZT_LOGDEV_LIGHT, L"Lamp");
        lamp.physicalId = kLampUnit;
        lamp.lightControl = LightControl::Voltage;
        lamp.minimum = 0.0;
        lamp.maximum = 5.0;
        lamp.stepCount = 11;
        lamp.value = 2.0;
        lamp.capabilities = {ZT_LOGDEV_CAP_LIGHT_ONOFF};
        zthost::LogicalDeviceSetup switcher =
            LogicalDevice(kSwitcher, ZT_LOGDEV_LASEROUTPUT, L"Output");
        switcher.positionNames = {L"Left", L"Right", L"Both"};
        switcher.capabilities = {ZT_LOGDEV_CAP_LASEROUTPUT_FIXED};
        zthost::LogicalDeviceSetup shutter =
            LogicalDevice(kShutter, ZT_LOGDEV_SHUTTER, L"LaunchShutter");
        shutter.physicalId = kLaunchUnit;
        for (const auto& device : {launch, lamp, switcher, shutter,
                                   LogicalDevice(kPlainLight, ZT_LOGDEV_LIGHT, L"Launch")}) {
            ASSERT_EQ(zthost::AddLogicalDevice(device), 0) << device.id;
        }
        m_dm = zthost::HostContext()->GetDeviceManager();
        ASSERT_NE(m_dm, nullptr);
        ASSERT_EQ(zthost::PluginManager()->RegisterModuleEvent(kDeviceChanged, &m_module, 0), 0);
    }
    void TearDown() override { zthost::ResetForTests(); }

    double LinePower(int line) {
        double power = -1.0;
        EXPECT_EQ(m_dm->MultiLaser_GetLinePower(kLaunch, line, &power), 0);
        return power;
    }

    bool ShutterOpen() {
        bool open = false;
        EXPECT_EQ(m_dm->Shutter_GetState(kShutter, &open), 0);
        return open;
    }

    DMApi* m_dm = nullptr;
    DeviceEventModule m_module;
};

// Port and shutter states, refusals and announcements on the plug-in's path are in the LightPath
// suite; these are the answers it never provokes.
TEST_F(LightPathDevices, WrongTypesRangesAndKeysAreRefused) {
    EXPECT_EQ(m_dm->LaserOutput_SetPortCombination(kSwitcher, 3), -7);
    EXPECT_EQ(m_dm->LaserOutput_SetPortCombination(kShutter, 0), -6);
    EXPECT_EQ(m_dm->Shutter_SetState(kSwitcher, true, 0, true), -6);
    EXPECT_EQ(zthost::DeviceStateText(kSwitcher), L"Port Left");

    // Keys resolve per type: the launch and the plain light share the key "Launch".
    ZT_DWORD id = 0;
    ASSERT_EQ(m_dm->LogDev_GetIdByKey(ZT_LOGDEV_MULTILASER, L"Launch", &id), 0);
    EXPECT_EQ(id, kLaunch);
    ASSERT_EQ(m_dm->LogDev_GetIdByKey(ZT_LOGDEV_LIGHT, L"Launch", &id), 0);
    EXPECT_EQ(id, kPlainLight);
    id = 77;
    EXPECT_EQ(m_dm->LogDev_GetIdByKey(ZT_LOGDEV_SHUTTER, L"Launch", &id), -5);
    EXPECT_EQ(m_dm->LogDev_GetIdByKey(ZT_LOGDEV_SHUTTER, nullptr, &id), -4);
    EXPECT_EQ(id, 77u);
}

// Handlers read the new state: the event goes out after the device manager answers it.
TEST_F(LightPathDevices, StateChangesReachRegisteredModules) {
    ASSERT_EQ(m_dm->MultiLaser_SetLinePower(kLaunch, 0, 30.0), 0);
    ASSERT_EQ(m_dm->MultiLaser_SetLinePower(kLaunch, 0, 30.0), 0);  // no change
    ASSERT_EQ(m_dm->MultiLaser_SetLineUsed(kLaunch, 0, false), 0);
    ASSERT_EQ(m_dm->Light_SetVoltage(kLamp, 1.0), 0);
    ASSERT_EQ(m_dm->LaserOutput_SetPortCombination(kSwitcher, 2), 0);
    ASSERT_EQ(m_dm->Shutter_SetState(kShutter, true, 0, true), 0);
    ASSERT_EQ(m_dm->Shutter_SetState(kShutter, false, 0, false), 0);  // kept from the modules
    EXPECT_FALSE(ShutterOpen());
    EXPECT_EQ(m_module.Events(),
              (std::vector<std::wstring>{Event(L"1; line0 30 on"), Event(L"1; line0 30 off"),
                                         Event(L"2;"), Event(L"4;"), Event(L"5;")}));

    // Set-up changes are silent; the user acting on the host's own controls is announced.
    m_module.ClearEvents();
    zthost::LogicalDeviceSetup lamp;
    ASSERT_TRUE(zthost::FindLogicalDevice(kLamp, &lamp));
    lamp.value = 4.0;
    ASSERT_EQ(zthost::UpdateLogicalDevice(lamp), 0);
    EXPECT_TRUE(m_module.Events().empty());
    zthost::NotifyDevicesChanged({kLamp, kShutter});
    EXPECT_EQ(m_module.Events(), (std::vector<std::wstring>{Event(L"2;5;")}));

    // A module that is gone hears nothing more.
    ASSERT_EQ(zthost::PluginManager()->UnregisterModuleEvent(kDeviceChanged, &m_module), 0);
    m_module.ClearEvents();
    ASSERT_EQ(m_dm->Light_SetVoltage(kLamp, 0.5), 0);
    EXPECT_TRUE(m_module.Events().empty());
}

TEST_F(LightPathDevices, DeferredCommandsCompleteInOrderBeforeTheWaitReturns) {
    bool supported = true;
    ASSERT_EQ(m_dm->PhysDev_SupportsDeferredCompletion(kLaunchUnit, &supported), 0);
    EXPECT_FALSE(supported);
    EXPECT_EQ(m_dm->PhysDev_SetDeferredCompletion(kLaunchUnit, true), -9);
    EXPECT_EQ(m_dm->PhysDev_SetDeferredCompletion(999, true), -5);

    zthost::SetDeferredCompletionSupported(kLaunchUnit, true);
    ASSERT_EQ(m_dm->PhysDev_SupportsDeferredCompletion(kLaunchUnit, &supported), 0);
    EXPECT_TRUE(supported);
    ASSERT_EQ(m_dm->PhysDev_SetDeferredCompletion(kLaunchUnit, true), 0);
    bool on = false;
    ASSERT_EQ(m_dm->PhysDev_GetDeferredCompletion(kLaunchUnit, &on), 0);
    EXPECT_TRUE(on);

    zthost::HoldDeferredCompletion(kLaunchUnit, true);
    EXPECT_EQ(m_dm->MultiLaser_SetLinePower(kLaunch, 0, 50.0), ZT_DM_PENDING);
    EXPECT_EQ(m_dm->MultiLaser_SetLinePower(kLaunch, 0, 60.0), ZT_DM_PENDING);
    EXPECT_EQ(m_dm->MultiLaser_SetLineUsed(kLaunch, 0, false), ZT_DM_PENDING);
    EXPECT_EQ(m_dm->MultiLaser_SetLinePower(kLaunch, 0, 101.0), -7) << "checked at once";
    // Another physical device is not deferred: its command completes at once.
    EXPECT_EQ(m_dm->Light_SetVoltage(kLamp, 1.0), 0);

    EXPECT_EQ(zthost::PendingCommandCount(kLaunchUnit), 3);
    EXPECT_DOUBLE_EQ(LinePower(0), 20.0) << "pending commands are not shown yet";
    EXPECT_EQ(zthost::DeviceStateText(kLaunch),
              L"405 nm 20.0% on, 488 nm 0.0% off, 561 nm 75.5% on");
    EXPECT_EQ(m_dm->PhysDev_WaitForCompletion(kLaunchUnit, 20), -11);
    EXPECT_EQ(m_dm->PhysDev_WaitForCompletion(kLampUnit, 0), 0) << "nothing pending there";
    EXPECT_EQ(m_module.Events(), (std::vector<std::wstring>{Event(L"2;")}));

    zthost::HoldDeferredCompletion(kLaunchUnit, false);
    ASSERT_EQ(m_dm->PhysDev_WaitForCompletion(kLaunchUnit, 30000), 0);
    EXPECT_EQ(zthost::PendingCommandCount(kLaunchUnit), 0);
    EXPECT_DOUBLE_EQ(LinePower(0), 60.0);
    EXPECT_EQ(m_module.Events(),
              (std::vector<std::wstring>{Event(L"2;"), Event(L"1; line0 50 on"),
                                         Event(L"1; line0 60 on"), Event(L"1; line0 60 off")}));

    // Switched off, commands complete at once again.
    ASSERT_EQ(m_dm->PhysDev_SetDeferredCompletion(kLaunchUnit, false), 0);
    EXPECT_EQ(m_dm->MultiLaser_SetLinePower(kLaunch, 0, 10.0), 0);
    EXPECT_DOUBLE_EQ(LinePower(0), 10.0);
}

// A work thread waits without limit while the GUI side reads; the release lets it go. Under tsan
// no read races a completion.
TEST_F(LightPathDevices, WaitersOnOtherThreadsAreReleased) {
    zthost::SetDeferredCompletionSupported(kLaunchUnit, true);
    ASSERT_EQ(m_dm->PhysDev_SetDeferredCompletion(kLaunchUnit, true), 0);
    zthost::HoldDeferredCompletion(kLaunchUnit, true);
    for (int i = 1; i <= 50; ++i) {
        ASSERT_EQ(m_dm->MultiLaser_SetLinePower(kLaunch, 2, i), ZT_DM_PENDING);
    }
    std::atomic<int> waited{1};
    std::thread worker([&] { waited = m_dm->PhysDev_WaitForCompletion(kLaunchUnit, ZT_INFINITE); });
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::thread reader([&] {
        while (!stop) {
            double power = -1.0;
            if (m_dm->MultiLaser_GetLinePower(kLaunch, 2, &power) != 0 || power < 1.0 ||
                zthost::DeviceStateText(kLaunch).empty()) {
                ++bad;
            }
        }
    });
    zthost::HoldDeferredCompletion(kLaunchUnit, false);
    worker.join();
    stop = true;
    reader.join();
    EXPECT_EQ(waited, 0);
    EXPECT_EQ(bad, 0);
    EXPECT_DOUBLE_EQ(LinePower(2), 50.0);
    EXPECT_EQ(m_module.Events().size(), 50u);

    // Commands still held when the host is reset are dropped without completing.
    zthost::HoldDeferredCompletion(kLaunchUnit, true);
    ASSERT_EQ(m_dm->MultiLaser_SetLinePower(kLaunch, 2, 5.0), ZT_DM_PENDING);
    zthost::ResetForTests();
    EXPECT_EQ(zthost::PendingCommandCount(kLaunchUnit), 0);
}

}  // namespace
