// The plug-in shell: Connect's device numbering and enumeration, disconnecting, the exports that
// address device _0, and module-event routing, with a recording device class standing in for the
// Verove device.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "cztpluginverove.h"
#include "cztstimulationdeviceverove.h"
#include "stimulation_device_stub.h"
#include "zt/zt_util.h"
#include "zthost/zthost.h"

// Plug-in exports, compiled into the plug-in's core library this test links.
extern "C" bool Connect(bool connect, bool simulator, std::uint32_t brand, const wchar_t* guiName,
                        wchar_t* uniqueName, bool* hwConflict);
extern "C" int QueryDMDInterface(const wchar_t* uniqueName, void** out);
extern "C" int ShowStimulationDeviceConfigDialog2(QWidget* parent, bool simulator,
                                                  std::uint32_t index);
extern "C" bool SetTraxPort(std::uint32_t portA, std::uint32_t portB, bool simulator);

namespace {

// What each recording device saw, in creation order; journals outlive their devices.
struct DeviceJournal {
    std::wstring name;
    std::vector<std::wstring> calls;
    std::vector<int> connectIndices;
    bool fromFactory = false;  // made by the plug-in through the class factory
    bool connected = false;
    bool destroyed = false;
};
std::deque<DeviceJournal> g_devices;

DeviceJournal& JournalOf(const std::wstring& name) {
    for (DeviceJournal& journal : g_devices) {
        if (journal.name == name) {
            return journal;
        }
    }
    ADD_FAILURE() << "no device was named " << std::string(name.begin(), name.end());
    static DeviceJournal none;
    return none;
}

// Which device indices accept a connect, and whether a refusal is a galvo conflict.
std::vector<int> g_acceptIndices = {0};
bool g_galvoConflict = false;

// Thread-bound. Stands in for the Verove device, noting the shell's calls in its journal.
class RecordingDevice : public StimulationDeviceStub<CZtStimulationDeviceVerove> {
public:
    RecordingDevice() : m_journal(&g_devices.emplace_back()) {}

    void Note(const std::wstring& call) { m_journal->calls.push_back(call); }

    // The device operations the shell calls.
    bool Connect(bool connect, std::uint32_t brand, std::int32_t deviceIndex) override {
        Note(connect ? L"Connect(true)" : L"Connect(false)");
        m_journal->connectIndices.push_back(deviceIndex);
        m_connected = false;
        if (connect) {
            for (int accepted : g_acceptIndices) {
                m_connected = m_connected || accepted == deviceIndex;
            }
        }
        m_journal->connected = m_connected;
        return m_connected == connect;
    }
    bool OnPortActivated(bool activated, bool show) override { return true; }
    void SetUniqueName(const wchar_t* uniqueName) override {
        m_name = uniqueName;
        m_journal->name = uniqueName;
    }
    void SetGUIElementName(const wchar_t* guiName) override {
        Note(std::wstring(L"SetGUIElementName(") + guiName + L")");
    }
    int SetTraxPort(std::uint32_t portA, std::uint32_t portB) override {
        Note(L"SetTraxPort(" + std::to_wstring(portA) + L"," + std::to_wstring(portB) + L")");
        return 0;
    }
    int GetAssociatedDeviceInfo(std::uint32_t*, std::uint32_t*, std::uint32_t*) override {
        return 0;
    }
    int InitializeDeviceState() override {
        Note(L"InitializeDeviceState");
        return 0;
    }
    int OnNDExperiment(std::int32_t phase) override {
        Note(L"OnNDExperiment(" + std::to_wstring(phase) + L")");
        return 0;
    }
    int LoadSettings() override {
        Note(L"LoadSettings");
        return 0;
    }
    int ShowConfigurationDialog(QWidget*) override {
        Note(L"ShowConfigurationDialog");
        return 7;
    }
    int HandleDMRefresh() override {
        Note(L"HandleDMRefresh");
        return 0;
    }
    int HandleCameraNewParams(bool selected) override {
        Note(selected ? L"HandleCameraNewParams(true)" : L"HandleCameraNewParams(false)");
        return 0;
    }
    int HandleDeviceChanged(const std::uint32_t* ids, int count) override {
        std::wstring text = L"HandleDeviceChanged(";
        for (int i = 0; i < count; ++i) {
            text += std::to_wstring(ids[i]) + L";";
        }
        Note(text + L")");
        return 0;
    }
    bool GetGalvoConflict() override { return g_galvoConflict; }

    // Its name and connected state as set above; the stub answers the rest of the interface.
    CZtStringW GetUniqueName() override { return CZtStringW(m_name); }
    bool IsConnected() override { return m_connected; }

protected:
    ~RecordingDevice() override { m_journal->destroyed = true; }

private:
    DeviceJournal* m_journal;
    std::wstring m_name;
    bool m_connected = false;
};

IZtInterface* ConstructRecordingDevice(const char*, int) {
    auto* device = new RecordingDevice();
    g_devices.back().fromFactory = true;
    return static_cast<IZtStimulationDevice*>(device);
}

// Registers an extra device directly with the manager, as another plug-in would.
RecordingDevice* AddStaticDevice(const std::wstring& name) {
    auto* device = new RecordingDevice();
    device->SetUniqueName(name.c_str());
    SZtStimulationDeviceRecord record;
    record.typeName = L"Unknown";
    record.uniqueName = name;
    record.device = device;
    EXPECT_EQ(CZtStimulationDeviceManager::GetInstance()->StaticDeviceAdd(record), 0);
    device->Release();  // the manager holds it now
    return device;
}

class PluginShell : public ::testing::Test {
protected:
    void SetUp() override {
        zthost::ResetForTests();
        zthost::ClearCapturedLog();
        zthost::SetSearchFolders({});  // no SDK library: the real path cannot initialise
        g_devices.clear();
        g_acceptIndices = {0};
        g_galvoConflict = false;
        VerovePluginState() = SZtVerovePluginState{};
        for (const wchar_t* name :
             {L"CZtStimulationDeviceVerove", L"CZtStimulationDeviceVeroveSim"}) {
            SZtClassRecord record;
            record.className = name;
            record.parents = {L"IZtStimulationDevice", L"IZtStimulationDeviceEx"};
            ASSERT_EQ(zthost::RegisterClass(record, &ConstructRecordingDevice), 0);
        }
    }
    void TearDown() override {
        // Disconnect what the plug-in connected, so it lets go of its devices.
        std::vector<std::wstring> connected;
        for (const DeviceJournal& journal : g_devices) {
            if (journal.fromFactory && journal.connected && !journal.destroyed) {
                connected.push_back(journal.name);
            }
        }
        for (const std::wstring& name : connected) {
            std::wstring buffer = name;
            Connect(false, name.find(L"Sim_") != std::wstring::npos, 0, L"", buffer.data(),
                    nullptr);
        }
        zthost::ResetForTests();
    }

    static IZtStimulationDeviceManager* Manager() {
        return CZtStimulationDeviceManager::GetInstance();
    }
};

TEST_F(PluginShell, SecondConnectIsRefusedForEitherKindWhileOneIsConnected) {
    ASSERT_TRUE(Connect(true, true, 0, L"VerovePad", nullptr, nullptr));
    const DeviceJournal& journal = JournalOf(L"CZtStimulationDeviceVeroveSim_0");
    EXPECT_EQ(journal.calls.front(), L"SetGUIElementName(VerovePad)");
    EXPECT_FALSE(Connect(true, false, 0, L"", nullptr, nullptr));
    EXPECT_FALSE(Connect(true, true, 0, L"", nullptr, nullptr));
    EXPECT_EQ(VerovePluginState().connectedInstances, 1);
    EXPECT_EQ(Manager()->GetDeviceCount(), 1);
}

TEST_F(PluginShell, FirstFreeIndexFillsGapsAndIgnoresOtherNames) {
    AddStaticDevice(L"CZtStimulationDeviceVeroveSim_0");
    AddStaticDevice(L"CZtStimulationDeviceVeroveSim_2");
    AddStaticDevice(L"CZtStimulationDeviceVerove_1");   // other kind
    AddStaticDevice(L"CZtStimulationDeviceVeroveSim");  // no number
    AddStaticDevice(L"Galvo");
    EXPECT_EQ(VeroveFirstFreeIndex(Manager(), L"CZtStimulationDeviceVeroveSim"), 1);
    EXPECT_EQ(VeroveFirstFreeIndex(Manager(), L"CZtStimulationDeviceVerove"), 0);
    AddStaticDevice(L"CZtStimulationDeviceVeroveSim_1");
    EXPECT_EQ(VeroveFirstFreeIndex(Manager(), L"CZtStimulationDeviceVeroveSim"), 3);

    wchar_t name[ZT_MAX_PATH] = L"";
    ASSERT_TRUE(Connect(true, true, 0, L"", name, nullptr));
    EXPECT_STREQ(name, L"CZtStimulationDeviceVeroveSim_3");
}

// Without the SDK, refused by the device (a galvo conflict) or without the device class: nothing
// stays registered or counted, and a device made for the attempt is released.
TEST_F(PluginShell, FailedConnectsLeaveNothingBehind) {
    EXPECT_FALSE(Connect(true, false, 0, L"", nullptr, nullptr));
    ASSERT_EQ(g_devices.size(), 1u);
    EXPECT_TRUE(g_devices[0].destroyed);
    EXPECT_TRUE(g_devices[0].connectIndices.empty()) << "no SDK: no device to try";

    g_acceptIndices = {};
    g_galvoConflict = true;
    bool conflict = false;
    EXPECT_FALSE(Connect(true, true, 1, L"", nullptr, &conflict));
    EXPECT_TRUE(conflict);

    zthost::UnregisterClass(L"CZtStimulationDeviceVeroveSim");
    EXPECT_FALSE(Connect(true, true, 0, L"", nullptr, nullptr));
    EXPECT_EQ(Manager()->GetDeviceCount(), 0);
    EXPECT_EQ(VerovePluginState().connectedInstances, 0);
}

TEST_F(PluginShell, DisconnectOfUnknownDeviceFails) {
    wchar_t name[ZT_MAX_PATH] = L"CZtStimulationDeviceVerove_4";
    EXPECT_FALSE(Connect(false, false, 0, L"", name, nullptr));
}

TEST_F(PluginShell, ConnectRemovesAndReleasesARegisteredAggregator) {
    RecordingDevice* aggregator = AddStaticDevice(L"CZtVeroveAggregatorSim");
    aggregator->AddRef();
    VerovePluginState().aggregator = aggregator;
    ASSERT_TRUE(Connect(true, true, 0, L"", nullptr, nullptr));
    EXPECT_EQ(VerovePluginState().aggregator, nullptr);
    EXPECT_EQ(Manager()->GetStaticDevice(L"CZtVeroveAggregatorSim"), nullptr);
    EXPECT_TRUE(JournalOf(L"CZtVeroveAggregatorSim").destroyed);
}

TEST_F(PluginShell, ExportsAddressingDevicesByName) {
    void* out = nullptr;
    EXPECT_EQ(QueryDMDInterface(L"CZtStimulationDeviceVeroveSim_0", nullptr), -4);
    EXPECT_EQ(QueryDMDInterface(nullptr, &out), -4);
    EXPECT_EQ(QueryDMDInterface(L"CZtStimulationDeviceVeroveSim_0", &out), -5);
    EXPECT_EQ(out, nullptr);

    EXPECT_EQ(ShowStimulationDeviceConfigDialog2(nullptr, true, 0), -13);
    EXPECT_FALSE(SetTraxPort(1, 2, true));

    ASSERT_TRUE(Connect(true, true, 0, L"", nullptr, nullptr));
    EXPECT_EQ(ShowStimulationDeviceConfigDialog2(nullptr, true, 0), 7);
    EXPECT_TRUE(SetTraxPort(1, 2, true));
    EXPECT_EQ(JournalOf(L"CZtStimulationDeviceVeroveSim_0").calls.back(), L"SetTraxPort(1,2)");
    EXPECT_FALSE(SetTraxPort(1, 2, false)) << "the real kind has no device _0";
}

// ---- Modules --------------------------------------------------------------------------------

// A plug-in manager that records registrations and refuses from a chosen call on.
class RecordingPluginManager : public IZtPluginManager {
public:
    int RegisterModuleEvent(const wchar_t* eventName, IZtModuleQ9*, int priority) override {
        if (static_cast<int>(registered.size()) == refuseAt) {
            return -10;
        }
        registered.push_back(eventName);
        priorities.push_back(priority);
        return 0;
    }
    int UnregisterModuleEvent(const wchar_t*, IZtModuleQ9*) override { return 0; }
    int SendModuleEvent(const wchar_t*, std::intptr_t, bool*, void*) override { return 0; }

    std::vector<std::wstring> registered;
    std::vector<int> priorities;
    int refuseAt = -1;
};

class RecordingContext : public IZtHostContext {
public:
    IZtPluginManager* GetPluginManager() override { return &plugins; }
    IZtStimulationDeviceManager* GetStimulationDeviceManager() override { return devices; }
    IZtGrabberProvider* GetGrabberProvider() override { return nullptr; }
    DMApi* GetDeviceManager() override { return nullptr; }

    RecordingPluginManager plugins;
    IZtStimulationDeviceManager* devices = CZtStimulationDeviceManager::GetInstance();
};

TEST_F(PluginShell, ModuleRegistersItsEventsAtThePrioritySetAndStopsAtARefusal) {
    RecordingContext context;
    IZtModuleQ9* module = new CZtModuleVerove();
    EXPECT_EQ(module->SetHostContext(&context), 0);
    EXPECT_EQ(VerovePluginState().moduleInstance, module);
    EXPECT_EQ(module->RegisterModuleEvents(), 0);
    EXPECT_EQ(context.plugins.priorities, std::vector<int>(7, -1));

    RecordingContext refusing;
    refusing.plugins.refuseAt = 2;
    module->SetHostContext(&refusing);
    EXPECT_EQ(module->RegisterModuleEvents(), 4);
    EXPECT_EQ(refusing.plugins.registered.size(), 2u);
    module->Release();
}

TEST_F(PluginShell, RealModuleRoutesToEveryNumberFallingBackToSimulatorNames) {
    AddStaticDevice(L"CZtStimulationDeviceVerove_0");
    AddStaticDevice(L"CZtStimulationDeviceVeroveSim_0");  // shadowed by the real _0
    AddStaticDevice(L"CZtStimulationDeviceVeroveSim_1");
    AddStaticDevice(L"CZtStimulationDeviceVerove_3");  // after a gap: never reached
    RecordingContext context;
    IZtModuleQ9* module = new CZtModuleVerove();
    module->SetHostContext(&context);

    module->OnModuleEvent(L"ZT_MODULEEVENT_ND_EXPERIMENT_START", 0, nullptr, nullptr);
    std::uint32_t ids[] = {11, 12};
    module->OnModuleEvent(L"ZT_MODULEEVENT_DEVICE_BEFORE_CHANGED", 2, nullptr, ids);
    module->OnModuleEvent(L"InitSwLifeDeviceOnStartup", 0, nullptr, nullptr);
    module->OnModuleEvent(L"ZT_MODULEEVENT_GRABBER_AFTER_SELECT", 1, nullptr, nullptr);

    const std::vector<std::wstring> expected = {
        L"OnNDExperiment(0)", L"HandleDeviceChanged(11;12;)", L"InitializeDeviceState",
        L"LoadSettings", L"HandleCameraNewParams(true)"};
    EXPECT_EQ(JournalOf(L"CZtStimulationDeviceVerove_0").calls, expected);
    EXPECT_EQ(JournalOf(L"CZtStimulationDeviceVeroveSim_1").calls, expected);
    EXPECT_TRUE(JournalOf(L"CZtStimulationDeviceVeroveSim_0").calls.empty());
    EXPECT_TRUE(JournalOf(L"CZtStimulationDeviceVerove_3").calls.empty());
    module->Release();
}

TEST_F(PluginShell, SimulatorModuleIgnoresExperimentEventsAndRealDevices) {
    AddStaticDevice(L"CZtStimulationDeviceVerove_0");
    AddStaticDevice(L"CZtStimulationDeviceVeroveSim_0");
    RecordingContext context;
    IZtModuleQ9* module = new CZtModuleVeroveSim();
    module->SetHostContext(&context);

    module->OnModuleEvent(L"ZT_MODULEEVENT_ND_EXPERIMENT_START", 0, nullptr, nullptr);
    module->OnModuleEvent(L"ZT_MODULEEVENT_ND_EXPERIMENT_END", 0, nullptr, nullptr);
    module->OnModuleEvent(L"ZT_MODULEEVENT_DM_AFTER_REFRESH", 0, nullptr, nullptr);
    bool handled = false;
    module->OnModuleEvent(L"ZT_MODULEEVENT_PLUGIN_PROCESS_DRAGDROP", 0, &handled, nullptr);

    EXPECT_EQ(JournalOf(L"CZtStimulationDeviceVeroveSim_0").calls,
              std::vector<std::wstring>{L"HandleDMRefresh"});
    EXPECT_TRUE(JournalOf(L"CZtStimulationDeviceVerove_0").calls.empty());
    EXPECT_TRUE(handled);
    module->Release();
}

TEST_F(PluginShell, EventsWithoutDevicesOrManagerDoNothing) {
    RecordingContext context;
    context.devices = nullptr;
    AddStaticDevice(L"CZtStimulationDeviceVerove_0");
    IZtModuleQ9* module = new CZtModuleVerove();
    module->SetHostContext(&context);
    EXPECT_EQ(module->OnModuleEvent(L"ZT_MODULEEVENT_DM_AFTER_REFRESH", 0, nullptr, nullptr), 0);
    EXPECT_TRUE(JournalOf(L"CZtStimulationDeviceVerove_0").calls.empty());
    module->Release();
}

}  // namespace
