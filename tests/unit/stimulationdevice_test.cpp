// The stimulation device: connecting over the simulated unit and the SDK, the galvo refusal, the
// registry options, names, capabilities, slot answers and the queued host events.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "cztpluginverove.h"
#include "cztstimulationdeviceverove.h"
#include "cztverovenamemanager.h"
#include "cztverovepadwrapper.h"
#include "fake_atcore_control.h"
#include "logical_device.h"
#include "plugin_host.h"
#include "verove_device.h"
#include "zt/zt_camera.h"
#include "zt/zt_grabber.h"
#include "zt/zt_registry.h"
#include "zt/zt_settings.h"
#include "zthost/layout.h"
#include "zthost/microscope.h"
#include "zthost/registry_store.h"
#include "zthost/settings_store.h"
#include "zthost/zthost.h"

namespace {

constexpr const wchar_t* kRegistryKey = L"Software\\Brightwater\\Misc\\Verove";

DevicePtr MakeDevice(bool simulated, const wchar_t* name) {
    DevicePtr device(simulated ? new CZtStimulationDeviceVeroveSim()
                               : new CZtStimulationDeviceVerove());
    device->SetUniqueName(name);
    return device;
}

bool Logged(const std::wstring& text) {
    return zthost::LogContains(text);
}

// The DMD's own logical device, as the host's device manager lists it.
void AddDmdLogicalDevice(CZtStimulationDeviceVerove* device, ZT_DWORD id, ZT_DWORD physicalId) {
    ASSERT_EQ(zthost::AddLogicalDevice(LogicalDevice(id, 40, L"DMD1", physicalId)), 0);
    device->LoadKeys(nullptr, id);
}

class StimulationDevice : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(ResetPluginHost(m_dir));
        zthost::SetRegistryLocation(m_dir.filePath("registry.ini").toStdWString());
        zthost::SetSearchFolders({});
        CZtVeroveNameManager::Instance().SetBrand(2);
    }
    void TearDown() override { VerovePluginState().hostContext = nullptr; }

    void UseFakeSdk() { zthost::SetSearchFolders({QString(VEROVE_FAKE_SDK_DIR).toStdWString()}); }

    QTemporaryDir m_dir;
};

// ---- Connecting ------------------------------------------------------------------------------

TEST_F(StimulationDevice, ConnectsOverTheSimulatedUnitAndShowsTheDarkPattern) {
    DevicePtr device = MakeDevice(true, L"CZtStimulationDeviceVeroveSim_0");
    ASSERT_TRUE(device->Connect(true, 0, 0));
    EXPECT_EQ(CZtVeroveNameManager::Instance().GetBrand(), 1);  // brand 0: the Andor names
    EXPECT_EQ(device->GetControlPadGUIElement(), device->GetPadWrapper());
    // Start-up preparation: bit depth 1 and the current pattern, "Full OFF", on the mirrors.
    EXPECT_EQ(device->GetBitDepth(), 1);
    EXPECT_TRUE(device->IsExposing());
    ZT_DWORD active = 99;
    EXPECT_EQ(device->GetActivePatternId(&active), 0);
    EXPECT_EQ(active, 0u);

    EXPECT_TRUE(device->Connect(false, 0, -1));
    EXPECT_FALSE(device->IsConnected());
    EXPECT_FALSE(device->IsExposing());
}

TEST_F(StimulationDevice, ConnectOverTheSdkOpensPrepares1BitAndExposes) {
    UseFakeSdk();
    DevicePtr device = MakeDevice(false, L"CZtStimulationDeviceVerove_0");
    ASSERT_TRUE(device->Connect(true, 1, 0));
    EXPECT_EQ(CZtVeroveNameManager::Instance().GetBrand(), 2);
    EXPECT_EQ(fake_atcore::OpenDeviceCount(), 1);

    // In the SDK's record, in this order: open, 1-bit frames, then the first exposure.
    const std::vector<std::wstring> expected = {
        L"AT_InitialiseLibrary",         L"AT_Open",
        L"PixelEncoding=Mono1Packed",    L"OperationMode=Live",
        L"TriggerMode=InternalSoftware", L"Expose"};
    std::vector<std::wstring> seen;
    for (const fake_atcore::CallRecord& call : fake_atcore::Calls()) {
        const std::wstring entry =
            call.feature.empty() ? std::wstring(call.function.begin(), call.function.end())
                                 : call.feature + (call.value.empty() ? L"" : L"=" + call.value);
        if (call.result == 0 && call.function.rfind("AT_Get", 0) != 0 &&
            std::find(expected.begin(), expected.end(), entry) != expected.end()) {
            seen.push_back(entry);
        }
    }
    EXPECT_EQ(seen, expected);
    EXPECT_TRUE(fake_atcore::ShownFrame().exposing);
    EXPECT_TRUE(device->Connect(false, 1, -1));
    EXPECT_EQ(fake_atcore::OpenDeviceCount(), 0);
    EXPECT_FALSE(device->IsConnected());
}

// ---- Galvo XY conflict -------------------------------------------------------------------------

TEST_F(StimulationDevice, GalvoScannerRefusesConnectWithOneBoxForAllDevices) {
    zthost::SetGalvoXYCount(1);
    DevicePtr first = MakeDevice(true, L"CZtStimulationDeviceVeroveSim_0");
    DevicePtr second = MakeDevice(true, L"CZtStimulationDeviceVeroveSim_1");
    EXPECT_FALSE(first->Connect(true, 0, 0));
    EXPECT_TRUE(first->GetGalvoConflict());
    EXPECT_FALSE(second->Connect(true, 0, 0));
    EXPECT_TRUE(second->GetGalvoConflict());
    EXPECT_EQ(zthost::MessageBoxes().size(), 1u);
    EXPECT_FALSE(first->IsConnected());
}

TEST_F(StimulationDevice, GalvoCapabilityAtStartupDisconnectsTheDmdOncePerProcess) {
    DevicePtr first = MakeDevice(true, L"CZtStimulationDeviceVeroveSim_0");
    DevicePtr second = MakeDevice(true, L"CZtStimulationDeviceVeroveSim_1");
    ASSERT_TRUE(first->Connect(true, 0, 0));
    AddDmdLogicalDevice(first.get(), 50, 7);
    EXPECT_EQ(first->CheckGalvoConflict(), 0);
    EXPECT_TRUE(zthost::MessageBoxes().empty());

    zthost::LogicalDeviceSetup scanner = LogicalDevice(60, 99, L"Scanner", 8);
    scanner.capabilities = {132};
    ASSERT_EQ(zthost::AddLogicalDevice(scanner), 0);
    EXPECT_EQ(first->InitializeDeviceState(), -8);
    ASSERT_EQ(zthost::MessageBoxes().size(), 1u);
    EXPECT_EQ(zthost::MessageBoxes()[0].title, L"Invalid HW Configuration");
    EXPECT_EQ(zthost::MessageBoxes()[0].text,
              L"Combination of Verove with Galvo XY device is not supported.\nVerove device "
              L"status: Disconnected.");
    EXPECT_FALSE(zthost::PhysicalDeviceConnected(7));
    EXPECT_TRUE(zthost::PhysicalDeviceConnected(8));
    EXPECT_EQ(zthost::DeviceManagerRefreshCount(), 0);  // the device manager refreshes for XY only

    EXPECT_EQ(second->CheckGalvoConflict(), -8);
    zthost::SetGalvoXYCount(1);
    EXPECT_EQ(first->CheckGalvoConflict(), -8);
    EXPECT_EQ(zthost::MessageBoxes().size(), 1u);
    EXPECT_EQ(zthost::DeviceManagerRefreshCount(), 1);
}

// ---- Registry options ----------------------------------------------------------------------

class RegistryOptions : public StimulationDevice {
protected:
    ZT_HKEY CreateKey() {
        ZT_HKEY key = nullptr;
        EXPECT_EQ(ZT_RegCreateKey(EZtRegRoot::LocalMachine, kRegistryKey, &key), 0);
        return key;
    }
    ZT_DWORD ReadDword(const wchar_t* name, ZT_DWORD* type, ZT_DWORD* size) {
        ZT_HKEY key = nullptr;
        EXPECT_EQ(ZT_RegOpenKey(EZtRegRoot::LocalMachine, kRegistryKey, &key), 0);
        ZT_DWORD value = 0xFFFF;
        *size = sizeof(value);
        EXPECT_EQ(ZT_RegQueryValue(key, name, type, &value, size), 0);
        ZT_RegCloseKey(key);
        return value;
    }
    void Read() {
        DevicePtr device = MakeDevice(true, L"CZtStimulationDeviceVeroveSim_0");
        device->UpdateRegistryOptions();
        m_hide = device->GetHideLightPad();
        m_debug = device->GetDebugDeviceMemory();
        m_dithering = device->GetDitheringMethod();
    }
    bool m_hide = false;
    bool m_debug = true;
    int m_dithering = -1;
};

// A missing key is never created and the defaults apply; a key without the values gets the
// defaults written; stored values switch the options.
TEST_F(RegistryOptions, DefaultsAreWrittenIntoAnExistingKeyAndStoredValuesSwitchTheOptions) {
    Read();
    ZT_HKEY missing = nullptr;
    EXPECT_EQ(ZT_RegOpenKey(EZtRegRoot::LocalMachine, kRegistryKey, &missing),
              ZT_ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(m_hide);
    EXPECT_FALSE(m_debug);
    EXPECT_EQ(m_dithering, 1);
    ZT_RegCloseKey(CreateKey());
    Read();
    for (const wchar_t* name : {L"DoNotHideLightPad", L"DebugDeviceMemory", L"DitheringMethod"}) {
        ZT_DWORD type = 0;
        ZT_DWORD size = 0;
        EXPECT_EQ(ReadDword(name, &type, &size), name[1] == L'i' ? 1u : 0u);
        EXPECT_EQ(type, ZT_REG_DWORD);
        EXPECT_EQ(size, 4u);
    }
    ZT_HKEY key = CreateKey();
    const std::uint32_t one = 1;
    const std::uint32_t three = 3;
    ZT_RegSetValue(key, L"DoNotHideLightPad", ZT_REG_DWORD, &one, 4);
    ZT_RegSetValue(key, L"DebugDeviceMemory", ZT_REG_DWORD, &one, 4);
    ZT_RegSetValue(key, L"DitheringMethod", ZT_REG_DWORD, &three, 4);
    ZT_RegCloseKey(key);
    Read();
    EXPECT_FALSE(m_hide);
    EXPECT_TRUE(m_debug);
    EXPECT_EQ(m_dithering, 3);
}

TEST_F(RegistryOptions, ValuesOfAnotherTypeOrSizeLeaveHidingOnAndAreKept) {
    const wchar_t text[] = L"1";
    const std::uint64_t qword = 1;
    const std::uint16_t word = 1;
    struct Stored {
        ZT_DWORD type;
        const void* data;
        ZT_DWORD size;
    };
    for (const Stored& stored :
         {Stored{ZT_REG_SZ, text, sizeof(text)}, Stored{ZT_REG_QWORD, &qword, 8},
          Stored{ZT_REG_DWORD, &word, 2}, Stored{ZT_REG_BINARY, &qword, 4}}) {
        ZT_HKEY key = CreateKey();
        ZT_RegSetValue(key, L"DoNotHideLightPad", stored.type, stored.data, stored.size);
        ZT_RegCloseKey(key);
        Read();
        EXPECT_TRUE(m_hide) << "type " << stored.type << ", size " << stored.size;
        ZT_DWORD type = 0;
        ZT_DWORD size = 0;
        ZT_HKEY reopened = nullptr;
        ASSERT_EQ(ZT_RegOpenKey(EZtRegRoot::LocalMachine, kRegistryKey, &reopened), 0);
        EXPECT_EQ(ZT_RegQueryValue(reopened, L"DoNotHideLightPad", &type, nullptr, &size), 0);
        ZT_RegCloseKey(reopened);
        EXPECT_EQ(type, stored.type);  // not overwritten with the default
        EXPECT_EQ(size, stored.size);
    }
}

// ---- Names -------------------------------------------------------------------------------------

// The numbering is asserted on the pad's tab titles (PadWrapper); here the host's translation.
TEST_F(StimulationDevice, DisplayNameGoesThroughTheHostsTranslation) {
    DevicePtr first = MakeDevice(false, L"CZtStimulationDeviceVerove_0");
    CZtStringW name;
    zthost::SetTranslation(L"%s%s", L"[%s%s]");
    ASSERT_EQ(first->GetDisplayName(&name, 0), 0);
    EXPECT_EQ(name, L"[Velmar DMD]");
    EXPECT_EQ(first->GetDisplayName(nullptr, 0), -4);
}

TEST_F(StimulationDevice, SetUniqueNameMovesARegistrationToTheNewName) {
    DevicePtr device = MakeDevice(true, L"CZtStimulationDeviceVeroveSim_0");
    IZtStimulationDeviceManager* manager = CZtStimulationDeviceManager::GetInstance();
    SZtStimulationDeviceRecord record;
    record.typeName = L"Unknown";
    record.uniqueName = L"CZtStimulationDeviceVeroveSim_0";
    record.device = device.get();
    ASSERT_EQ(manager->StaticDeviceAdd(record), 0);
    const int updates = zthost::StimulationDeviceUpdateCount();

    device->SetUniqueName(L"CZtStimulationDeviceVeroveSim_4");
    EXPECT_EQ(manager->GetStaticDevice(L"CZtStimulationDeviceVeroveSim_0"), nullptr);
    EXPECT_EQ(manager->GetStaticDevice(L"CZtStimulationDeviceVeroveSim_4"),
              static_cast<IZtStimulationDevice*>(device.get()));
    EXPECT_EQ(device->GetUniqueName(), L"CZtStimulationDeviceVeroveSim_4");
    EXPECT_EQ(zthost::StimulationDeviceUpdateCount(), updates + 1);
    ASSERT_EQ(manager->StaticDeviceRemove("CZtStimulationDeviceVeroveSim_4"), 0);
}

// ---- Capabilities and slot answers
// ---------------------------------------------------------------

TEST_F(StimulationDevice, CapabilitiesFollowTheCalibrationAndTheSavedKeys) {
    DevicePtr device = MakeDevice(true, L"CZtStimulationDeviceVeroveSim_0");
    EXPECT_TRUE(device->HasCapabilityNow(21));
    EXPECT_FALSE(device->HasCapabilityNow(22));  // no calibration data without a connect
    EXPECT_FALSE(device->HasDeviceCapability(48));
    // Keys saved with TriggerAvailable on switch 48 and 80 on.
    CZtLiteVariantW keys;
    keys.AddBool(L"TriggerAvailable", true);
    CZtLiteVariantR reader(keys);
    device->LoadKeys(&reader, 77);
    EXPECT_TRUE(device->HasDeviceCapability(48));
    EXPECT_TRUE(device->HasDeviceCapability(80));
    ZT_DWORD id = 0;
    EXPECT_EQ(device->GetDeviceID(&id), 0);
    EXPECT_EQ(id, 77u);
    CZtLiteVariantW saved;
    EXPECT_EQ(device->SaveKeys(&saved), 0);
    EXPECT_TRUE(CZtLiteVariantR(saved).GetBool(L"TriggerAvailable", false));
}

TEST_F(StimulationDevice, SlotsAnswerNullPointersWithTheirCodes) {
    DevicePtr device = MakeDevice(true, L"CZtStimulationDeviceVeroveSim_0");
    EXPECT_EQ(device->GetDeviceID(nullptr), 14);
    EXPECT_EQ(device->GetPatternCount(static_cast<ZT_DWORD*>(nullptr)), 14);
    EXPECT_EQ(device->GetActivePatternId(nullptr), 14);
    EXPECT_EQ(device->GetPatternIdByName(L"Full OFF", nullptr), 14);
    EXPECT_EQ(device->GetPatternIdByIndex(0, nullptr), 14);
    EXPECT_EQ(device->IsCalibrated(nullptr), 14);
    EXPECT_EQ(device->GetIlluminationSequenceState(nullptr), 14);
    EXPECT_EQ(device->GetAssociatedShuttersOpen(nullptr), 21);
    EXPECT_EQ(device->GetAssociatedShutterCount(nullptr), 21);
    EXPECT_EQ(device->GetAssociatedLightId(nullptr), 21);
    EXPECT_EQ(device->GetAssociatedSwitcherId(nullptr), 21);
    EXPECT_EQ(device->GetAssociatedSwitcherPort(nullptr), 21);
    EXPECT_EQ(device->GetPatternAvailable(3, nullptr), 21);
    ZT_DWORD shutter = 5;
    EXPECT_EQ(device->GetAssociatedShutterId(0, &shutter), 21);  // the chain is empty
    EXPECT_EQ(shutter, 0u);
    EXPECT_EQ(device->ParameterByCode(77839, nullptr), 21);
    std::uint32_t value = 0;
    EXPECT_EQ(device->ParameterByCode(12345, &value), 22);
    EXPECT_EQ(device->GetValue(0, nullptr), -4);
    EXPECT_EQ(device->GetValue(1, &value), -2);
    IZtInterface* aggregator = nullptr;
    EXPECT_EQ(device->GetControllingAggregator(nullptr), -4);
    EXPECT_EQ(device->GetControllingAggregator(&aggregator), -13);
    EXPECT_EQ(device->StimulationAreaSetFor(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              -4);
    EXPECT_EQ(device->ActivatePatternByName(nullptr), -9);
    EXPECT_EQ(device->OnPluginNDSequence_Validate(nullptr), -4);
    double start = 0.0;
    double end = 0.0;
    EXPECT_EQ(device->StimulationFire(&start, &end), -9);
    EXPECT_EQ(start, -1.0);
    EXPECT_EQ(end, -1.0);
    EXPECT_EQ(device->StimulationBegin(nullptr), -12);
    EXPECT_EQ(device->StimulationAreaSet(nullptr, nullptr, nullptr, nullptr, nullptr), -4);
    EXPECT_EQ(device->SetOperationMode(5), 21);
}

TEST_F(StimulationDevice, UpdateControlPadNamesTheLayoutElementOfItsLogicalDevice) {
    DevicePtr device = MakeDevice(true, L"CZtStimulationDeviceVeroveSim_0");
    EXPECT_EQ(device->UpdateControlPad(), 21);
    AddDmdLogicalDevice(device.get(), 50, 7);
    zthost::AddLayoutElement(50);
    EXPECT_EQ(device->UpdateControlPad(), 0);
    EXPECT_EQ(zthost::LayoutElementUserName(50), L"Velmar DMD Sim Pad (DMD1)");
    zthost::SetLayoutLocked(true);
    EXPECT_EQ(device->UpdateControlPad(), 21);
}

// ---- Activation, experiments, patterns ----------------------------------------------------------

TEST_F(StimulationDevice, PatternSlotsAnswerFromTheDriverStore) {
    DevicePtr device = MakeDevice(true, L"CZtStimulationDeviceVeroveSim_0");
    ZT_DWORD id = 99;
    EXPECT_EQ(device->SetActivePatternId(1), 21);            // no driver
    ASSERT_EQ(zthost::SetCamera(zthost::CameraSetup{}), 0);  // patterns render for a camera
    ASSERT_TRUE(device->Connect(true, 0, 0));
    QSignalSpy active(device->GetPadWrapper(), &CZtVerovePadWrapper::sigUpdateActivePattern);
    EXPECT_EQ(device->GetPatternIdByName(L"Full ON", &id), 0);
    EXPECT_EQ(id, 1u);
    bool available = true;
    EXPECT_EQ(device->GetPatternAvailable(3, &available), 0);
    EXPECT_FALSE(available);  // S1 holds no areas
    EXPECT_EQ(device->GetPatternAvailable(1000, &available), 3);
    EXPECT_EQ(device->ActivatePatternByName(L"Nothing"), -9);

    EXPECT_EQ(device->ActivatePatternByName(L"Full ON"), 0);
    ASSERT_EQ(active.count(), 1);
    EXPECT_EQ(active[0][0].toUInt(), 1u);
    EXPECT_EQ(device->SetActivePatternId(1), 0);
    EXPECT_EQ(active.count(), 1);  // unchanged: no second notice
    device->Connect(false, 0, -1);
}

// ---- Host events
// ---------------------------------------------------------------------------------

TEST_F(StimulationDevice, DeviceChangesBeforeStartupAreKeptWithoutDuplicates) {
    DevicePtr device = MakeDevice(true, L"CZtStimulationDeviceVeroveSim_0");
    const std::uint32_t first[] = {5, 6, 5};
    const std::uint32_t second[] = {6, 7};
    device->HandleDeviceChanged(first, 3);
    device->HandleDeviceChanged(second, 2);
    EXPECT_EQ(device->GetStartupDeviceChanges(), (std::vector<std::uint32_t>{5, 6, 7}));
}

TEST_F(StimulationDevice, HostEventsRunTheirDelayedHandlersFromTheEventLoop) {
    DevicePtr device = MakeDevice(true, L"CZtStimulationDeviceVeroveSim_0");
    ASSERT_TRUE(device->Connect(true, 0, 0));
    EXPECT_EQ(device->HandleDMRefresh(), 0);
    EXPECT_EQ(device->HandleCameraNewParams(false), 0);
    EXPECT_FALSE(Logged(L"HandleDMRefreshDelayed"));
    EXPECT_FALSE(Logged(L"HandleCameraNewParamsDelayed"));
    QCoreApplication::processEvents();
    EXPECT_TRUE(
        Logged(L"Verove CZtStimulationDeviceVerove::HandleDMRefreshDelayed: End, return "
               L"code 0"));
    EXPECT_TRUE(Logged(L"Verove CZtStimulationDeviceVerove::HandleCameraNewParamsDelayed: Start"));

    // Emitted on another thread, handled on this one.
    zthost::ClearCapturedLog();
    const std::uint32_t ids[] = {3, 4};
    std::thread worker([&] { device->GetPadWrapper()->DeviceChanged(ids, 2); });
    worker.join();
    EXPECT_FALSE(Logged(L"HandleDeviceChangedDelayed"));
    QCoreApplication::processEvents();
    int delayed = 0;
    for (const std::wstring& line : zthost::CapturedLog()) {
        delayed += line.find(L"HandleDeviceChangedDelayed: Start") != std::wstring::npos;
    }
    EXPECT_EQ(delayed, 2);
    device->Connect(false, 0, -1);
}

}  // namespace

namespace {

// The module hands a camera list to the device: a camera of the active grabber without a region
// stops the DMD's camera-region matching; cameras of other grabbers or with a region do not.
TEST_F(StimulationDevice, CameraWithoutRegionOnTheActiveGrabberStopsTheRegionMatch) {
    zthost::CameraSetup camera;
    camera.grabberIndex = 1;
    ASSERT_EQ(zthost::SetCamera(camera), 0);
    DevicePtr device = MakeDevice(true, L"CZtStimulationDeviceVeroveSim_0");
    ASSERT_TRUE(device->Connect(true, 0, 0));
    SZtStimulationDeviceRecord record;
    record.uniqueName = L"CZtStimulationDeviceVeroveSim_0";
    record.device = device.get();
    ASSERT_EQ(CZtStimulationDeviceManager::GetInstance()->StaticDeviceAdd(record), 0);
    IZtModuleQ9* module = new CZtModuleVeroveSim();
    module->SetHostContext(zthost::HostContext());

    SZtCameraNewParams cameras[2];
    cameras[0].grabber = 0;  // not the active grabber
    cameras[1].grabber = 1;
    cameras[1].region = {10, 10, 200, 100};
    zthost::ClearCapturedLog();
    module->OnModuleEvent(L"ZT_MODULEEVENT_CAMERA_NEW_PARAMS", 2, nullptr, cameras);
    EXPECT_FALSE(Logged(L"Verove CZtVeroveDriver::SyncCameraROI: DMD ROI disabled"));
    EXPECT_TRUE(Logged(L"Verove CZtStimulationDeviceVerove::HandleCameraNewParams: End, return"));

    cameras[1].region = {10, 10, 10, 100};
    module->OnModuleEvent(L"ZT_MODULEEVENT_CAMERA_NEW_PARAMS", 2, nullptr, cameras);
    EXPECT_TRUE(Logged(L"Verove CZtVeroveDriver::SyncCameraROI: DMD ROI disabled"));
    EXPECT_TRUE(Logged(L"Verove CZtVeroveDriver::SyncCameraROI: Camera ROI disabled"));

    module->Release();
    CZtStimulationDeviceManager::GetInstance()->StaticDeviceRemove(
        "CZtStimulationDeviceVeroveSim_0");
    device->Connect(false, 0, -1);
}

}  // namespace
