// The light path of a stimulation device against the host's devices: associating a launch or a
// single light, per-group line settings, applying and restoring them around a stimulation, the
// switcher, the shutter chain, the host's light control, announcements, the state report and
// the settings file.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <atomic>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cztpluginverove.h"
#include "cztstimulationdeviceverove.h"
#include "cztverovelightpath.h"
#include "cztverovesettingsfile.h"
#include "iztstimulationdeviceaggregator.h"
#include "logical_device.h"
#include "recording_aggregator.h"
#include "settings_compare.h"
#include "verove_device.h"
#include "zt/zt_devices.h"
#include "zt/zt_registry.h"
#include "zthost/layout.h"
#include "zthost/microscope.h"
#include "zthost/registry_store.h"
#include "zthost/settings_store.h"
#include "zthost/zthost.h"

namespace {

using zthost::DeviceCommand;
using zthost::LaserLineSetup;
using zthost::LightControl;
using zthost::LogicalDeviceSetup;

constexpr const wchar_t* kName = L"CZtStimulationDeviceVerove_0";
constexpr const wchar_t* kFile = L"VeroveSim.bin";
constexpr ZT_DWORD kLaunch = 10;
constexpr ZT_DWORD kLamp = 11;
constexpr ZT_DWORD kIrisLamp = 12;
constexpr ZT_DWORD kSwitcher = 20;
constexpr ZT_DWORD kFixedSwitcher = 21;
constexpr ZT_DWORD kShutter1 = 30;
constexpr ZT_DWORD kShutter2 = 31;
constexpr ZT_DWORD kLaunchUnit = 100;
constexpr ZT_DWORD kLampUnit = 101;
constexpr ZT_DWORD kDmd = 50;

LogicalDeviceSetup Launch(ZT_DWORD id, const wchar_t* key, std::vector<LaserLineSetup> lines) {
    LogicalDeviceSetup launch;
    launch.id = id;
    launch.type = ZT_LOGDEV_MULTILASER;
    launch.key = key;
    launch.physicalId = kLaunchUnit;
    launch.capabilities = {ZT_LOGDEV_CAP_LIGHT_ONOFF};
    launch.lines = std::move(lines);
    return launch;
}

const std::vector<LaserLineSetup> kThreeLines = {
    {405, 20.0, true}, {488, 0.0, false}, {561, 50.0, true}};

LogicalDeviceSetup Lamp(ZT_DWORD id, const wchar_t* key, LightControl control, double value) {
    LogicalDeviceSetup lamp;
    lamp.id = id;
    lamp.type = ZT_LOGDEV_LIGHT;
    lamp.key = key;
    lamp.physicalId = kLampUnit + id;
    lamp.capabilities = {ZT_LOGDEV_CAP_LIGHT_INTENSITY};
    lamp.lightControl = control;
    lamp.maximum = control == LightControl::Voltage ? 12.0 : 100.0;
    lamp.stepCount = 5;
    lamp.value = value;
    return lamp;
}

void Refuse(ZT_DWORD id, DeviceCommand command) {
    LogicalDeviceSetup device;
    ASSERT_TRUE(zthost::FindLogicalDevice(id, &device));
    device.refused.push_back(command);
    ASSERT_EQ(zthost::UpdateLogicalDevice(device), 0);
}

LogicalDeviceSetup Find(ZT_DWORD id) {
    LogicalDeviceSetup device;
    EXPECT_TRUE(zthost::FindLogicalDevice(id, &device));
    return device;
}

std::vector<double> LaunchPowers() {
    std::vector<double> powers;
    for (const LaserLineSetup& line : Find(kLaunch).lines) {
        powers.push_back(line.power);
    }
    return powers;
}

std::vector<bool> LaunchUsed() {
    std::vector<bool> used;
    for (const LaserLineSetup& line : Find(kLaunch).lines) {
        used.push_back(line.used);
    }
    return used;
}

bool Logged(const std::wstring& text) {
    return zthost::LogContains(text);
}

// A device whose pad refreshes are counted: the pad re-reads the device when asked.
class PadCountingDevice : public CZtStimulationDeviceVeroveSim {
public:
    void RefreshPad() override { ++padRefreshes; }
    int padRefreshes = 0;
};

using CountingDevicePtr = std::unique_ptr<PadCountingDevice, ReleaseDevice>;

// What the host's notification callback received.
struct StateReports {
    std::vector<SZtVeroveStateRecord> records;
    std::vector<std::vector<ZT_DWORD>> shutters;
    std::vector<int> events;
};

void OnStateReport(int event, void* context, const void* record) {
    auto* reports = static_cast<StateReports*>(context);
    const auto* state = static_cast<const SZtVeroveStateRecord*>(record);
    reports->events.push_back(event);
    reports->records.push_back(*state);
    reports->shutters.emplace_back(state->shutterIds, state->shutterIds + state->shutterCount);
}

class LightPath : public ::testing::Test {
protected:
    void SetUp() override {
        zthost::ResetForTests();
        ASSERT_TRUE(m_dir.isValid());
        zthost::SetRegistryLocation(m_dir.filePath("registry.ini").toStdWString());
        zthost::SetSettingsLocation(m_dir.path().toStdWString());
        VerovePluginState().hostContext = zthost::HostContext();
        ASSERT_EQ(zthost::AddLogicalDevice(Launch(kLaunch, L"ML1", kThreeLines)), 0);
        ASSERT_EQ(zthost::AddLogicalDevice(Lamp(kLamp, L"Lamp", LightControl::Voltage, 3.5)), 0);
        ASSERT_EQ(zthost::AddLogicalDevice(Lamp(kIrisLamp, L"Iris", LightControl::Iris, 40.0)), 0);
        LogicalDeviceSetup output = LogicalDevice(kSwitcher, ZT_LOGDEV_LASEROUTPUT, L"LO1", 103);
        output.positionNames = {L"Left", L"Right", L"Both"};
        ASSERT_EQ(zthost::AddLogicalDevice(output), 0);
        output.id = kFixedSwitcher;
        output.key = L"LO2";
        output.capabilities = {ZT_LOGDEV_CAP_LASEROUTPUT_FIXED};
        ASSERT_EQ(zthost::AddLogicalDevice(output), 0);
        ASSERT_EQ(
            zthost::AddLogicalDevice(LogicalDevice(kShutter1, ZT_LOGDEV_SHUTTER, L"SH1", 104)), 0);
        LogicalDeviceSetup open = LogicalDevice(kShutter2, ZT_LOGDEV_SHUTTER, L"SH2", 104);
        open.open = true;
        ASSERT_EQ(zthost::AddLogicalDevice(open), 0);
        ASSERT_EQ(zthost::AddLogicalDevice(LogicalDevice(kDmd, 40, L"DMD1", 105)), 0);
    }
    void TearDown() override { VerovePluginState().hostContext = nullptr; }

    // A device that has read its (possibly missing) settings file, so that start-up is done.
    CountingDevicePtr StartedDevice(const wchar_t* name = kName) {
        CountingDevicePtr device(new PadCountingDevice());
        device->SetUniqueName(name);
        device->LoadKeys(nullptr, kDmd);
        device->LoadSettings();
        EXPECT_TRUE(device->IsStartupDone());
        return device;
    }

    QTemporaryDir m_dir;
};

// ---- Per-group line settings ------------------------------------------------------------------

TEST_F(LightPath, LineFlagsAndPowersPerGroupAndOnTheLaunch) {
    CountingDevicePtr device = StartedDevice();
    ASSERT_EQ(device->OnAssociatedLightChanged(kLaunch), 0);
    EXPECT_EQ(device->SetLineUsed(1, 2, true), 0);
    EXPECT_TRUE(device->GetLineUsed(1, 2));
    EXPECT_EQ(LaunchUsed(), (std::vector<bool>{true, false, true})) << "a group's flag is stored";
    EXPECT_EQ(device->SetLineUsed(1, 3, true), 0);
    EXPECT_EQ(LaunchUsed(), (std::vector<bool>{true, true, true}));
    // Direct control drives the launch; a group's power is only stored.
    device->SetLinePower(2, 3, 75.0);
    device->SetLinePower(0, 1, 42.5);
    EXPECT_EQ(LaunchPowers(), (std::vector<double>{20.0, 0.0, 75.0}));
    EXPECT_EQ(device->GetLinePower(0, 1), 42.5);

    Refuse(kLaunch, DeviceCommand::LineUsed);
    const int refreshes = device->padRefreshes;
    EXPECT_EQ(device->SetLineUsed(0, 3, false), -9);
    EXPECT_TRUE(device->GetLineUsed(0, 3));
    EXPECT_EQ(LaunchUsed(), (std::vector<bool>{true, true, true}));
    EXPECT_EQ(device->padRefreshes, refreshes + 1);
    // The launch already has the state: nothing to send, nothing to refuse.
    EXPECT_EQ(device->SetLineUsed(0, 3, true), 0);

    // A single light has no lines to switch.
    ASSERT_EQ(device->OnAssociatedLightChanged(kLamp), 0);
    EXPECT_EQ(device->SetLineUsed(0, 0, false), -9);
    EXPECT_TRUE(device->GetLineUsed(0, 0));
}

TEST_F(LightPath, ValuesOutsideTheirRangesLogAndChangeNothing) {
    CountingDevicePtr device = StartedDevice();
    ASSERT_EQ(device->OnAssociatedLightChanged(kLaunch), 0);
    device->SetLinePower(0, 1, 150.0);
    device->SetLinePower(0, 3, -1.0);
    device->SetLinePower(0, 2, std::nan(""));
    device->SetLinePower(7, 1, 10.0);
    device->SetLinePower(0, 4, 10.0);
    EXPECT_EQ(device->SetLineUsed(-1, 0, true), -9);
    EXPECT_EQ(device->SetLineUsed(0, 9, true), -9);
    device->OnLaserLineShow(5, false);
    for (int group = 0; group < 3; ++group) {
        EXPECT_EQ(device->GetLinePower(0, group), 0.0);
        EXPECT_FALSE(device->GetLineUsed(0, group));
    }
    EXPECT_EQ(LaunchPowers(), (std::vector<double>{20.0, 0.0, 50.0}));
    EXPECT_EQ(device->GetLinePower(9, 0), 0.0);
    EXPECT_EQ(device->GetLineName(9), L"");

    std::vector<double> previous;
    device->SettingsApply_LaserPower(3, &previous);
    EXPECT_TRUE(previous.empty());

    device->OnLaserLineShow(1, false);
    EXPECT_FALSE(device->GetLineVisible(1));
    EXPECT_TRUE(device->GetLineVisible(0));
}

// ---- Associating a light ----------------------------------------------------------------------

TEST_F(LightPath, TheSameLaunchAgainKeepsItsGroupValuesAnotherGetsFreshRecords) {
    CountingDevicePtr device = StartedDevice();
    ASSERT_EQ(device->OnAssociatedLightChanged(kLaunch), 0);
    device->SetLinePower(1, 0, 33.0);
    device->SetLineUsed(1, 0, true);
    EXPECT_EQ(device->OnAssociatedLightChanged(kLaunch), 0);
    EXPECT_EQ(device->GetLinePower(1, 0), 33.0);

    // The launch comes back under another id, same key and lines: the values stay.
    ASSERT_EQ(zthost::RemoveLogicalDevice(kLaunch), 0);
    ASSERT_EQ(zthost::AddLogicalDevice(Launch(15, L"ML1", kThreeLines)), 0);
    EXPECT_EQ(device->OnAssociatedLightChanged(15), 0);
    EXPECT_EQ(device->GetLinePower(1, 0), 33.0);
    EXPECT_TRUE(device->GetLineUsed(1, 0));

    // Same key, but the launch now has four lines: fresh records.
    std::vector<LaserLineSetup> four = kThreeLines;
    four.push_back({640, 5.0, false});
    ASSERT_EQ(zthost::AddLogicalDevice(Launch(16, L"ML1", four)), 0);
    EXPECT_EQ(device->OnAssociatedLightChanged(16), 0);
    ASSERT_EQ(device->GetLineCount(), 4);
    EXPECT_EQ(device->GetLinePower(1, 0), 0.0);
    EXPECT_FALSE(device->GetLineUsed(1, 0));
    EXPECT_EQ(device->GetLinePower(3, 3), 5.0);

    // Another launch: fresh records as well.
    ASSERT_EQ(zthost::AddLogicalDevice(Launch(17, L"ML2", {{445, 1.0, true}})), 0);
    device->SetLinePower(0, 2, 9.0);
    EXPECT_EQ(device->OnAssociatedLightChanged(17), 0);
    EXPECT_EQ(device->GetSettings().laserLaunchKey, L"ML2");
    ASSERT_EQ(device->GetLineCount(), 1);
    EXPECT_EQ(device->GetLinePower(0, 2), 0.0);
}

TEST_F(LightPath, NoneOrAnUnknownDeviceClearsTheAssociation) {
    CountingDevicePtr device = StartedDevice();
    ASSERT_EQ(device->OnAssociatedLightChanged(kLaunch), 0);
    EXPECT_EQ(device->OnAssociatedLightChanged(999), -9);
    EXPECT_EQ(device->GetLineCount(), 0);
    EXPECT_EQ(device->GetSettings().laserLaunchKey, L"");
    EXPECT_EQ(device->GetSettings().laserLaunchType, L"");
    // A shutter is no light either.
    EXPECT_EQ(device->OnAssociatedLightChanged(kShutter1), -9);
    ZT_DWORD light = 7;
    EXPECT_EQ(device->ParameterByCode(77839, &light), 0);
    EXPECT_EQ(light, 0u);

    std::vector<double> previous;
    device->SettingsApply_LaserPower(0, &previous);
    EXPECT_TRUE(Logged(L"End - fail, no laser launch"));
    device->SettingsApply_LaserPower(std::vector<double>{});
    EXPECT_TRUE(Logged(L"End - fail, no Laser Launch"));
    device->SetLinePower(0, 3, 10.0);
    EXPECT_TRUE(Logged(L"No line 0 in group 3, nothing set."));
}

TEST_F(LightPath, SingleLightIsOneLineDrivenByVoltageOrIris) {
    CountingDevicePtr device = StartedDevice();
    ASSERT_EQ(device->OnAssociatedLightChanged(kLamp), 0);
    EXPECT_EQ(device->GetSettings().laserLaunchType, L"IDeviceLight");
    ASSERT_EQ(device->GetLineCount(), 1);
    EXPECT_EQ(device->GetLinePower(0, 3), 3.5);
    for (int group = 0; group < 4; ++group) {
        EXPECT_TRUE(device->GetLineUsed(0, group));
    }
    device->SetLinePower(0, 3, 6.25);
    EXPECT_EQ(zthost::DeviceStateText(kLamp), L"Voltage 6.25");
    EXPECT_EQ(device->GetLinePower(0, 3), 6.25);
    // Above the lamp's range: refused, the stored value stays.
    device->SetLinePower(0, 3, 20.0);
    EXPECT_EQ(zthost::DeviceStateText(kLamp), L"Voltage 6.25");
    EXPECT_EQ(device->GetLinePower(0, 3), 6.25);

    device->SetLinePower(0, 0, 8.0);
    std::vector<double> previous;
    device->SettingsApply_LaserPower(0, &previous);
    EXPECT_EQ(previous, std::vector<double>{6.25});
    EXPECT_EQ(zthost::DeviceStateText(kLamp), L"Voltage 8.00");
    device->SettingsApply_LaserPower(previous);
    EXPECT_EQ(zthost::DeviceStateText(kLamp), L"Voltage 6.25");

    ASSERT_EQ(device->OnAssociatedLightChanged(kIrisLamp), 0);
    EXPECT_EQ(device->GetLinePower(0, 3), 40.0);
    EXPECT_EQ(device->GetLinePower(0, 0), 0.0);
    device->SetLinePower(0, 3, 55.0);
    EXPECT_EQ(zthost::DeviceStateText(kIrisLamp), L"Iris 55.00");
    EXPECT_EQ(zthost::DeviceStateText(kLamp), L"Voltage 6.25");
}

// ---- Around a stimulation: lines, switcher and shutters
// ------------------------------------------

// What a stimulation does to the light path, step by step, and what the host's devices show after
// each step. Group 1 has its own lines; the user chose port "Both" and the shutters SH1 (closed)
// and SH2 (open, and refusing every change: it must not be asked while it stands right).
TEST_F(LightPath, AStimulationsStepsSwitchTheDevicesAndPutThemBack) {
    CountingDevicePtr device = StartedDevice();
    ASSERT_EQ(device->OnAssociatedLightChanged(kLaunch), 0);
    device->SetLinePower(0, 1, 30.0);
    device->SetLinePower(1, 1, 12.34);
    device->SetLineUsed(1, 1, true);
    device->SetLineUsed(2, 1, false);
    device->OnLaserSwitcherDeviceSelectionChanged(kSwitcher);
    device->OnLaserSwitcherPositionSelectionChanged(2);
    device->OnAssociatedShuttersChanged({L"SH1", L"SH2"});
    Refuse(kShutter2, DeviceCommand::ShutterState);
    // Changed through the host's own control, unseen by the device: the launch tells the truth.
    LogicalDeviceSetup launch = Find(kLaunch);
    launch.lines[2].power = 47.0;
    ASSERT_EQ(zthost::UpdateLogicalDevice(launch), 0);
    const std::wstring before = L"405 nm 20.0% on, 488 nm 0.0% off, 561 nm 47.0% on";

    std::vector<double> powers;
    std::vector<bool> used;
    struct Step {
        const char* what;
        std::function<int()> run;
        int status;
        std::wstring launch, switcher, shutter1;
    };
    const std::vector<Step> steps = {
        {"apply group 1's lines",
         [&] {
             device->SettingsApply_LaserPower(1, &powers);
             device->SettingsApply_LineUsed(1, &used);
             return 0;
         },
         0, L"405 nm 30.0% off, 488 nm 12.3% on, 561 nm 0.0% off", L"Port Left", L"Closed"},
        {"apply the switcher", [&] { return device->SettingsApply_Switcher(), 0; }, 0, L"",
         L"Port Both", L""},
        {"open the shutters", [&] { return device->SetAssociatedShuttersOpenState(true); }, 0, L"",
         L"", L"Open"},
        {"restore the lines",
         [&] {
             device->SettingsApply_LaserPower(powers);
             device->SettingsApply_LineUsed(used);
             return 0;
         },
         0, before, L"", L""},
        {"restore a record of another line count",
         [&] {
             device->SettingsApply_LaserPower(std::vector<double>{1.0, 2.0});
             device->SettingsApply_LineUsed(std::vector<bool>{false, false, false, false});
             return 0;
         },
         0, before, L"", L""},
        {"revert the switcher", [&] { return device->SettingsRevert_Switcher(), 0; }, 0, L"",
         L"Port Left", L""},
        {"close the shutters", [&] { return device->SetAssociatedShuttersOpenState(false); }, -9,
         L"", L"", L"Closed"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        EXPECT_EQ(step.run(), step.status);
        for (const auto& [id, text] :
             {std::pair{kLaunch, step.launch}, std::pair{kSwitcher, step.switcher},
              std::pair{kShutter1, step.shutter1}}) {
            if (!text.empty()) {
                EXPECT_EQ(zthost::DeviceStateText(id), text) << id;
            }
        }
    }
    EXPECT_EQ(powers, (std::vector<double>{20.0, 0.0, 47.0}));
    EXPECT_EQ(zthost::DeviceStateText(kShutter2), L"Open");

    // A switcher whose key changed meanwhile is not the one the user chose.
    LogicalDeviceSetup output = Find(kSwitcher);
    output.key = L"LO9";
    ASSERT_EQ(zthost::UpdateLogicalDevice(output), 0);
    device->SettingsApply_Switcher();
    EXPECT_EQ(zthost::DeviceStateText(kSwitcher), L"Port Left");
}

TEST_F(LightPath, TheChosenSwitcherAndPortAreAnnouncedToLaserOutputsAndTheAggregator) {
    CountingDevicePtr device = StartedDevice();
    RecordingAggregator* aggregator = new RecordingAggregator();
    ASSERT_EQ(device->SetControllingAggregator(aggregator), 0);
    zthost::ClearCustomCommands();

    device->OnLaserSwitcherDeviceSelectionChanged(kSwitcher);
    EXPECT_EQ(device->GetSettings().laserSwitcherKey, L"LO1");
    ASSERT_EQ(aggregator->reasons, std::vector<int>{1});
    EXPECT_EQ(aggregator->senders[0], static_cast<IZtStimulationDeviceEx*>(device.get()));
    device->OnLaserSwitcherPositionSelectionChanged(2);
    device->OnLaserSwitcherPositionSelectionChanged(2);  // unchanged: no announcement
    const std::vector<zthost::CustomCommandRecord> commands = zthost::CustomCommands();
    ASSERT_EQ(commands.size(), 4u);  // to both laser outputs, twice
    for (size_t i = 0; i < commands.size(); ++i) {
        EXPECT_EQ(commands[i].deviceId, i % 2 == 0 ? kSwitcher : kFixedSwitcher);
        EXPECT_EQ(commands[i].command, 77830u);
        EXPECT_EQ(commands[i].first, kSwitcher);
        EXPECT_EQ(commands[i].second, i < 2 ? 0u : 2u);
    }
    ZT_DWORD light = 9, switcher = 0, port = 0;
    EXPECT_EQ(device->GetAssociatedDeviceInfo(&light, &switcher, &port), 0);
    EXPECT_EQ(switcher, kSwitcher);
    EXPECT_EQ(port, 2u);

    device->OnLaserSwitcherDeviceSelectionChanged(kShutter1);  // no switcher
    EXPECT_EQ(device->GetSettings().laserSwitcherKey, L"");
    EXPECT_EQ(aggregator->reasons.size(), 2u);
    ASSERT_EQ(device->SetControllingAggregator(nullptr), 0);
    aggregator->Release();
}

TEST_F(LightPath, DeviceFollowsTheLaunchThroughEventsOfTheCompletionThread) {
    const wchar_t* name = L"CZtStimulationDeviceVeroveSim_0";
    CountingDevicePtr device = StartedDevice(name);
    SZtStimulationDeviceRecord record;
    record.typeName = L"Unknown";
    record.uniqueName = name;
    record.device = device.get();
    IZtStimulationDeviceManager* manager = CZtStimulationDeviceManager::GetInstance();
    ASSERT_EQ(manager->StaticDeviceAdd(record), 0);
    auto* module = new CZtModuleVeroveSim();
    const wchar_t* changed = L"ZT_MODULEEVENT_DEVICE_BEFORE_CHANGED";
    ASSERT_EQ(zthost::PluginManager()->RegisterModuleEvent(changed, module, -1), 0);
    ASSERT_EQ(device->OnAssociatedLightChanged(kLaunch), 0);
    for (int line = 0; line < 3; ++line) {
        device->SetLinePower(line, 0, 10.0 * (line + 1));
        device->SetLineUsed(line, 0, true);
    }
    zthost::SetDeferredCompletionSupported(kLaunchUnit, true);
    zthost::HoldDeferredCompletion(kLaunchUnit, true);
    ASSERT_TRUE(device->LightDeferredCompletionBegin());
    std::vector<double> powers;
    std::vector<bool> used;
    device->SettingsApply_LaserPower(0, &powers);
    device->SettingsApply_LineUsed(0, &used);

    // The pad keeps reading while the launch completes the commands on its own thread.
    std::atomic<bool> done{false};
    std::thread pad([&] {
        while (!done.load()) {
            for (int line = 0; line < 3; ++line) {
                device->GetLinePower(line, 3);
                device->GetLineUsed(line, 3);
            }
        }
    });
    zthost::HoldDeferredCompletion(kLaunchUnit, false);
    device->LightDeferredCompletionWait(60000);
    done.store(true);
    pad.join();
    for (int line = 0; line < 3; ++line) {
        EXPECT_EQ(device->GetLinePower(line, 3), 10.0 * (line + 1)) << line;
        EXPECT_TRUE(device->GetLineUsed(line, 3)) << line;
    }
    ASSERT_EQ(zthost::PluginManager()->UnregisterModuleEvent(changed, module), 0);
    module->Release();
    ASSERT_EQ(manager->StaticDeviceRemove("CZtStimulationDeviceVeroveSim_0"), 0);
}

TEST_F(LightPath, ShutterChainInAnyOrderIsTheSameChain) {
    CountingDevicePtr device = StartedDevice();
    device->OnAssociatedShuttersChanged({L"SH1", L"SH2"});
    ZT_DWORD count = 0;
    device->OnAssociatedShuttersChanged({L"SH2", L"SH1"});
    EXPECT_EQ(device->GetSettings().shutterKeys, (std::vector<CZtStringW>{L"SH1", L"SH2"}));

    device->OnAssociatedShuttersChanged({L"SH2", L"Gone"});
    EXPECT_EQ(device->GetSettings().shutterKeys, (std::vector<CZtStringW>{L"SH2", L"Gone"}));
    EXPECT_EQ(device->GetAssociatedShutterCount(&count), 0);
    EXPECT_EQ(count, 1u);
    ZT_DWORD id = 0;
    EXPECT_EQ(device->GetAssociatedShutterId(0, &id), 0);
    EXPECT_EQ(id, kShutter2);
    EXPECT_EQ(device->GetAssociatedShutterId(1, &id), 21);
    EXPECT_EQ(id, 0u);
}

// ---- The host's light control -------------------------------------------------------------------

TEST_F(LightPath, HostLightControlLeavesTheLayoutAndReturnsToItsPlace) {
    zthost::AddLayoutElement(kShutter1);
    zthost::AddLayoutElement(kLaunch);
    zthost::AddPhysicalLayoutElement(kLampUnit + kLamp);
    zthost::AddLayoutElement(kShutter2);
    const std::vector<std::wstring> all = {L"L30", L"L10", L"P112", L"L31"};
    {
        CountingDevicePtr device = StartedDevice();
        ASSERT_EQ(device->OnAssociatedLightChanged(kLaunch), 0);
        EXPECT_EQ(zthost::LayoutContents(L"AcquisitionControls"),
                  (std::vector<std::wstring>{L"L30", L"P112", L"L31"}));
        // The lamp has only its physical device's element.
        ASSERT_EQ(device->OnAssociatedLightChanged(kLamp), 0);
        EXPECT_EQ(zthost::LayoutContents(L"AcquisitionControls"),
                  (std::vector<std::wstring>{L"L30", L"L10", L"L31"}));
        EXPECT_EQ(device->OnAssociatedLightChanged(0), -9);
        EXPECT_EQ(zthost::LayoutContents(L"AcquisitionControls"), all);
        ASSERT_EQ(device->OnAssociatedLightChanged(kLaunch), 0);
    }
    // Releasing the device puts the control back as well.
    EXPECT_EQ(zthost::LayoutContents(L"AcquisitionControls"), all);

    // A light whose physical device went off line keeps its control out.
    CountingDevicePtr device = StartedDevice();
    ASSERT_EQ(device->OnAssociatedLightChanged(kLaunch), 0);
    zthost::SetPhysicalDeviceConnected(kLaunchUnit, false);
    EXPECT_EQ(device->OnAssociatedLightChanged(kLamp), 0);
    EXPECT_EQ(zthost::LayoutContents(L"AcquisitionControls"),
              (std::vector<std::wstring>{L"L30", L"L31"}));
}

// ---- Announcements and state report -------------------------------------------------------------

TEST_F(LightPath, AssociationIsAnnouncedToLaserOutputsAndReportedToTheHost) {
    ASSERT_EQ(zthost::SetCamera(zthost::CameraSetup{}), 0);  // patterns render for a camera
    CountingDevicePtr device = StartedDevice();
    ASSERT_TRUE(device->Connect(true, 0, 0));
    StateReports reports;
    struct {
        void* context;
        ZT_VEROVE_NOTIFY callback;
    } notify = {&reports, &OnStateReport};
    ASSERT_EQ(device->ParameterByCode(77831, &notify), 0);
    device->OnAssociatedShuttersChanged({L"SH1", L"SH2"});
    device->OnLaserSwitcherDeviceSelectionChanged(kSwitcher);
    Refuse(kFixedSwitcher, DeviceCommand::CustomCommand);
    zthost::ClearCustomCommands();

    ASSERT_EQ(device->OnAssociatedLightChanged(kLaunch), 0);
    const std::vector<zthost::CustomCommandRecord> commands = zthost::CustomCommands();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].deviceId, kSwitcher);
    EXPECT_EQ(commands[0].command, 77829u);
    EXPECT_EQ(commands[0].text, L"IDeviceMultiLaser");
    EXPECT_EQ(commands[0].first, kLaunch);

    ASSERT_EQ(reports.records.size(), 3u);
    const SZtVeroveStateRecord& last = reports.records.back();
    EXPECT_EQ(last.logicalId, kDmd);
    EXPECT_EQ(last.switcherId, kSwitcher);
    EXPECT_EQ(last.lightId, kLaunch);
    EXPECT_EQ(reports.shutters.back(), (std::vector<ZT_DWORD>{kShutter1, kShutter2}));

    ASSERT_EQ(device->SetActivePatternId(1), 0);
    zthost::ClearCustomCommands();
    EXPECT_EQ(device->OnAssociatedLightChanged(0), -9);
    ASSERT_EQ(reports.records.size(), 4u);
    EXPECT_EQ(reports.records.back().lightId, 0u);
    EXPECT_EQ(reports.records.back().activePatternId, 1u);
    ASSERT_EQ(zthost::CustomCommands().size(), 1u);
    EXPECT_EQ(zthost::CustomCommands()[0].first, 0u);
    device->Connect(false, 0, -1);
}

// ---- Device changes and refreshes ---------------------------------------------------------------

TEST_F(LightPath, DeviceChangesOfTheLightUpdateTheCurrentValues) {
    CountingDevicePtr device = StartedDevice();
    ASSERT_EQ(device->OnAssociatedLightChanged(kLaunch), 0);
    LogicalDeviceSetup launch = Find(kLaunch);
    launch.lines[0] = {405, 33.3, false};
    launch.lines[2].power = 50.04;  // the same at one decimal
    ASSERT_EQ(zthost::UpdateLogicalDevice(launch), 0);
    const std::uint32_t ids[] = {kLaunch};
    device->HandleDeviceChanged(ids, 1);
    EXPECT_EQ(device->GetLinePower(0, 3), 33.3);
    EXPECT_FALSE(device->GetLineUsed(0, 3));
    EXPECT_EQ(device->GetLinePower(2, 3), 50.0);

    ASSERT_EQ(device->OnAssociatedLightChanged(kLamp), 0);
    ASSERT_EQ(zthost::UpdateLogicalDevice(Lamp(kLamp, L"Lamp", LightControl::Voltage, 7.0)), 0);
    const std::uint32_t lamp[] = {kLaunch, kLamp};
    device->HandleDeviceChanged(lamp, 2);
    EXPECT_EQ(device->GetLinePower(0, 3), 7.0);
}

TEST_F(LightPath, RefreshOffersCandidatesAndResolvesTheAssociationAgain) {
    LogicalDeviceSetup plain = Lamp(13, L"Plain", LightControl::None, 0.0);
    ASSERT_EQ(zthost::AddLogicalDevice(plain), 0);
    LogicalDeviceSetup uncontrolled = Launch(14, L"ML3", kThreeLines);
    uncontrolled.capabilities.clear();
    ASSERT_EQ(zthost::AddLogicalDevice(uncontrolled), 0);
    LogicalDeviceSetup twin = Find(kSwitcher);
    twin.id = 22;
    ASSERT_EQ(zthost::AddLogicalDevice(twin), 0);
    CountingDevicePtr device = StartedDevice();
    ASSERT_EQ(device->OnAssociatedLightChanged(kLaunch), 0);
    device->SetLinePower(2, 0, 44.0);

    EXPECT_EQ(device->HandleDMRefreshDelayed(), 0);
    auto ids = [](const std::vector<SZtVeroveCandidate>& list) {
        std::vector<ZT_DWORD> result;
        for (const SZtVeroveCandidate& c : list) {
            result.push_back(c.id);
        }
        return result;
    };
    const CZtVeroveLightPath& path = device->GetLightPath();
    EXPECT_EQ(ids(path.GetLaunchCandidates()), std::vector<ZT_DWORD>{kLaunch});
    EXPECT_EQ(ids(path.GetLightCandidates()), (std::vector<ZT_DWORD>{kLamp, kIrisLamp}));
    EXPECT_EQ(ids(path.GetShutterCandidates()), (std::vector<ZT_DWORD>{kShutter1, kShutter2}));
    EXPECT_EQ(ids(path.GetSwitcherCandidates()), std::vector<ZT_DWORD>{kSwitcher});

    // The launch leaves: its records wait for it; it returns under a new id.
    ASSERT_EQ(zthost::RemoveLogicalDevice(kLaunch), 0);
    device->HandleDMRefreshDelayed();
    EXPECT_EQ(device->GetLightPath().GetLightId(), 0u);
    EXPECT_EQ(device->GetLinePower(2, 0), 44.0);
    EXPECT_TRUE(device->GetLightPath().GetLaunchCandidates().empty());
    ASSERT_EQ(zthost::AddLogicalDevice(Launch(18, L"ML1", kThreeLines)), 0);
    device->HandleDMRefreshDelayed();
    EXPECT_EQ(device->GetLightPath().GetLightId(), 18u);
    EXPECT_EQ(device->GetLinePower(2, 0), 44.0);

    // Choosing no light while the stored one is away forgets it.
    ASSERT_EQ(zthost::RemoveLogicalDevice(18), 0);
    device->HandleDMRefreshDelayed();
    EXPECT_EQ(device->OnAssociatedLightChanged(0), -9);
    EXPECT_EQ(device->GetSettings().laserLaunchKey, L"");
    EXPECT_EQ(device->GetLineCount(), 0);
    EXPECT_EQ(device->OnAssociatedLightChanged(0), 0);
}

// ---- Start-up and the settings file -------------------------------------------------------------

TEST_F(LightPath, StartupResolvesTheStoredKeysAndRebuildsLinesOfAChangedLaunch) {
    CZtVeroveSettings stored;
    stored.laserLaunchKey = L"ML1";
    stored.laserLaunchType = L"IDeviceMultiLaser";
    stored.laserLines.resize(2);
    stored.laserLines[1].power[0] = 70.0;
    stored.laserSwitcherKey = L"LO1";
    stored.laserSwitcherPort = 1;
    stored.shutterKeys = {L"SH2", L"Gone"};
    ASSERT_EQ(CZtVeroveSettingsFile::Save(kFile, kName, stored), 0);
    zthost::AddLayoutElement(kLaunch);
    const int refreshes = zthost::DeviceManagerRefreshCount();

    CountingDevicePtr device = StartedDevice();
    EXPECT_EQ(zthost::DeviceManagerRefreshCount(), refreshes + 1);
    ASSERT_EQ(device->GetLineCount(), 3);
    EXPECT_EQ(device->GetLinePower(1, 0), 0.0);
    EXPECT_EQ(device->GetLinePower(2, 3), 50.0);
    ZT_DWORD id = 0;
    device->GetAssociatedLightId(&id);
    EXPECT_EQ(id, kLaunch);
    device->GetAssociatedSwitcherId(&id);
    EXPECT_EQ(id, kSwitcher);
    device->GetAssociatedSwitcherPort(&id);
    EXPECT_EQ(id, 1u);
    EXPECT_EQ(device->GetLightPath().GetShutterIds(), std::vector<ZT_DWORD>{kShutter2});
    EXPECT_TRUE(zthost::LayoutContents(L"AcquisitionControls").empty());
}

TEST_F(LightPath, SettingsSurviveSaveAndLoadIntoANewDevice) {
    CZtVeroveSettings saved;
    {
        CountingDevicePtr device = StartedDevice();
        ASSERT_EQ(device->OnAssociatedLightChanged(kLaunch), 0);
        device->SetLinePower(0, 0, 11.5);
        device->SetLinePower(2, 2, 99.0);
        device->SetLineUsed(1, 1, true);
        device->OnLaserLineShow(1, false);
        device->OnLaserSwitcherDeviceSelectionChanged(kSwitcher);
        device->OnLaserSwitcherPositionSelectionChanged(2);
        device->OnAssociatedShuttersChanged({L"SH2", L"SH1"});
        device->SaveSettings();
        saved = device->GetSettings();
    }
    LogicalDeviceSetup launch = Find(kLaunch);
    launch.lines[1].power = 5.0;
    ASSERT_EQ(zthost::UpdateLogicalDevice(launch), 0);

    CountingDevicePtr device = StartedDevice();
    ExpectSameSettings(device->GetSettings(), saved);
    EXPECT_EQ(device->GetLinePower(0, 0), 11.5);
    EXPECT_TRUE(device->GetLineUsed(1, 1));
    EXPECT_FALSE(device->GetLineVisible(1));
    EXPECT_EQ(device->GetLinePower(1, 3), 5.0);
    EXPECT_EQ(device->GetLineWavelength(2), 561.0);
    EXPECT_EQ(device->GetLightPath().GetLightId(), kLaunch);
    EXPECT_EQ(device->GetLightPath().GetSwitcherId(), kSwitcher);
    EXPECT_EQ(device->GetLightPath().GetShutterIds(),
              (std::vector<ZT_DWORD>{kShutter2, kShutter1}));
}

TEST_F(LightPath, RefusalsLeaveTheStoredSettingsUnchanged) {
    CountingDevicePtr device = StartedDevice();
    ASSERT_EQ(device->OnAssociatedLightChanged(kLaunch), 0);
    device->SetLinePower(0, 0, 25.0);
    device->OnLaserSwitcherDeviceSelectionChanged(kSwitcher);
    device->OnAssociatedShuttersChanged({L"SH1"});
    for (ZT_DWORD id : {kLaunch, kSwitcher, kFixedSwitcher, kShutter1}) {
        for (DeviceCommand command :
             {DeviceCommand::LinePower, DeviceCommand::LineUsed, DeviceCommand::PortCombination,
              DeviceCommand::ShutterState, DeviceCommand::CustomCommand}) {
            Refuse(id, command);
        }
    }
    const CZtVeroveSettings before = device->GetSettings();
    device->SetLinePower(0, 3, 1.0);
    device->SetLineUsed(1, 3, true);
    std::vector<double> powers;
    std::vector<bool> used;
    device->SettingsApply_LaserPower(0, &powers);
    device->SettingsApply_LineUsed(0, &used);
    device->SettingsApply_LaserPower(powers);
    device->SettingsApply_LineUsed(used);
    device->SettingsApply_Switcher();
    device->SettingsRevert_Switcher();
    device->SetAssociatedShuttersOpenState(true);
    device->OnLaserSwitcherPositionSelectionChanged(0);
    ExpectSameSettings(device->GetSettings(), before);
    EXPECT_EQ(device->GetLinePower(0, 3), 20.0);
    EXPECT_FALSE(device->GetLineUsed(1, 3));
    EXPECT_EQ(zthost::DeviceStateText(kLaunch),
              L"405 nm 20.0% on, 488 nm 0.0% off, 561 nm 50.0% on");
    EXPECT_EQ(zthost::DeviceStateText(kShutter1), L"Closed");

    ASSERT_EQ(device->OnAssociatedLightChanged(kLamp), 0);
    for (DeviceCommand command : {DeviceCommand::Voltage, DeviceCommand::Iris}) {
        Refuse(kLamp, command);
    }
    const CZtVeroveSettings lamp = device->GetSettings();
    device->SetLinePower(0, 3, 1.0);
    device->SettingsApply_LaserPower(0, &powers);
    ExpectSameSettings(device->GetSettings(), lamp);
    EXPECT_EQ(device->GetLinePower(0, 3), 3.5);
}

}  // namespace
