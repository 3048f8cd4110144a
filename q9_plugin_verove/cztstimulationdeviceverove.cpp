// The stimulation device the host sees as one Verove: construction, connection, the start-up
// preparation of the DMD, registry options, names, activation and the host events.
#include "cztstimulationdeviceverove.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cwctype>
#include <new>

#include <QDir>
#include <QFileInfo>
#include <QThread>

#include "cztpluginverove.h"
#include "cztveroveconfig.h"
#include "cztverovedriver.h"
#include "cztverovelightpath.h"
#include "cztverovenamemanager.h"
#include "cztverovepadqt.h"
#include "cztverovepadwrapper.h"
#include "cztverovesettingsfile.h"
#include "iztstimulationdeviceaggregator.h"
#include "verove_log.h"
#include "zt/zt_camera.h"
#include "zt/zt_devices.h"
#include "zt/zt_display.h"
#include "zt/zt_experiment.h"
#include "zt/zt_layout.h"
#include "zt/zt_macro.h"
#include "zt/zt_registry.h"
#include "zt/zt_settings.h"
#include "zt/zt_util.h"

namespace {

// Statuses of the slots whose work is not part of this device yet.
constexpr int kNotSupported = -2;

// Operation modes of the DMD interface.
constexpr std::int32_t kOperationModeNormal = 0;
constexpr std::int32_t kOperationModeSequence = 5;
// GetPatternName and the camera projection reach the sequence patterns from this identifier on.
constexpr ZT_DWORD kFirstSequencePatternId = 10000;

constexpr unsigned kErrorBoxTopMost = 0x40000 | ZT_MB_ICONERROR;
constexpr const wchar_t* kRegistryKey = L"Software\\Brightwater\\Misc\\Verove";

// Parameter codes of the DMD interface's ParameterByCode.
constexpr ZT_DWORD kParamNotifyCallback = 77831;
constexpr ZT_DWORD kParamNothing = 77838;
constexpr ZT_DWORD kParamLightId = 77839;
constexpr ZT_DWORD kParamEmptyText = 77845;

// What the host hands over with kParamNotifyCallback: 16 bytes, its context and its callback.
struct SZtNotifyCallback {
    void* context;
    ZT_VEROVE_NOTIFY callback;
};

// Logical-device types whose change concerns the device, and those that change the optical
// configuration the calibration depends on.
constexpr int kRelevantTypes[] = {1, 6, 7, 10, 11, 13, 15, 16, 17, 18, 19, 21, 23, 24, 30, 43, 45};
constexpr int kConfigurationTypes[] = {7, 10, 11, 13, 15, 16, 18};

template <size_t N>
bool Contains(const int (&list)[N], int value) {
    return std::find(std::begin(list), std::end(list), value) != std::end(list);
}

// The number after the last underscore of a unique name, or -1.
int NumberOf(const std::wstring& uniqueName) {
    const size_t underscore = uniqueName.rfind(L'_');
    if (underscore == std::wstring::npos || underscore + 1 == uniqueName.size()) {
        return -1;
    }
    const std::wstring digits = uniqueName.substr(underscore + 1);
    if (!std::all_of(digits.begin(), digits.end(), [](wchar_t c) { return std::iswdigit(c); })) {
        return -1;
    }
    return static_cast<int>(std::wcstol(digits.c_str(), nullptr, 10));
}

// Reads a 4-byte REG_DWORD, writing the default when the value is missing. A value of another
// type or size leaves the default.
void ReadRegistryDword(ZT_HKEY key, const wchar_t* name, std::uint32_t defaultValue,
                       std::uint32_t* value) {
    ZT_DWORD type = ZT_REG_NONE;
    ZT_DWORD size = sizeof(std::uint32_t);
    std::uint32_t stored = 0;
    const long result = ZT_RegQueryValue(key, name, &type, &stored, &size);
    if (result == ZT_ERROR_FILE_NOT_FOUND) {
        ZT_RegSetValue(key, name, ZT_REG_DWORD, &defaultValue, sizeof(defaultValue));
    } else if (result == ZT_ERROR_SUCCESS && type == ZT_REG_DWORD && size == sizeof(stored)) {
        *value = stored;
    }
}

}  // namespace

// ---- Construction and destruction -------------------------------------------------------------

CZtStimulationDeviceVerove::CZtStimulationDeviceVerove()
    : m_lightPath(std::make_unique<CZtVeroveLightPath>(*this, m_settings)) {
    VEROVE_LOG("CZtStimulationDeviceVerove::CZtStimulationDeviceVerove", L"Start");
    Init();
}

void CZtStimulationDeviceVerove::Init() {
    VEROVE_LOG("CZtStimulationDeviceVerove::Init", L"Start");
    m_autocalibration = std::make_unique<CZtAutocalibration>(this);
    m_manualCalibration = std::make_unique<CZtManualCalibration>(this);
    m_active = false;
    m_experimentState = 1;
    m_runMode = 0;
    m_previousOperationMode = 0;
}

CZtStimulationDeviceVerove::~CZtStimulationDeviceVerove() {
    if (m_padWrapper) {
        // Detaches the pad too: it goes with the wrapper's window.
        m_padWrapper->DetachDevice();
        m_padWrapper.reset();
    }
    m_autocalibration->Abort();
    // The driver closes the device through this owner: it goes before the settings it points to.
    m_driverView.store(nullptr);
    m_driver.reset();
    CZtLock lock(m_csAggregator);
    if (m_aggregator) {
        m_aggregator->Release();
        m_aggregator = nullptr;
    }
}

CZtStimulationDeviceVeroveSim::CZtStimulationDeviceVeroveSim() {
    m_simulated = true;
}

CZtStimulationDeviceVeroveSim::~CZtStimulationDeviceVeroveSim() = default;

void* CZtStimulationDeviceVerove::QueryInterface(const char* interfaceName) {
    if (!interfaceName) {
        return nullptr;
    }
    void* answer = nullptr;
    if (std::strcmp(interfaceName, "IZtStimulationDevice") == 0) {
        answer = static_cast<IZtStimulationDevice*>(this);
    } else if (std::strcmp(interfaceName, "IZtStimulationDeviceEx") == 0) {
        answer = static_cast<IZtStimulationDeviceEx*>(this);
    } else if (std::strcmp(interfaceName, "IZtDeviceDMD") == 0) {
        answer = static_cast<IZtDeviceDMD*>(this);
    } else if (std::strcmp(interfaceName, "IZtLogicalDevice") == 0) {
        answer = static_cast<IZtLogicalDevice*>(this);
    } else if (std::strcmp(interfaceName, "IZtLaserPowerControl") == 0) {
        answer = static_cast<IZtLaserPowerControl*>(this);
    } else {
        return CZtClass::QueryInterface(interfaceName);
    }
    AddRef();
    return answer;
}

DMApi* CZtStimulationDeviceVerove::DeviceManager() {
    IZtHostContext* context = VerovePluginState().hostContext;
    return context ? context->GetDeviceManager() : nullptr;
}

// ---- Names
// ---------------------------------------------------------------------------------------

CZtStringW CZtStimulationDeviceVerove::GetUniqueName() {
    return m_uniqueName;
}

void CZtStimulationDeviceVerove::SetUniqueName(const wchar_t* uniqueName) {
    IZtStimulationDeviceManager* manager = CZtStimulationDeviceManager::GetInstance();
    const CZtStringW newName(uniqueName);
    auto* self = static_cast<IZtStimulationDevice*>(this);
    if (manager && !m_uniqueName.IsEmpty() && manager->GetStaticDevice(m_uniqueName) == self) {
        // The manager's reference goes with the old registration; ours keeps the device alive.
        AddRef();
        manager->StaticDeviceRemove(VeroveAnsiName(m_uniqueName.Str()).c_str());
        SZtStimulationDeviceRecord record;
        record.typeName = L"Unknown";
        record.libraryPath = VeroveLibraryPath();
        record.uniqueName = newName;
        record.device = self;
        manager->StaticDeviceAdd(record);
        Release();
    }
    m_uniqueName = newName;
    if (manager) {
        manager->Update();
    }
}

void CZtStimulationDeviceVerove::SetGUIElementName(const wchar_t* guiName) {
    m_guiElementName = CZtStringW(guiName);
}

CZtStringW CZtStimulationDeviceVerove::GetGUIElementName() {
    return m_guiElementName;
}

int CZtStimulationDeviceVerove::GetDisplayName(CZtStringW* name, int kind) {
    if (!name) {
        return -4;
    }
    if (kind != 0) {
        name->Empty();
        return 0;
    }
    const int number = NumberOf(m_uniqueName.Str());
    CZtStringW suffix;
    if (number > 0) {
        suffix.Format(L" (%i)", number + 1);
    }
    const CZtStringW format = ZT_GetTranslation(m_simulated ? L"%s Simulator%s" : L"%s%s");
    name->Format(format, CZtVeroveNameManager::Instance().GetDeviceName(), suffix.GetString());
    return 0;
}

CZtStringW CZtStimulationDeviceVerove::GetSettingsFileName() {
    VEROVE_LOG("CZtStimulationDeviceVerove::GetSettingsFileName", L"Start");
    CZtStringW name(m_simulated ? L"VeroveSim.bin" : L"Verove.bin");
    VEROVE_LOG("CZtStimulationDeviceVerove::GetSettingsFileName", L"End - %s", name.GetString());
    return name;
}

// ---- Connection
// ----------------------------------------------------------------------------------

bool CZtStimulationDeviceVerove::Connect(bool connect, std::uint32_t brand,
                                         std::int32_t deviceIndex) {
    CZtLock lock(m_csDevice);
    VEROVE_LOG("CZtStimulationDeviceVerove::Connect", L"Start");
    if (connect) {
        CZtVeroveNameManager::Instance().SetBrand(brand == 0 ? 1 : 2);
        if (!m_driver) {
            m_driver.reset(new (std::nothrow) CZtVeroveDriver(this));
            if (!m_driver) {
                VEROVE_LOG("CZtStimulationDeviceVerove::Connect",
                           L"Failed to create driver instance.");
                return false;
            }
            m_driverView.store(m_driver.get());
            const int result = m_driver->Connect(deviceIndex);
            if (result != 0) {
                // A device held by another owner is not a fault of this one.
                if (result != -10) {
                    VEROVE_LOG("CZtStimulationDeviceVerove::Connect", L"Failed to open device.");
                }
                Connect(false, brand, -1);
                return false;
            }
            m_driverOpened = true;
        }
        if (CheckGalvoConflict() != 0) {
            m_connected = m_driver->IsConnected();
            return false;
        }
        if (!m_padWrapper && m_driver->IsConnected()) {
            m_padWrapper = std::make_unique<CZtVerovePadWrapper>(this);
        }
        InitializeDeviceState();
    } else {
        m_autocalibration->Abort();
        // A stimulation ending on a work thread still uses the driver.
        std::lock_guard run(m_runLock);
        m_driverView.store(nullptr);
        m_driver.reset();
        m_driverOpened = false;
    }
    m_connected = m_driver && m_driver->IsConnected();
    UpdateRegistryOptions();
    return m_connected == connect;
}

bool CZtStimulationDeviceVerove::IsConnected() {
    CZtLock lock(m_csDevice);
    return m_driver && m_driver->IsConnected();
}

int CZtStimulationDeviceVerove::CheckGalvoConflict() {
    DMApi* devices = DeviceManager();
    if (!devices) {
        return 0;
    }
    int galvoCount = 0;
    const bool galvoXY = devices->DMApi_GalvoXY_GetCount(&galvoCount) == 0 && galvoCount >= 1;
    bool galvoCapability = false;
    int count = 0;
    devices->LogDev_GetCount(&count);
    for (int i = 0; i < count && !galvoXY && !galvoCapability; ++i) {
        ZT_DWORD id = 0;
        bool has = false;
        galvoCapability = devices->LogDev_GetId(i, &id) == 0 &&
                          devices->LogDev_HasCapability(id, ZT_LOGDEV_CAP_GALVO_XY, &has) == 0 &&
                          has;
    }
    if (!galvoXY && !galvoCapability) {
        return 0;
    }
    // Set before the box opens: its event loop may bring another device here.
    if (!ZT_GetGalvoMessageShown()) {
        ZT_SetGalvoMessageShown(true);
        ZT_MessageBox_(nullptr,
                       ZT_GetTranslation(L"Combination of Verove with Galvo XY device is not "
                                         L"supported.\nVerove device status: Disconnected.")
                           .GetString(),
                       ZT_GetTranslation(L"Invalid HW Configuration").GetString(),
                       kErrorBoxTopMost);
    }
    ZT_DWORD physicalId = 0;
    if (m_logicalDeviceId != 0 &&
        devices->LogDev_GetPhysicalId(m_logicalDeviceId, &physicalId) == 0) {
        devices->PhysDev_Disconnect(physicalId);
    }
    if (galvoXY) {
        CZtLock lock(m_csDeviceManager);
        devices->DMApi_Refresh();
    }
    return -8;
}

int CZtStimulationDeviceVerove::InitializeDeviceState() {
    VEROVE_LOG("CZtStimulationDeviceVerove::InitializeDeviceState", L"Start");
    const int galvo = CheckGalvoConflict();
    if (galvo != 0) {
        return galvo;
    }
    SetBitDepth(1, false);
    if (CZtVeroveDriver* driver = GetDriver()) {
        int current = 0;
        {
            CZtLock lock(driver->GetBufferLock());
            current = driver->GetPatterns().GetCurrentId();
        }
        driver->ExposePattern(current, false);
    }
    return 0;
}

int CZtStimulationDeviceVerove::SetBitDepth(std::int32_t depth, bool force) {
    const char* function = "CZtStimulationDeviceVerove::SetBitDepth";
    VEROVE_LOG(function, L"Request to set bit depth %i.", depth);
    if (depth != 1 && depth != 4 && depth != 6 && depth != 8) {
        VEROVE_LOG(function, L"Invalid bit depth (%i) specified. Not set.", depth);
        return -4;
    }
    // A running manual shot is stopped and started again, so that it shows its pattern at the
    // new depth with the light path around it switched as for any shot.
    const bool shot = m_manualShotActive;
    if (shot) {
        StopShutterAndStimulation();
    }
    CZtVeroveDriver* driver = GetDriver();
    if (depth != GetBitDepth() || force) {
        m_driverSettings.bitDepth.store(depth);
        m_settings.bitDepth = depth;
        m_areasSet = false;
        if (driver) {
            driver->SetPixelEncoding(depth < 2);
            if (!shot && driver->IsExposing()) {
                driver->ExposePattern(CurrentPatternId(driver), true);
            }
        }
    }
    if (shot) {
        CZtStringW command;
        command.Format(L"ManualShot(\"%s\", 1, %f, %i);", GetControllingDevice().GetString(),
                       m_manualShotDuration.load(), m_manualShotParameter.load());
        m_manualShotActive = CLI_Command(command) == 0;
    }
    if (!m_takingOverBitDepth) {
        NotifyControllingAggregator(ZT_AGGREGATOR_BIT_DEPTH);
    }
    Q9_Display_PictureInc(4);
    VEROVE_LOG(function, L"Bit depth %i has been set.", depth);
    return 0;
}

void CZtStimulationDeviceVerove::UpdateRegistryOptions() {
    std::uint32_t doNotHide = 0;
    std::uint32_t debugMemory = 0;
    std::uint32_t dithering = 1;
    ZT_HKEY key = nullptr;
    if (ZT_RegOpenKey(EZtRegRoot::LocalMachine, kRegistryKey, &key) == ZT_ERROR_SUCCESS) {
        ReadRegistryDword(key, L"DoNotHideLightPad", 0, &doNotHide);
        ReadRegistryDword(key, L"DebugDeviceMemory", 0, &debugMemory);
        ReadRegistryDword(key, L"DitheringMethod", 1, &dithering);
        ZT_RegCloseKey(key);
    }
    m_hideLightPad = doNotHide != 1;
    m_driverSettings.debugDeviceMemory.store(debugMemory == 1);
    m_driverSettings.ditheringMethod.store(dithering);
    const char* function = "CZtStimulationDeviceVerove::UpdateRegistryOptions";
    VEROVE_LOG(function, L"Light pad hiding %s", m_hideLightPad ? L"enabled" : L"disabled");
    VEROVE_LOG(function, L"Device memory debugging %s",
               debugMemory == 1 ? L"enabled" : L"disabled");
    VEROVE_LOG(function, L"Dithering method %d", static_cast<int>(dithering));
}

int CZtStimulationDeviceVerove::GetDitheringMethod() {
    return static_cast<int>(m_driverSettings.ditheringMethod.load());
}

bool CZtStimulationDeviceVerove::GetDebugDeviceMemory() {
    return m_driverSettings.debugDeviceMemory.load();
}

CZtVeroveDriver* CZtStimulationDeviceVerove::GetDriver() {
    return m_driverView.load();
}

CZtCalibrationData* CZtStimulationDeviceVerove::GetCalibrationData() {
    return m_driverSettings.calibration.get();
}

CZtVerovePadWrapper* CZtStimulationDeviceVerove::GetPadWrapper() {
    return m_padWrapper.get();
}

int CZtStimulationDeviceVerove::SetTraxPort(std::uint32_t portA, std::uint32_t portB) {
    m_traxPortA.store(portA);
    m_traxPortB.store(portB);
    if (CZtVeroveDriver* driver = GetDriver()) {
        driver->UpdateTriggerAvailability();
    }
    return 0;
}

void CZtStimulationDeviceVerove::GetTraxPorts(std::uint32_t* portA, std::uint32_t* portB) {
    if (portA) {
        *portA = m_traxPortA.load();
    }
    if (portB) {
        *portB = m_traxPortB.load();
    }
}

// ---- Activation and experiments ----------------------------------------------------------------

int CZtStimulationDeviceVerove::SetActive(bool active) {
    VEROVE_LOG("CZtStimulationDeviceVerove::SetActive", L"Start");
    if (active == m_active) {
        return 0;
    }
    m_active = active;
    if (!active) {
        ManualShotEnd();
    }
    return 0;
}

void CZtStimulationDeviceVerove::SetVisible(bool visible) {
    VEROVE_LOG("CZtStimulationDeviceVerove::SetVisible", L"Start");
    m_visible = visible;
}

bool CZtStimulationDeviceVerove::OnPortActivated(bool activated, bool show) {
    CZtLock lock(m_csDevice);
    if (m_padWrapper) {
        m_padWrapper->PortActivated(activated, show);
    }
    return true;
}

int CZtStimulationDeviceVerove::OnNDExperiment(std::int32_t phase) {
    VEROVE_LOG("CZtStimulationDeviceVerove::OnNDExperiment", L"Start");
    if (m_experimentState != 2) {
        m_experimentState = phase;
        if (phase == 1) {
            std::lock_guard run(m_runLock);
            m_firedStimulations.clear();
            m_firedCursor = 0;
        }
    } else if (phase == 1 && --m_expectedPhases <= 0) {
        m_expectedPhases = 0;
        m_experimentState = 1;
        std::lock_guard run(m_runLock);
        m_firedStimulations.clear();
        m_firedCursor = 0;
    }
    VEROVE_LOG("CZtStimulationDeviceVerove::OnNDExperiment", L"End - state %d",
               static_cast<int>(m_experimentState.load()));
    return 0;
}

int CZtStimulationDeviceVerove::OnPluginNDSequence_Validate(const void* actions) {
    VEROVE_LOG("CZtStimulationDeviceVerove::OnPluginNDSequence_Validate", L"Start");
    if (!actions) {
        VEROVE_LOG("CZtStimulationDeviceVerove::OnPluginNDSequence_Validate",
                   L"Invalid actions definition.");
        return -4;
    }
    m_experimentState = 2;
    {
        std::lock_guard run(m_runLock);
        m_firedStimulations.clear();
        m_firedCursor = 0;
    }
    m_areasSet = false;
    return 0;
}

bool CZtStimulationDeviceVerove::HasCapability(std::uint32_t code) {
    static constexpr int kCodes[] = {1, 2, 4, 5, 10, 14, 16, 18, 21, 22};
    return Contains(kCodes, static_cast<int>(code));
}

bool CZtStimulationDeviceVerove::HasCapabilityNow(std::uint32_t code) {
    switch (code) {
        case 20:
            return m_experimentState == 2;
        case 21:
            return true;
        case 22: {
            const CZtCalibrationData* calibration = GetCalibrationData();
            return calibration && calibration->GetCalibrationState() > NotCalibrated;
        }
        default:
            return HasCapability(code);
    }
}

// ---- Host events -----------------------------------------------------------------------------

int CZtStimulationDeviceVerove::CheckConfigurationDataAndUpdateCalibration(bool* changed) {
    const char* function = "CZtStimulationDeviceVerove::CheckConfigurationDataAndUpdateCalibration";
    bool calibrationChanged = false;
    if (m_calibrationInProgress.load()) {
        if (changed) {
            *changed = false;
        }
        VEROVE_LOG(function, L"Aborting, autocalibration in progress...");
        return -9;
    }
    CZtVeroveDriver* driver = GetDriver();
    if (!driver) {
        VEROVE_LOG(function, L"End - Fail");
        return -12;
    }
    DMApi* devices = DeviceManager();
    CZtCalibrationData* calibration = GetCalibrationData();
    std::vector<ZT_DWORD> ids;
    int count = 0;
    if (devices && devices->LogDev_GetCount(&count) == 0) {
        for (int i = 0; i < count; ++i) {
            ZT_DWORD id = 0;
            if (devices->LogDev_GetId(i, &id) == 0) {
                ids.push_back(id);
            }
        }
    }
    CZtConfigurationData fresh;
    if (calibration && !ids.empty() &&
        FillConfigurationData(devices, GetGrabberProvider(), ids.data(),
                              static_cast<int>(ids.size()), &fresh,
                              driver->IsTRAXConnected()) == 0) {
        const std::wstring previous = calibration->GetCurrentConfigurationString();
        const SZtRect rect = calibration->GetCameraRect();
        const double rotation = std::round(calibration->GetCameraRotation());
        // The driver follows the notice and hands the calibration the camera's new geometry.
        ZT_CameraFormatChanged();
        const bool rotationChanged = calibration->GetCameraRotation() != rotation;
        const SZtRect newRect = calibration->GetCameraRect();
        const bool rectChanged = newRect.left != rect.left || newRect.top != rect.top ||
                                 newRect.right != rect.right || newRect.bottom != rect.bottom;
        const auto port = static_cast<std::int32_t>(m_traxPortA.load());
        if (fresh.IsTRAXConnected() != driver->IsTRAXConnected() ||
            (fresh.IsTRAXConnected() && fresh.GetConnectionPort() != port)) {
            fresh.SetTRAXConnected(driver->IsTRAXConnected());
            fresh.AddConnectionPort(port);
        }
        if (fresh.GetConfigurationString() != previous || rotationChanged || rectChanged) {
            *calibration->LockCurrentConfiguration() = fresh;
            calibration->UnlockCurrentConfiguration();
            calibration->LoadCalibration(&calibrationChanged);
            if (calibrationChanged || rotationChanged || rectChanged) {
                driver->InvalidateCameraMappedPatterns();
                int current = 0;
                bool cameraMapped = false;
                {
                    CZtLock lock(driver->GetBufferLock());
                    CZtPatternStore& store = driver->GetPatterns();
                    current = store.GetCurrentId();
                    const CZtPattern* pattern = store.FindById(static_cast<std::uint32_t>(current));
                    cameraMapped = pattern && pattern->GetMapping() == 1;
                }
                if (cameraMapped) {
                    driver->ExposePattern(current, false);
                }
                RefreshPad();
            }
        }
    }
    if (changed) {
        *changed = calibrationChanged;
    }
    VEROVE_LOG(function, L"End - OK, calibration changed = %d", calibrationChanged ? 1 : 0);
    return 0;
}

int CZtStimulationDeviceVerove::HandleDMRefresh() {
    const int result = CheckConfigurationDataAndUpdateCalibration(nullptr);
    if (m_padWrapper) {
        m_padWrapper->DMRefresh();
    }
    VEROVE_LOG("CZtStimulationDeviceVerove::HandleDMRefresh", L"End - return code %d", result);
    return result;
}

// The calibration tree of the configuration dialog is rebuilt with the dialog.
int CZtStimulationDeviceVerove::HandleDMRefreshDelayed() {
    m_lightPath->RebuildCandidates();
    m_lightPath->ResolveAssociation();
    RefreshPad();
    if (m_configDialog) {
        m_configDialog->OnDeviceChanged();
    }
    VEROVE_LOG("CZtStimulationDeviceVerove::HandleDMRefreshDelayed", L"End, return code %d", 0);
    return 0;
}

int CZtStimulationDeviceVerove::HandleCameraNewParams(bool selected) {
    const int result = CheckConfigurationDataAndUpdateCalibration(nullptr);
    if (m_padWrapper) {
        m_padWrapper->CameraNewParams();
    }
    VEROVE_LOG("CZtStimulationDeviceVerove::HandleCameraNewParams", L"End, return code %d", result);
    return result;
}

// The camera's new parameters may have changed the calibration state the pad shows.
int CZtStimulationDeviceVerove::HandleCameraNewParamsDelayed() {
    VEROVE_LOG("CZtStimulationDeviceVerove::HandleCameraNewParamsDelayed", L"Start");
    if (m_pad) {
        m_pad->OnUpdateStatusMessage();
    }
    if (m_configDialog) {
        m_configDialog->OnDeviceChanged();
    }
    return 0;
}

void CZtStimulationDeviceVerove::AppendUnique(std::vector<std::uint32_t>* list,
                                              const std::uint32_t* ids, int count) {
    for (int i = 0; ids && i < count; ++i) {
        if (std::find(list->begin(), list->end(), ids[i]) == list->end()) {
            list->push_back(ids[i]);
        }
    }
}

int CZtStimulationDeviceVerove::HandleDeviceChanged(const std::uint32_t* ids, int count) {
    const char* function = "CZtStimulationDeviceVerove::HandleDeviceChanged";
    VEROVE_LOG(function, L"Start");
    if (m_operationMode == kOperationModeSequence) {
        m_sequenceDeviceChanges.insert(m_sequenceDeviceChanges.end(), ids, ids + count);
        VEROVE_LOG(function, L"Handling devicechange delayed until Illumination Sequence done.");
        return 0;
    }
    if (!m_startupDone) {
        AppendUnique(&m_startupDeviceChanges, ids, count);
        VEROVE_LOG(function, L"Handling devicechange delayed until startup done.");
        return 0;
    }
    DMApi* devices = DeviceManager();
    bool relevant = false;
    bool walkedToEnd = true;
    for (int i = 0; devices && ids && i < count; ++i) {
        int type = 0;
        if (devices->LogDev_GetType(ids[i], &type) != 0 || !Contains(kRelevantTypes, type)) {
            continue;
        }
        relevant = true;
        if (Contains(kConfigurationTypes, type)) {
            CheckConfigurationDataAndUpdateCalibration(nullptr);
        } else if (type == ZT_LOGDEV_LIGHT || type == ZT_LOGDEV_MULTILASER) {
            m_lightPath->UpdateFromDevice(ids[i], type);
        } else if (type != ZT_LOGDEV_LIGHT && type != ZT_LOGDEV_SHUTTER &&
                   type != ZT_LOGDEV_MULTILASER) {
            // A device of another kind changes the path beyond this list: the pad waits for
            // the refresh that follows.
            walkedToEnd = false;
            break;
        }
    }
    if (walkedToEnd && relevant && m_padWrapper) {
        m_padWrapper->DeviceChanged(ids, count);
    }
    VEROVE_LOG(function, L"End");
    return 0;
}

// The immediate handler took the light's new values into the line records; the pad shows them.
int CZtStimulationDeviceVerove::HandleDeviceChangedDelayed(std::uint32_t id) {
    VEROVE_LOG("CZtStimulationDeviceVerove::HandleDeviceChangedDelayed", L"Start");
    DMApi* devices = DeviceManager();
    int type = 0;
    if (!m_pad || !devices || devices->LogDev_GetType(id, &type) != 0 ||
        !Contains(kRelevantTypes, type)) {
        return 0;
    }
    if ((type == ZT_LOGDEV_LIGHT || type == ZT_LOGDEV_MULTILASER) &&
        id == m_lightPath->GetLightId()) {
        const int count = type == ZT_LOGDEV_LIGHT ? std::min(1, GetLineCount()) : GetLineCount();
        for (int line = 0; line < count; ++line) {
            m_pad->ShowLine(line);
        }
    } else if (type == ZT_LOGDEV_SHUTTER) {
        const std::vector<ZT_DWORD> chain = m_lightPath->GetShutterIds();
        if (std::find(chain.begin(), chain.end(), id) != chain.end()) {
            m_pad->ShowShutterState(m_lightPath->AreShuttersOpen());
        }
    }
    return 0;
}

// ---- IZtDeviceDMD
// --------------------------------------------------------------------------------

const wchar_t* CZtStimulationDeviceVerove::GetTypeText(int kind) {
    if (kind == 1) {
        return GetTypeName();
    }
    return kind == 2 ? GetTypeDescription() : L"";
}

int CZtStimulationDeviceVerove::GetDeviceID(ZT_DWORD* id) {
    if (!id) {
        return 14;
    }
    *id = m_logicalDeviceId;
    return 0;
}

int CZtStimulationDeviceVerove::SaveKeys(CZtLiteVariantW* keys) {
    if (!keys) {
        return 14;
    }
    return keys->AddBool(L"TriggerAvailable", m_triggerAvailable);
}

int CZtStimulationDeviceVerove::LoadKeys(CZtLiteVariantR* keys, ZT_DWORD id) {
    m_logicalDeviceId = id;
    m_triggerAvailable =
        Q9_Obsolete_IsLoTrue(L"") && keys && keys->GetBool(L"TriggerAvailable", false);
    return 0;
}

bool CZtStimulationDeviceVerove::HasDeviceCapability(ZT_DWORD code) {
    switch (code) {
        case 48:
        case 80:
            return m_triggerAvailable;
        case 51:
        case 55:
        case 128:
        case 131:
        case 153:
            return true;
        default:
            return false;
    }
}

int CZtStimulationDeviceVerove::ShowConfigurationDialog(QWidget* parent) {
    VEROVE_LOG("CZtStimulationDeviceVerove::ShowConfigurationDialog", L"Start");
    return CZtVeroveConfig::RunModal(this, parent);
}

int CZtStimulationDeviceVerove::ParameterByCode(ZT_DWORD code, void* value) {
    if (!value) {
        return 21;
    }
    switch (code) {
        case kParamNotifyCallback: {
            const auto* notify = static_cast<const SZtNotifyCallback*>(value);
            m_lightPath->SetNotifyCallback(notify->context, notify->callback);
            return 0;
        }
        case kParamNothing:
            return 0;
        case kParamLightId:
            *static_cast<ZT_DWORD*>(value) = m_lightPath->GetLightId();
            return 0;
        case kParamEmptyText:
            *static_cast<const wchar_t**>(value) = m_emptyText;
            return 0;
        default:
            return 22;
    }
}

QObject* CZtStimulationDeviceVerove::GetControlPadGUIElement() {
    return m_padWrapper.get();
}

int CZtStimulationDeviceVerove::GetControlPadGUIElementInfo(CZtStringW* title, CZtStringW* group,
                                                            CZtStringW* bitmap) {
    if (title) {
        *title = ZT_GetTranslation(L"Verove Pad");
    }
    if (group) {
        *group = CZtStringW(L"Acquisition Controls");
    }
    if (bitmap) {
        *bitmap = CZtStringW(L"SCANAREA_ROI");
    }
    return 0;
}

int CZtStimulationDeviceVerove::UpdateControlPad() {
    const char* function = "CZtStimulationDeviceVerove::UpdateControlPad";
    VEROVE_LOG(function, L"Start");
    IZtLayoutManager* layout = ZT_GetLayoutManager();
    ZT_HGUIELEMENT element = layout ? layout->GetLogDevGUIElement(m_logicalDeviceId) : nullptr;
    if (!element) {
        VEROVE_LOG(function, L"Failed to update device pad name, aborting...");
        VEROVE_LOG(function, L"End");
        return 21;
    }
    CZtVeroveNameManager& names = CZtVeroveNameManager::Instance();
    CZtStringW title;
    if (m_simulated) {
        title.Format(L"%s %s %s", names.GetDisplayName(), ZT_GetTranslation(L"Sim").GetString(),
                     ZT_GetTranslation(L"Pad").GetString());
    } else {
        title.Format(L"%s %s", names.GetDisplayName(), ZT_GetTranslation(L"Pad").GetString());
    }
    CZtStringW key;
    DMApi* devices = DeviceManager();
    if (devices && devices->LogDev_GetKey(m_logicalDeviceId, &key) == 0 && !key.IsEmpty()) {
        title.AppendFormat(L" (%s)", key.GetString());
    }
    const int result = layout->SetUserName(element, ZT_GetTranslation(title).GetString());
    VEROVE_LOG(function, L"End");
    return result == 0 ? 0 : 21;
}

int CZtStimulationDeviceVerove::GetAssociatedShuttersOpen(bool* open) {
    if (!open) {
        return 21;
    }
    *open = m_lightPath->AreShuttersOpen();
    return 0;
}

int CZtStimulationDeviceVerove::SetAssociatedShuttersOpenState(bool open) {
    return m_lightPath->SetShuttersOpen(open);
}

int CZtStimulationDeviceVerove::GetAssociatedShutterCount(ZT_DWORD* count) {
    if (!count) {
        return 21;
    }
    *count = static_cast<ZT_DWORD>(m_lightPath->GetShutterIds().size());
    return 0;
}

int CZtStimulationDeviceVerove::GetAssociatedShutterId(int index, ZT_DWORD* id) {
    if (!id) {
        return 21;
    }
    const std::vector<ZT_DWORD> ids = m_lightPath->GetShutterIds();
    if (index < 0 || index >= static_cast<int>(ids.size())) {
        *id = 0;
        return 21;
    }
    *id = ids[static_cast<size_t>(index)];
    return 0;
}

int CZtStimulationDeviceVerove::GetAssociatedLightId(ZT_DWORD* id) {
    if (!id) {
        return 21;
    }
    *id = m_lightPath->GetLightId();
    return 0;
}

int CZtStimulationDeviceVerove::GetAssociatedSwitcherId(ZT_DWORD* id) {
    if (!id) {
        return 21;
    }
    *id = m_lightPath->GetSwitcherId();
    return 0;
}

int CZtStimulationDeviceVerove::GetAssociatedSwitcherPort(ZT_DWORD* port) {
    if (!port) {
        return 21;
    }
    *port = m_lightPath->GetSwitcherPort();
    return 0;
}

int CZtStimulationDeviceVerove::GetPatternCount(ZT_DWORD* count) {
    if (!count) {
        return 14;
    }
    *count = static_cast<ZT_DWORD>(GetPatternCount());
    return 0;
}

int CZtStimulationDeviceVerove::GetPatternCount() {
    CZtVeroveDriver* driver = GetDriver();
    if (!driver) {
        return 0;
    }
    CZtLock lock(driver->GetBufferLock());
    return driver->GetPatterns().Count();
}

int CZtStimulationDeviceVerove::GetPatternName(ZT_DWORD id, CZtStringW* name) {
    CZtVeroveDriver* driver = GetDriver();
    if (!driver) {
        VEROVE_LOG("CZtStimulationDeviceVerove::GetPatternName", L"No device driver, aborting...");
        return 21;
    }
    if (!name) {
        return 14;
    }
    CZtLock lock(driver->GetBufferLock());
    const CZtPattern* pattern = FindPattern(driver, id);
    if (!pattern) {
        return 3;
    }
    *name = pattern->GetName();
    return 0;
}

const CZtPattern* CZtStimulationDeviceVerove::FindPattern(CZtVeroveDriver* driver, ZT_DWORD id) {
    // Identifiers from 10000 on name the patterns prepared for an illumination sequence.
    if (id >= kFirstSequencePatternId) {
        const size_t index = id - kFirstSequencePatternId;
        return index < m_sequencePool.size() ? m_sequencePool[index].get() : nullptr;
    }
    return driver->GetPatterns().FindById(id);
}

int CZtStimulationDeviceVerove::GetPatternAvailable(ZT_DWORD id, bool* available) {
    if (!available) {
        return 21;
    }
    CZtVeroveDriver* driver = GetDriver();
    if (!driver) {
        return 21;
    }
    CZtLock lock(driver->GetBufferLock());
    const CZtPattern* pattern = driver->GetPatterns().FindById(id);
    if (!pattern) {
        return 3;
    }
    // The group patterns S1-S3 are usable only once they hold stimulation areas.
    *available = id < 3 || id > 5 || pattern->HasStimulationAreas();
    return 0;
}

int CZtStimulationDeviceVerove::GetActivePatternId(ZT_DWORD* id) {
    if (!id) {
        return 14;
    }
    CZtVeroveDriver* driver = GetDriver();
    if (!driver) {
        return 21;
    }
    CZtLock lock(driver->GetBufferLock());
    *id = static_cast<ZT_DWORD>(driver->GetPatterns().GetCurrentId());
    return 0;
}

int CZtStimulationDeviceVerove::SetActivePatternId(ZT_DWORD id) {
    CZtVeroveDriver* driver = GetDriver();
    if (!driver) {
        return 21;
    }
    ZT_DWORD current = 0;
    GetActivePatternId(&current);
    if (current == id) {
        return 0;
    }
    const int result = driver->ExposePattern(static_cast<int>(id), false);
    if (m_padWrapper) {
        GetActivePatternId(&current);
        m_padWrapper->ActivePattern(current);
    }
    return result;
}

int CZtStimulationDeviceVerove::GetPatternIdByName(const wchar_t* name, ZT_DWORD* id) {
    const char* function = "CZtStimulationDeviceVerove::GetPatternId";
    if (!id) {
        VEROVE_LOG(function, L"Invalid pattern ID pointer, aborting");
        return 14;
    }
    CZtVeroveDriver* driver = GetDriver();
    if (!driver || !name) {
        return 21;
    }
    CZtLock lock(driver->GetBufferLock());
    CZtPatternStore& store = driver->GetPatterns();
    ZT_DWORD fullOff = 0;
    for (int i = 0; i < store.Count(); ++i) {
        const CZtPattern* pattern = store.GetAt(i);
        const std::uint32_t patternId = pattern->GetId();
        if (pattern->GetName() == L"Full OFF") {
            fullOff = patternId;
        }
        const bool usable = patternId < 3 || patternId > 5 || pattern->HasStimulationAreas();
        if (pattern->GetName() == name && usable) {
            *id = patternId;
            VEROVE_LOG(function, L"Pattern %s found, returning id = %u", name, patternId);
            return 0;
        }
    }
    *id = fullOff;
    VEROVE_LOG(function, L"No pattern named %s exists, returning FULL OFF id", name);
    return 0;
}

int CZtStimulationDeviceVerove::GetPatternIdByIndex(ZT_DWORD index, ZT_DWORD* id) {
    if (!id) {
        return 14;
    }
    CZtVeroveDriver* driver = GetDriver();
    if (!driver) {
        return 21;
    }
    CZtLock lock(driver->GetBufferLock());
    const CZtPattern* pattern = driver->GetPatterns().GetAt(static_cast<int>(index));
    if (!pattern) {
        return 21;
    }
    *id = pattern->GetId();
    return 0;
}

int CZtStimulationDeviceVerove::GetPatternCameraProjection(ZT_DWORD id, SZtPicBuf* picture,
                                                           const SZtRect* rect1,
                                                           const SZtRect* rect2, double value1,
                                                           double value2, double angleDegrees) {
    const char* function = "CZtStimulationDeviceVerove::GetPatternCameraProjection";
    VEROVE_LOG(function, L"Start");
    CZtVeroveDriver* driver = GetDriver();
    if (!driver) {
        VEROVE_LOG(function, L"No device driver, aborting...");
        VEROVE_LOG(function, L"End");
        return 21;
    }
    if (!picture) {
        VEROVE_LOG(function, L"Invalid image buffer format, aborting...");
        VEROVE_LOG(function, L"End");
        return 21;
    }
    // A copy: projecting renders into the pattern's working picture.
    CZtPattern pattern;
    {
        CZtLock lock(driver->GetBufferLock());
        const CZtPattern* found = FindPattern(driver, id);
        if (!found) {
            VEROVE_LOG(function, L"Unable to obtain pattern ID = %u, aborting...", id);
            VEROVE_LOG(function,
                       L"Custom grid pool contains %u patterns, device pool contains %u patterns",
                       static_cast<unsigned>(m_sequencePool.size()),
                       static_cast<unsigned>(driver->GetPatterns().Count()));
            VEROVE_LOG(function, L"End");
            return 21;
        }
        pattern = *found;
    }
    SZtGrabberFormatDesc format;
    if (driver->GetCurrentFormat(&format) != 0) {
        VEROVE_LOG(function, L"Unable to obtain camera format.");
        VEROVE_LOG(function, L"End");
        return 21;
    }
    // The caller's view of the camera replaces the driver's; a binning of 0 or less would leave
    // no picture, so the camera's own stays then.
    if (rect1) {
        format.value.sensorRect = *rect1;
    }
    if (rect2) {
        format.value.imageRect = *rect2;
    }
    if (value1 > 0.0) {
        format.value.binningX = value1;
    }
    if (value2 > 0.0) {
        format.value.binningY = value2;
    }
    const SZtRect& size = rect2 && rect2->right > rect2->left && rect2->bottom > rect2->top
                              ? *rect2
                              : format.value.sensorRect;
    SZtPicBuf projected;
    if (size.right > size.left && size.bottom > size.top) {
        CZtPicBufAPI::Alloc(&projected, static_cast<std::uint32_t>(size.right - size.left),
                            static_cast<std::uint32_t>(size.bottom - size.top), 8, 1);
    }
    std::vector<double> matrix;
    SZtScanAreaDesc scanArea{};
    if (CZtCalibrationData* calibration = GetCalibrationData()) {
        const CZtMatrix3 mapping = calibration->GetMappingDMDToCam();
        matrix.assign(mapping.begin(), mapping.end());
        scanArea = calibration->GetScanAreaDesc();
    }
    if (pattern.GetProjectionToCameraSpace(&projected, &format.value, angleDegrees, matrix,
                                           &scanArea) != 0 ||
        CZtPicBufAPI::Copy(&projected, picture) != 0) {
        VEROVE_LOG(function, L"Unable to obtain pattern projection.");
        VEROVE_LOG(function, L"End");
        return 21;
    }
    VEROVE_LOG(function, L"End - OK");
    return 0;
}

int CZtStimulationDeviceVerove::IsCalibrated(bool* calibrated) {
    if (!calibrated) {
        return 14;
    }
    const CZtCalibrationData* calibration = GetCalibrationData();
    *calibrated = calibration && calibration->GetCalibrationState() > NotCalibrated;
    return 0;
}

int CZtStimulationDeviceVerove::SetOperationMode(std::int32_t mode) {
    const char* function = "CZtStimulationDeviceVerove::SetOperationMode";
    VEROVE_LOG(function, L"Start");
    CZtVeroveDriver* driver = GetDriver();
    if (mode == kOperationModeSequence &&
        (m_operationMode == kOperationModeNormal || m_operationMode == 6)) {
        if (!driver) {
            VEROVE_LOG(function, L"No driver.");
            return 21;
        }
        const int result = EnterIlluminationSequence(driver);
        if (result != 0) {
            return result;
        }
    } else if (mode == kOperationModeNormal && m_operationMode != kOperationModeNormal && driver) {
        LeaveIlluminationSequence(driver);
    }
    m_previousOperationMode = m_operationMode;
    m_operationMode = mode;
    if (mode == kOperationModeNormal && m_previousOperationMode == kOperationModeSequence) {
        m_sequencePool.clear();
        // Changes of the light path that waited for the sequence are handled now.
        std::vector<std::uint32_t> deferred;
        deferred.swap(m_sequenceDeviceChanges);
        if (!deferred.empty()) {
            HandleDeviceChanged(deferred.data(), static_cast<int>(deferred.size()));
        }
    }
    VEROVE_LOG(function, L"End - mode %d", mode);
    return 0;
}

int CZtStimulationDeviceVerove::EnterIlluminationSequence(CZtVeroveDriver* driver) {
    m_sequenceDeviceChanges.clear();
    driver->ExposePattern(0, false);
    SetBitDepth(1, false);
    std::vector<CZtPattern*> patterns;
    for (const std::unique_ptr<CZtPattern>& pattern : m_sequencePool) {
        patterns.push_back(pattern.get());
    }
    int result = 0;
    {
        CZtLock lock(driver->GetBufferLock());
        result =
            driver->ProgramIlluminationSequence(patterns, m_sequenceEvents, m_sequenceRepeatCount);
    }
    if (result == 0) {
        return 0;
    }
    VEROVE_LOG("CZtStimulationDeviceVerove::SetOperationMode", L"Failed to upload pattern.");
    // Back to live single patterns, dark: a half-programmed sequence must never run.
    driver->LeaveIlluminationSequence();
    SetBitDepth(m_sequenceReturnBitDepth, false);
    driver->ExposePattern(0, true);
    return 21;
}

void CZtStimulationDeviceVerove::LeaveIlluminationSequence(CZtVeroveDriver* driver) {
    driver->LeaveIlluminationSequence();
    SetBitDepth(m_sequenceReturnBitDepth, false);
    driver->ExposePattern(m_sequenceReturnPatternId, true);
}

int CZtStimulationDeviceVerove::GetSequencePoolSize() {
    return static_cast<int>(m_sequencePool.size());
}

int CZtStimulationDeviceVerove::GetIlluminationSequenceState(std::int32_t* state) {
    if (!state) {
        return 14;
    }
    *state = m_operationMode;
    return 0;
}

// Each step becomes one sequence event showing one frame; a pattern used by several steps is
// uploaded once, at the place of its first use.
int CZtStimulationDeviceVerove::SetIlluminationSequence(const void* sequence) {
    const char* function = "CZtStimulationDeviceVerove::SetIlluminationSequence";
    VEROVE_LOG(function, L"Start");
    CZtVeroveDriver* driver = GetDriver();
    if (!driver) {
        VEROVE_LOG(function, L"No driver.");
        return 21;
    }
    if (!m_settings.externalTriggerSet) {
        VEROVE_LOG(function, L"External triggering not enabled.");
        return 21;
    }
    if (!sequence) {
        VEROVE_LOG(function, L"Invalid illumination sequence.");
        return 21;
    }
    const auto& steps = *static_cast<const SZtIlluminationSequence*>(sequence);
    std::vector<std::unique_ptr<CZtPattern>> pool;
    std::vector<ZT_DWORD> poolIds;
    std::vector<SZtVeroveSequenceEvent> events;
    {
        CZtLock lock(driver->GetBufferLock());
        for (const SZtIlluminationSequenceStep& step : steps.steps) {
            auto used = std::find(poolIds.begin(), poolIds.end(), step.patternId);
            if (used == poolIds.end()) {
                const CZtPattern* pattern = FindPattern(driver, step.patternId);
                if (!pattern) {
                    VEROVE_LOG(function, L"Pattern %u not found.", step.patternId);
                    return 21;
                }
                pool.push_back(std::make_unique<CZtPattern>(*pattern));
                poolIds.push_back(step.patternId);
                used = poolIds.end() - 1;
            }
            SZtVeroveSequenceEvent event;
            event.frameIndex = static_cast<std::int32_t>(used - poolIds.begin());
            event.frameCount = 1;
            event.frameCycleCount = step.frameCycleCount;
            event.exposureTime = step.exposureMs / 1000.0;
            event.gapTime = step.gapMs / 1000.0;
            events.push_back(event);
        }
        m_sequenceReturnPatternId = driver->GetPatterns().GetCurrentId();
    }
    m_sequenceReturnBitDepth = GetBitDepth();
    m_sequencePool.swap(pool);
    m_sequenceEvents.swap(events);
    m_sequenceRepeatCount = steps.repeatCount;
    VEROVE_LOG(function, L"End - %u patterns, %u events",
               static_cast<unsigned>(m_sequencePool.size()),
               static_cast<unsigned>(m_sequenceEvents.size()));
    return 0;
}

int CZtStimulationDeviceVerove::GenerateGridAppendToISPool(int columns, int rows) {
    const char* function = "CZtStimulationDeviceVerove::GenerateGridAppendToISPool";
    VEROVE_LOG(function, L"Start");
    CZtVeroveDriver* driver = GetDriver();
    if (!driver) {
        VEROVE_LOG(function, L"Aborting, no device driver loaded...");
        return 21;
    }
    if (columns < 1 || rows < 1) {
        return -4;
    }
    const auto width = static_cast<std::uint32_t>(driver->GetDmdWidth());
    const auto height = static_cast<std::uint32_t>(driver->GetDmdHeight());
    const std::uint32_t cellWidth = width / static_cast<std::uint32_t>(columns);
    const std::uint32_t cellHeight = height / static_cast<std::uint32_t>(rows);
    SZtPicBuf cell;
    if (CZtPicBufAPI::Alloc(&cell, width, height, 8, 1) != 0) {
        return -3;
    }
    CZtLock lock(driver->GetBufferLock());
    auto id = static_cast<std::uint32_t>(m_sequencePool.size() + kFirstSequencePatternId);
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            CZtPicBufAPI::Zero(&cell);
            for (std::uint32_t y = 0; y < cellHeight; ++y) {
                std::memset(cell.Row(row * cellHeight + y) + column * cellWidth, 255, cellWidth);
            }
            CZtStringW name;
            name.Format(L"Grid (%d/%d, %d/%d)", column + 1, columns, row + 1, rows);
            CZtPattern pattern(name, width, height);
            pattern.SetBitmap(&cell);
            pattern.SetId(id++);
            pattern.SetMapping(0);
            pattern.SetKind(2);
            m_sequencePool.push_back(std::make_unique<CZtPattern>(pattern));
        }
    }
    return 0;
}

// ---- IZtStimulationDeviceEx
// ----------------------------------------------------------------------

int CZtStimulationDeviceVerove::AddUserPattern(const wchar_t* name, const wchar_t* path,
                                               std::int32_t mapping) {
    VEROVE_LOG("CZtStimulationDeviceVerove::AddUserPattern", L"Start");
    if (!name || !path || (mapping != 0 && mapping != 1)) {
        return -4;
    }
    SZtVeroveBitmapEntry entry;
    entry.name = name;
    entry.filePath = path;
    entry.mapping = mapping;
    m_settings.bitmaps.push_back(entry);
    CheckBitmapPatterns();
    SaveSettings();
    return 0;
}

int CZtStimulationDeviceVerove::GetUserPattern(const wchar_t* name, CZtStringW* path) {
    VEROVE_LOG("CZtStimulationDeviceVerove::GetUserPattern", L"Start");
    return kNotSupported;
}

int CZtStimulationDeviceVerove::ActivatePatternByName(const wchar_t* name) {
    if (!name || !HasPattern(name)) {
        return -9;
    }
    ZT_DWORD id = 0;
    GetPatternIdByName(name, &id);
    return SetActivePatternId(id);
}

bool CZtStimulationDeviceVerove::HasPattern(const wchar_t* name) {
    CZtVeroveDriver* driver = GetDriver();
    if (!driver || !name) {
        return false;
    }
    CZtLock lock(driver->GetBufferLock());
    CZtPatternStore& store = driver->GetPatterns();
    for (int i = 0; i < store.Count(); ++i) {
        if (store.GetAt(i)->GetName() == name) {
            return true;
        }
    }
    return false;
}

void CZtStimulationDeviceVerove::RefreshPad() {
    RunOnPad([](CZtVerovePadQt& pad) { pad.RefreshFromDevice(); });
}

void CZtStimulationDeviceVerove::RunOnPad(std::function<void(CZtVerovePadQt&)> work) {
    CZtVerovePadWrapper* wrapper = m_padWrapper.get();
    if (!wrapper) {
        return;
    }
    if (QThread::currentThread() == wrapper->thread()) {
        if (m_pad) {
            work(*m_pad);
        }
        return;
    }
    QMetaObject::invokeMethod(
        wrapper,
        [this, work = std::move(work)] {
            if (m_pad) {
                work(*m_pad);
            }
        },
        Qt::QueuedConnection);
}

void CZtStimulationDeviceVerove::SetPad(CZtVerovePadQt* pad) {
    m_pad = pad;
}

CZtVerovePadQt* CZtStimulationDeviceVerove::GetPad() {
    return m_pad;
}

void CZtStimulationDeviceVerove::SetDisableMode(EZtDisableMode mode) {
    m_disableMode.store(mode);
    if (m_padWrapper) {
        m_padWrapper->DisableGUIModeChanged();
    }
}

int CZtStimulationDeviceVerove::GetValue(int index, std::uint32_t* value) {
    if (!value) {
        return -4;
    }
    if (index == 0) {
        *value = m_lightPath->GetLightId();
        return 0;
    }
    if (index == 2) {
        *value = m_lightPath->GetSwitcherId();
        return 0;
    }
    return -2;
}

int CZtStimulationDeviceVerove::SetControllingAggregator(IZtInterface* aggregator) {
    CZtLock lock(m_csAggregator);
    if (m_aggregator) {
        m_aggregator->Release();
        m_aggregator = nullptr;
    }
    if (!aggregator) {
        return 0;
    }
    m_aggregator = static_cast<IZtStimulationDeviceAggregator*>(
        aggregator->QueryInterface("IZtStimulationDeviceAggregator"));
    return m_aggregator ? 0 : -9;
}

int CZtStimulationDeviceVerove::GetControllingAggregator(IZtInterface** aggregator) {
    if (!aggregator) {
        return -4;
    }
    CZtLock lock(m_csAggregator);
    if (!m_aggregator) {
        return -13;
    }
    *aggregator = static_cast<IZtStimulationDeviceAggregator*>(
        m_aggregator->QueryInterface("IZtStimulationDeviceAggregator"));
    return *aggregator ? 0 : -9;
}

void CZtStimulationDeviceVerove::NotifyControllingAggregator(int reason) {
    IZtStimulationDeviceAggregator* aggregator = nullptr;
    {
        CZtLock lock(m_csAggregator);
        aggregator = m_aggregator;
        if (aggregator) {
            aggregator->AddRef();
        }
    }
    // Outside the lock: the aggregator calls back into its devices, this one included.
    if (aggregator) {
        aggregator->PropagateSettings(static_cast<IZtStimulationDeviceEx*>(this), reason);
        aggregator->Release();
    }
}

// The aggregator hands one device's depth to the others: telling it back would start again.
int CZtStimulationDeviceVerove::TakeOverBitDepth(IZtInterface* other) {
    VEROVE_LOG("CZtStimulationDeviceVerove::TakeOverBitDepth", L"Start");
    if (!other) {
        return -4;
    }
    auto* device =
        static_cast<IZtStimulationDeviceEx*>(other->QueryInterface("IZtStimulationDeviceEx"));
    if (!device) {
        return -9;
    }
    const int depth = device->GetBitDepth();
    device->Release();
    m_takingOverBitDepth = true;
    SetBitDepth(depth, false);
    m_takingOverBitDepth = false;
    RefreshPad();
    return 0;
}

int CZtStimulationDeviceVerove::StimulationAreaSetFor(IZtInterface* caller,
                                                      const CZtRoiObjectList* areas,
                                                      const SZtRLEPicBuf* masks,
                                                      const SZtScanAreaDesc* scanArea,
                                                      const SZtGrabberFormatDesc* format,
                                                      const SZtRect* cameraRect) {
    if (!caller) {
        return -4;
    }
    return StimulationAreaSet(areas, masks, scanArea, format, cameraRect);
}

int CZtStimulationDeviceVerove::GetBitDepth() {
    return m_driverSettings.bitDepth.load();
}

bool CZtStimulationDeviceVerove::IsExposing() {
    CZtVeroveDriver* driver = GetDriver();
    return driver && driver->IsExposing();
}

// ---- Stimulation
// ---------------------------------------------------------------------------------

namespace {

constexpr std::uint32_t kNoGroup = 0xFFFFFFFFu;
constexpr std::uint32_t kGroupCount = 3;
// Group g shows the pattern with this identifier plus g.
constexpr int kFirstGroupPattern = 3;
// Light sources finish their commands within this time before the stimulation goes on.
constexpr std::uint32_t kLightCompletionMs = 1000;

// Whether every area has its mask and every run lies inside the masks' frame.
bool MasksFitAreas(const CZtRoiObjectList& areas, const SZtRLEPicBuf& masks) {
    if (masks.objects.size() < static_cast<size_t>(areas.GetCount())) {
        return false;
    }
    if (areas.GetCount() > 0 && (masks.width == 0 || masks.height == 0)) {
        return false;
    }
    for (const SZtRLEObject& object : masks.objects) {
        for (const SZtRLERun& run : object.runs) {
            if (run.y < 0 || run.y >= static_cast<std::int64_t>(masks.height) || run.x < 0 ||
                run.length <= 0 ||
                std::int64_t{run.x} + run.length > static_cast<std::int64_t>(masks.width)) {
                return false;
            }
        }
    }
    return true;
}

// The groups (bit g for group g) of a stimulation word, when the word stimulates.
std::uint32_t StimulatedGroups(std::uint32_t word) {
    if ((word & ZT_STIMULATION_ACTIVE_BITS) == 0) {
        return 0;
    }
    return (word & ZT_STIMULATION_GROUP_BITS) >> ZT_STIMULATION_GROUP_SHIFT;
}

}  // namespace

bool CZtStimulationDeviceVerove::ReadScanAreaForm(IZtGrabberProvider* grabber,
                                                  SZtScanAreaDesc* desc) {
    IZtInterface* form = nullptr;
    if (!grabber || grabber->GetGUIElement(L"CZtScanAreaElement", &form) != 0 || !form) {
        return false;
    }
    auto* element = static_cast<IZtScanAreaElement*>(form->QueryInterface("CZtScanAreaElement"));
    const bool read = element && element->GetScanAreaDesc(desc) == 0;
    if (element) {
        element->Release();
    }
    form->Release();
    return read;
}

int CZtStimulationDeviceVerove::StimulationAreaGetCount() {
    CZtLock lock(m_csSecond);
    return m_areas.GetCount();
}

int CZtStimulationDeviceVerove::StimulationAreaSet(const CZtRoiObjectList* areas,
                                                   const SZtRLEPicBuf* masks,
                                                   const SZtScanAreaDesc* scanArea,
                                                   const SZtGrabberFormatDesc* format,
                                                   const SZtRect* cameraRect) {
    const char* function = "CZtStimulationDeviceVerove::StimulationAreaSet";
    VEROVE_LOG(function, L"Start");
    if (!format || format->value.binningX < 1.0 || format->value.binningY < 1.0) {
        return -4;
    }
    // A run outside the frame would be written outside the pattern's picture.
    if (!areas || !masks || !MasksFitAreas(*areas, *masks)) {
        VEROVE_LOG(function, L"Stimulation area masks do not fit the areas, aborting.");
        return -4;
    }
    SZtScanAreaDesc scan{};
    if (scanArea) {
        scan = *scanArea;
    } else {
        ReadScanAreaForm(GetGrabberProvider(), &scan);
    }
    m_areasSet = false;
    {
        CZtLock lock(m_csSecond);
        m_areas = *areas;
        m_areaMasks = *masks;
        m_cameraRect = cameraRect ? *cameraRect : SZtRect{};
        m_cameraFormat = *format;
        m_scanArea = scan;
    }
    if (CZtCalibrationData* calibration = GetCalibrationData()) {
        calibration->SetScanAreaDesc(scan);
    }
    if (CZtVeroveDriver* driver = GetDriver()) {
        UpdateGroupPatterns(driver);
    }
    if (m_padWrapper) {
        m_padWrapper->Patterns();
        m_padWrapper->GroupButtons();
    }
    m_areasSet = true;
    VEROVE_LOG(function, L"End - OK");
    return 0;
}

void CZtStimulationDeviceVerove::UpdateGroupPatterns(CZtVeroveDriver* driver) {
    std::vector<SZtStimulationArea> groupAreas[kGroupCount];
    SZtRLEPicBuf groupMasks[kGroupCount];
    {
        CZtLock lock(m_csSecond);
        for (SZtRLEPicBuf& mask : groupMasks) {
            CZtRLEPicBufAPI::Alloc(&mask, m_areaMasks.width, m_areaMasks.height,
                                   m_areaMasks.bitsPerComponent);
        }
        for (int i = 0; i < m_areas.GetCount(); ++i) {
            const CZtRoiObject* area = m_areas.GetAt(i);
            const std::uint32_t group = area->GetStimulationGroup();
            if (group >= kGroupCount) {
                continue;
            }
            groupAreas[group].push_back(
                {area->GetIntensityMode(), area->GetIntensity(), area->GetSecondIntensity()});
            groupMasks[group].objects.push_back(m_areaMasks.objects[static_cast<size_t>(i)]);
        }
    }
    const int depth = GetBitDepth();
    const bool packed = depth == 1;
    bool confocal = false;
    if (IZtGrabberProvider* grabber = GetGrabberProvider()) {
        grabber->IsConfocal(&confocal);
    }
    SZtGrabberFormatDesc format;
    const bool haveFormat = driver->GetCurrentFormat(&format) == 0;
    // A stimulation on another thread switches patterns under the run lock: the exposed pattern
    // must not change between the look at it and its new exposure.
    std::lock_guard run(m_runLock);
    int exposeAgain = -1;
    {
        CZtLock lock(driver->GetBufferLock());
        CZtPatternStore& store = driver->GetPatterns();
        for (std::uint32_t g = 0; g < kGroupCount; ++g) {
            const int id = kFirstGroupPattern + static_cast<int>(g);
            CZtPattern* pattern = store.FindById(static_cast<std::uint32_t>(id));
            if (!pattern) {
                continue;
            }
            pattern->SetConfocal(confocal);
            pattern->SetStimulationAreas(groupAreas[g], &groupMasks[g]);
            if (pattern->IsRenderedFor(static_cast<std::uint32_t>(depth), packed)) {
                continue;
            }
            if (store.GetCurrentId() == id && driver->IsExposing()) {
                exposeAgain = id;
            } else if (pattern->HasStimulationAreas() && haveFormat) {
                // Rendered now, so that a stimulation only switches to the cached frame.
                pattern->SetDebugDeviceMemory(m_driverSettings.debugDeviceMemory.load());
                pattern->SetDitheringMethod(m_driverSettings.ditheringMethod.load());
                std::vector<std::uint8_t> frame(size_t{pattern->GetWidth()} * pattern->GetHeight());
                pattern->GetBitmap(frame.data(), static_cast<std::uint32_t>(depth), packed,
                                   &format.value, GetCalibrationData());
            }
        }
    }
    if (exposeAgain >= 0) {
        driver->ExposePattern(exposeAgain, true);
    }
}

int CZtStimulationDeviceVerove::StimulationAreaGet(CZtRoiObjectList* areas, SZtRLEPicBuf* masks,
                                                   SZtScanAreaDesc* scanArea,
                                                   SZtGrabberFormatDesc* format,
                                                   SZtRect* cameraRect, std::uint64_t* groupMask) {
    VEROVE_LOG("CZtStimulationDeviceVerove::StimulationAreaGet", L"Start");
    CZtLock lock(m_csSecond);
    if (areas) {
        *areas = m_areas;
    }
    if (masks) {
        *masks = m_areaMasks;
    }
    if (scanArea) {
        *scanArea = m_scanArea;
    }
    if (format) {
        *format = m_cameraFormat;
    }
    if (cameraRect) {
        *cameraRect = m_cameraRect;
    }
    if (groupMask) {
        *groupMask = 0;
        for (const CZtRoiObject& area : m_areas) {
            if (area.IsStimulationRoi() && area.GetStimulationGroup() < kGroupCount) {
                *groupMask |= std::uint64_t{1} << area.GetStimulationGroup();
            }
        }
    }
    return 0;
}

int CZtStimulationDeviceVerove::StimulationAreaAppendAsPattern() {
    const char* function = "CZtStimulationDeviceVerove::StimulationAreaAppendAsPattern";
    VEROVE_LOG(function, L"Start");
    // The masks' frame is the camera rectangle, so the picture is in camera coordinates.
    SZtRLEPicBuf masks;
    {
        CZtLock lock(m_csSecond);
        masks = m_areaMasks;
    }
    if (masks.objects.empty()) {
        VEROVE_LOG(function, L"No stimulation areas to append as pattern.");
        return -9;
    }
    SZtPicBuf picture;
    int status = CZtRLEPicBufAPI::ToPicture(&masks, &picture);
    if (status != 0) {
        VEROVE_LOG(function, L"Failed to render the stimulation areas, return code %d", status);
        return status;
    }
    CZtStringW storage;
    ZT_GetStoragePath(&storage);
    const QString folder =
        QDir(QString::fromWCharArray(storage.GetString())).filePath(QStringLiteral("Verove"));
    QDir().mkpath(folder);
    CZtStringW proposedName(L"Pattern");
    proposedName += L".bmp";
    CZtStringW path;
    if (ZT_GetSaveFileName(ZT_GetTranslation(L"Open Image").GetString(),
                           CZtStringW(folder.toStdWString()).GetString(), proposedName.GetString(),
                           L"Bitmap (*.bmp)", &path) != 0) {
        CZtPicBufAPI::Free(&picture);
        VEROVE_LOG(function, L"Cancelled by the user.");
        return 1;
    }
    status = ZT_SavePictureToFile(path.GetString(), &picture);
    CZtPicBufAPI::Free(&picture);
    if (status != 0) {
        VEROVE_LOG(function, L"Failed to save pattern file %s, return code %d", path.GetString(),
                   status);
        return status;
    }
    const CZtStringW name(
        QFileInfo(QString::fromWCharArray(path.GetString())).completeBaseName().toStdWString());
    status = AddUserPattern(name.GetString(), path.GetString(), 1);
    VEROVE_LOG(function, L"End, return code %d", status);
    return status;
}

// Areas are uploaded as they are set.
int CZtStimulationDeviceVerove::StimulationAreaUpload() {
    VEROVE_LOG("CZtStimulationDeviceVerove::StimulationAreaUpload", L"Start");
    return 0;
}

bool CZtStimulationDeviceVerove::StimulationAreaIsUpToDate() {
    VEROVE_LOG("CZtStimulationDeviceVerove::StimulationAreaIsUpToDate", L"Start");
    std::uint64_t groups = 0;
    StimulationAreaGet(nullptr, nullptr, nullptr, nullptr, nullptr, &groups);
    return m_areasSet || groups == 0;
}

int CZtStimulationDeviceVerove::StimulationReady() {
    VEROVE_LOG("CZtStimulationDeviceVerove::StimulationReady", L"Start");
    return 0;
}

bool CZtStimulationDeviceVerove::StimulationIsReady() {
    VEROVE_LOG("CZtStimulationDeviceVerove::StimulationIsReady", L"Start");
    return m_areasSet;
}

CZtStringW CZtStimulationDeviceVerove::GetLastStimulationError() {
    CZtLock lock(m_csSecond);
    return m_lastStimulationError;
}

int CZtStimulationDeviceVerove::GetGroupToStimulate(std::uint64_t mask, std::uint32_t* group,
                                                    std::uint64_t* bit) {
    if (mask == 0) {
        return -4;
    }
    for (std::uint32_t g = 0; g < kGroupCount; ++g) {
        if (mask & (std::uint64_t{1} << g)) {
            if (group) {
                *group = g;
            }
            if (bit) {
                *bit = std::uint64_t{1} << g;
            }
            return 0;
        }
    }
    return 0;
}

int CZtStimulationDeviceVerove::CurrentPatternId(CZtVeroveDriver* driver) {
    CZtLock lock(driver->GetBufferLock());
    return driver->GetPatterns().GetCurrentId();
}

int CZtStimulationDeviceVerove::StimulationBegin(const SZtStimulationRequest* request) {
    const char* function = "CZtStimulationDeviceVerove::StimulationBegin";
    VEROVE_LOG(function, L"Start");
    // Held from here: a disconnect waits until the stimulation has switched the light path.
    std::unique_lock run(m_runLock);
    CZtVeroveDriver* driver = GetDriver();
    if (!driver) {
        VEROVE_LOG(function, L"Driver not initialized, aborting.");
        return -12;
    }
    if (!request || (request->runMode != 1 && request->runMode != 2)) {
        VEROVE_LOG(function, L"Invalid stimulation request, aborting.");
        return -4;
    }
    std::uint32_t group = kNoGroup;
    const int status = GetGroupToStimulate(request->groupMask, &group, nullptr);
    if (status != 0) {
        VEROVE_LOG(function, L"Failed to GetGroupToStimulate");
        return status;
    }
    if (group >= kGroupCount) {
        VEROVE_LOG(function, L"Specified stimulation group %i out of range.",
                   static_cast<int>(group));
        return -1;
    }
    const int patternId = kFirstGroupPattern + static_cast<int>(group);
    bool hasAreas = false;
    {
        CZtLock lock(driver->GetBufferLock());
        const CZtPattern* pattern =
            driver->GetPatterns().FindById(static_cast<std::uint32_t>(patternId));
        hasAreas = pattern && pattern->HasStimulationAreas();
    }
    if (!hasAreas) {
        CZtStringW text;
        text.Format(ZT_GetTranslation(L"Stimulation group S%i is not defined.").GetString(),
                    static_cast<int>(group) + 1);
        {
            CZtLock lock(m_csSecond);
            m_lastStimulationError = text;
        }
        VEROVE_LOG(function, L"Specified stimulation group %i has no stimulation areas",
                   static_cast<int>(group));
        return -9;
    }

    // The mirrors belong to the sequence until it is left.
    if (m_operationMode == kOperationModeSequence) {
        VEROVE_LOG(function, L"Illumination sequence running, aborting.");
        return -8;
    }
    // A second begin would overwrite the light path that the end has to restore.
    if (m_runMode != 0) {
        VEROVE_LOG(function, L"A stimulation is running already, aborting.");
        return -10;
    }
    m_previousPatternId = CurrentPatternId(driver);
    driver->ExposePattern(0, false);
    bool open = false;
    m_previousShuttersOpen = GetAssociatedShuttersOpen(&open) == 0 && open;
    SetAssociatedShuttersOpenState(false);
    const bool deferred = LightDeferredCompletionBegin();
    m_previousPowers.clear();
    m_previousLineStates.clear();
    SettingsApply_LaserPower(static_cast<int>(group), &m_previousPowers);
    SettingsApply_LineUsed(static_cast<int>(group), &m_previousLineStates);
    if (deferred) {
        LightDeferredCompletionWait(kLightCompletionMs);
    }
    // Binary frames switch at once; grey-scale frames build up over their sequence first.
    const bool binary = GetBitDepth() == 1;
    if (binary) {
        SetAssociatedShuttersOpenState(true);
    }
    SettingsApply_Switcher();
    if (driver->ExposePattern(patternId, false) != 0) {
        VEROVE_LOG(function, L"Failed to expose pattern %d.", patternId);
    }
    if (!binary) {
        SetAssociatedShuttersOpenState(true);
    }
    m_running = true;
    m_runMode = request->runMode;
    if (m_padWrapper) {
        m_padWrapper->StimulationState();
    }
    m_startTime = ZT_GetTimeCounter();
    if (request->runMode == 1) {
        return 0;
    }
    m_freezeEvent.Reset();
    run.unlock();
    VEROVE_LOG(function, L"Work Thread: Freezing until stimulation is finished (%g ms).",
               request->durationMs);
    const double wait =
        std::clamp(std::round(request->durationMs), 0.0, static_cast<double>(ZT_INFINITE - 1));
    m_freezeEvent.Wait(static_cast<ZT_DWORD>(wait));
    VEROVE_LOG(function, L"Work Thread: Signaled and entered running state...");
    return 0;
}

int CZtStimulationDeviceVerove::StimulationEnd(double* startTimes, double* endTimes, int count) {
    const char* function = "CZtStimulationDeviceVerove::StimulationEnd";
    VEROVE_LOG(function, L"Start");
    std::lock_guard run(m_runLock);
    CZtVeroveDriver* driver = GetDriver();
    m_endTime = -1.0;
    const std::int32_t runMode = m_runMode;
    if (runMode != 0) {
        if (driver) {
            driver->ExposePattern(0, false);
        }
        m_endTime = ZT_GetTimeCounter();
        if (!m_firedStimulations.empty()) {
            m_firedCursor =
                GetBitDepth() > 1 ? 0 : (m_firedCursor + 1) % m_firedStimulations.size();
        }
        FinishManualShot(true);
        if (runMode == 2) {
            VEROVE_LOG(function,
                       L"Work Thread: Assuming Main Thread waits inside StimulationAreaSet. "
                       L"Releasing Main Thread now.");
            m_releaseEvent.Set();
        }
        m_runMode = 0;
    }
    for (int i = 0; i < count; ++i) {
        if (startTimes) {
            startTimes[i] = i == 0 ? m_startTime : -1.0;
        }
        if (endTimes) {
            endTimes[i] = i == 0 ? m_endTime : -1.0;
        }
    }
    m_startTime = -1.0;

    const bool deferred = LightDeferredCompletionBegin();
    SettingsApply_LaserPower(m_previousPowers);
    SettingsApply_LineUsed(m_previousLineStates);
    if (deferred) {
        LightDeferredCompletionWait(kLightCompletionMs);
    }
    SetAssociatedShuttersOpenState(m_previousShuttersOpen);
    SettingsRevert_Switcher();
    if (driver) {
        driver->ExposePattern(m_previousPatternId, false);
    }
    m_running = false;
    if (m_padWrapper) {
        m_padWrapper->StimulationState();
    }
    return 0;
}

// Single pulses cannot be fired on a DMD.
int CZtStimulationDeviceVerove::StimulationFire(double* startTime, double* endTime) {
    VEROVE_LOG("CZtStimulationDeviceVerove::StimulationFire", L"Start");
    if (startTime) {
        *startTime = -1.0;
    }
    if (endTime) {
        *endTime = -1.0;
    }
    return -9;
}

int CZtStimulationDeviceVerove::StimulationAbort() {
    VEROVE_LOG("CZtStimulationDeviceVerove::StimulationAbort", L"Start");
    if (m_experimentState == 2) {
        m_experimentState = 1;
    }
    if (GetDriver()) {
        m_freezeEvent.Set();
    }
    return 0;
}

// Experiments of type 8 name their stimulation phases and parallel stimulation tasks; the device
// needs a laser line for S1 and S2 wherever they are used.
int CZtStimulationDeviceVerove::StimulationValidate(const SZtExperiment* experiment,
                                                    CZtStringW* error) {
    const char* function = "CZtStimulationDeviceVerove::StimulationValidate";
    VEROVE_LOG(function, L"Start");
    if (!experiment) {
        VEROVE_LOG(function, L"Invalid experiment.");
        return -4;
    }
    std::uint32_t used = 0;
    std::vector<SZtFiredStimulation> phases;
    if (const SZtExperiment* multi = CZtExperimentAPI::FindExperiment(experiment, 8)) {
        for (size_t i = 0; i < multi->phases.size(); ++i) {
            const SZtExperimentPhase& phase = multi->phases[i];
            const std::uint32_t groups = StimulatedGroups(phase.stimulation);
            if (!multi->IsPhaseEnabled(i) || groups == 0) {
                continue;
            }
            used |= groups;
            if (phase.durationMs > 0.0) {
                phases.push_back({groups & 0x7u, phase.durationMs, static_cast<std::int32_t>(i)});
            }
        }
        for (const SZtParallelExperiment& task : multi->parallelTasks) {
            if (task.kind == SZtParallelExperiment::ID_TASK_STIMULATION) {
                used |= StimulatedGroups(task.stimulation);
            }
        }
    }
    for (int g = 0; g < 2; ++g) {
        if ((used & (1u << g)) == 0) {
            continue;
        }
        const bool enabled =
            std::any_of(m_settings.laserLines.begin(), m_settings.laserLines.end(),
                        [g](const SZtVeroveLaserLine& line) { return line.used[g]; });
        if (!enabled) {
            if (error) {
                CZtStringW name;
                GetDisplayName(&name, 0);
                error->Format(ZT_GetTranslation(L"%s: No laser lines enabled for stimulation "
                                                L"group %d."),
                              name.GetString(), g + 1);
            }
            return -9;
        }
    }
    std::lock_guard run(m_runLock);
    if (m_experimentState == 2) {
        ++m_expectedPhases;
    } else {
        m_expectedPhases = 1;
        m_firedStimulations.clear();
        m_firedCursor = 0;
    }
    m_firedStimulations.insert(m_firedStimulations.end(), phases.begin(), phases.end());
    return 0;
}

IZtLaserPowerControl* CZtStimulationDeviceVerove::GetLaserPowerControl() {
    return this;
}

CZtStringW CZtStimulationDeviceVerove::GetControllingDevice() {
    IZtInterface* aggregator = nullptr;
    {
        CZtLock lock(m_csAggregator);
        aggregator = m_aggregator;
        if (aggregator) {
            aggregator->AddRef();
        }
    }
    if (!aggregator) {
        return m_uniqueName;
    }
    CZtStringW name = m_uniqueName;
    auto* device =
        static_cast<IZtStimulationDevice*>(aggregator->QueryInterface("IZtStimulationDevice"));
    if (device) {
        name = device->GetUniqueName();
        device->Release();
    }
    aggregator->Release();
    return name;
}

void CZtStimulationDeviceVerove::ManualShotBegin(std::int32_t parameter, double duration) {
    const char* function = "CZtStimulationDeviceVerove::ManualShotBegin";
    VEROVE_LOG(function, L"Start");
    if (m_manualShotActive) {
        VEROVE_LOG(function, L"Called before previous stimulation has finished.");
    }
    if (!GetDriver()) {
        return;
    }
    m_manualShotActive = true;
    m_manualShotInfinite = duration <= 0.0;
    m_manualShotParameter = parameter;
    m_manualShotDuration = duration;
    const CZtStringW name = GetControllingDevice();
    const int result = ManualShot(name, 1, duration, parameter);
    CZtStringW line;
    line.Format(L"ManualShot(\"%s\", 1, %f, %i);", name.GetString(), duration, parameter);
    Protocol_Command(line);
    // A shot the host could not start must not stay active: nothing would ever end it.
    if (result != 0) {
        VEROVE_LOG(function, L"Failed to start manual shot, return code %d", result);
        m_manualShotActive = false;
        m_padManual = false;
        m_padPulse = false;
    }
}

bool CZtStimulationDeviceVerove::IsManualShotActive() {
    return m_manualShotActive;
}

void CZtStimulationDeviceVerove::ManualShotEnd() {
    VEROVE_LOG("CZtStimulationDeviceVerove::ManualShotEnd", L"Start");
    if (m_runMode == 0) {
        return;
    }
    const CZtStringW name = GetControllingDevice();
    const std::int32_t parameter = m_manualShotParameter;
    ManualShot(name, 0, 0.0, parameter);
    CZtStringW line;
    line.Format(L"ManualShot(\"%s\", 0, %f, %i);", name.GetString(), 0.0, parameter);
    Protocol_Command(line);
    m_running = false;
    m_padManual = false;
    m_padPulse = false;
}

void CZtStimulationDeviceVerove::FinishManualShot(bool tellPad) {
    if (!m_manualShotActive.exchange(false)) {
        return;
    }
    m_running = false;
    m_padManual = false;
    m_padPulse = false;
    if (tellPad && m_padWrapper) {
        m_padWrapper->StimulationState();
    }
}

void CZtStimulationDeviceVerove::StopShutterAndStimulation() {
    VEROVE_LOG("CZtStimulationDeviceVerove::StopShutterAndStimulation", L"Start");
    if (!m_manualShotActive || !ZT_FindProcedure(L"ManualShot")) {
        return;
    }
    CZtStringW command;
    command.Format(L"ManualShot(\"%s\", 0, 0.0, %i);", GetControllingDevice().GetString(),
                   m_manualShotParameter.load());
    CLI_Command(command);
}

void CZtStimulationDeviceVerove::LogROIContent() {
    const char* function = "CZtStimulationDeviceVerove::LogROIContent";
    CZtLock lock(m_csSecond);
    if (m_areas.GetCount() == 0) {
        VEROVE_LOG(function, L"Device is empty.");
        return;
    }
    CZtStringW text(L"Device ROI content:");
    for (const CZtRoiObject& area : m_areas) {
        const auto group = static_cast<unsigned long>(area.GetStimulationGroup()) + 1;
        const auto id = static_cast<unsigned long>(area.GetId());
        CZtStringW label = area.GetLabel();
        if (label.IsEmpty()) {
            label.Format(L"S%lu:%lu", group, id);
        }
        text.AppendFormat(L"\nGroup: S%lu, ID: %3lu, Label: '%s'", group, id, label.GetString());
    }
    VEROVE_LOG(function, L"%s", text.GetString());
}

// ---- Light path
// ----------------------------------------------------------------------------------

int CZtStimulationDeviceVerove::GetLineCount() {
    return m_lightPath->GetLineCount();
}

CZtStringW CZtStimulationDeviceVerove::GetGroupName(int group) {
    CZtStringW name;
    name.Format(L"S%i", group + 1);
    return name;
}

CZtStringW CZtStimulationDeviceVerove::GetLineName(int line) {
    CZtStringW name;
    if (line >= 0 && line < m_lightPath->GetLineCount()) {
        name.Format(L"%u nm", m_lightPath->GetLineWavelength(line));
    }
    return name;
}

double CZtStimulationDeviceVerove::GetLineWavelength(int line) {
    return m_lightPath->GetLineWavelength(line);
}

double CZtStimulationDeviceVerove::GetLinePower(int line, int group) {
    return m_lightPath->GetLinePower(line, group);
}

bool CZtStimulationDeviceVerove::GetLineVisible(int line) {
    return m_lightPath->GetLineVisible(line);
}

bool CZtStimulationDeviceVerove::GetLineUsed(int line, int group) {
    return m_lightPath->GetLineUsed(line, group);
}

void CZtStimulationDeviceVerove::SetLinePower(int line, int group, double power) {
    m_lightPath->SetLinePower(line, group, power);
}

int CZtStimulationDeviceVerove::SetLineUsed(int line, int group, bool used) {
    return m_lightPath->SetLineUsed(line, group, used);
}

void CZtStimulationDeviceVerove::OnLaserLineAdded(int line) {
    VEROVE_LOG("CZtStimulationDeviceVerove::OnLaserLineAdded", L"Start");
    RunOnPad([line](CZtVerovePadQt& pad) { pad.AddLaserLine(line); });
}

void CZtStimulationDeviceVerove::OnLaserLinesCleared() {
    VEROVE_LOG("CZtStimulationDeviceVerove::OnLaserLinesCleared", L"Start");
    RunOnPad([](CZtVerovePadQt& pad) { pad.ClearLaserLines(); });
}

void CZtStimulationDeviceVerove::OnLaserLineShow(int line, bool show) {
    VEROVE_LOG("CZtStimulationDeviceVerove::OnLaserLineShow",
               L"CZtStimulationDeviceVerove::OnLaserLineShow(%d, %d)", line, show ? 1 : 0);
    if (line < 0 || line >= GetLineCount()) {
        return;
    }
    m_lightPath->SetLineVisible(line, show);
    RunOnPad([line, show](CZtVerovePadQt& pad) { pad.OnLaserLineShow(line, show); });
}

int CZtStimulationDeviceVerove::GetAssociatedDeviceInfo(std::uint32_t* lightId,
                                                        std::uint32_t* switcherId,
                                                        std::uint32_t* switcherPort) {
    VEROVE_LOG("CZtStimulationDeviceVerove::GetAssociatedDeviceInfo", L"Start");
    m_lightPath->GetAssociatedDeviceInfo(lightId, switcherId, switcherPort);
    return 0;
}

int CZtStimulationDeviceVerove::OnAssociatedLightChanged(std::uint32_t lightId) {
    return m_lightPath->AssociateLight(lightId);
}

void CZtStimulationDeviceVerove::OnAssociatedShuttersChanged(
    const std::vector<CZtStringW>& shutterKeys) {
    m_lightPath->AssociateShutters(shutterKeys);
}

void CZtStimulationDeviceVerove::OnLaserSwitcherDeviceSelectionChanged(std::uint32_t outputId) {
    m_lightPath->SelectSwitcher(outputId);
}

void CZtStimulationDeviceVerove::OnLaserSwitcherPositionSelectionChanged(std::uint32_t port) {
    m_lightPath->SelectSwitcherPort(port);
}

void CZtStimulationDeviceVerove::SettingsApply_LaserPower(int group,
                                                          std::vector<double>* previous) {
    m_lightPath->ApplyLaserPower(group, previous);
}

void CZtStimulationDeviceVerove::SettingsApply_LaserPower(const std::vector<double>& powers) {
    m_lightPath->RestoreLaserPower(powers);
}

void CZtStimulationDeviceVerove::SettingsApply_LineUsed(int group, std::vector<bool>* previous) {
    m_lightPath->ApplyLineUsed(group, previous);
}

void CZtStimulationDeviceVerove::SettingsApply_LineUsed(const std::vector<bool>& states) {
    m_lightPath->RestoreLineUsed(states);
}

void CZtStimulationDeviceVerove::SettingsApply_Switcher() {
    m_lightPath->ApplySwitcher();
}

void CZtStimulationDeviceVerove::SettingsRevert_Switcher() {
    m_lightPath->RevertSwitcher();
}

bool CZtStimulationDeviceVerove::LightDeferredCompletionBegin() {
    return m_lightPath->DeferredCompletionBegin();
}

void CZtStimulationDeviceVerove::LightDeferredCompletionWait(std::uint32_t timeoutMs) {
    m_lightPath->DeferredCompletionWait(timeoutMs);
}

// ---- Calibration procedures
// ----------------------------------------------------------------------

int CZtStimulationDeviceVerove::OnAutocalibrationInit() {
    VEROVE_LOG("CZtStimulationDeviceVerove::OnAutocalibrationInit", L"Start");
    return m_autocalibration->Init();
}

int CZtStimulationDeviceVerove::OnManualCalibrationInit() {
    VEROVE_LOG("CZtStimulationDeviceVerove::OnManualCalibrationInit", L"Start");
    return m_manualCalibration->Init();
}

int CZtStimulationDeviceVerove::AutocalibrationRun() {
    VEROVE_LOG("CZtStimulationDeviceVerove::AutocalibrationRun", L"Start");
    return m_autocalibration->Run();
}

int CZtStimulationDeviceVerove::OnAutocalibrationEnd(bool apply) {
    VEROVE_LOG("CZtStimulationDeviceVerove::OnAutocalibrationEnd", L"Start");
    return m_autocalibration->End(apply);
}

int CZtStimulationDeviceVerove::OnManualCalibrationEnd(bool apply) {
    return m_manualCalibration->End(apply);
}

int CZtStimulationDeviceVerove::OnAutocalibrationValidationPhase() {
    VEROVE_LOG("CZtStimulationDeviceVerove::OnAutocalibrationValidationPhase", L"Start");
    return m_autocalibration->ValidationPhase();
}

int CZtStimulationDeviceVerove::OnManualcalibrationValidationPhase() {
    VEROVE_LOG("CZtStimulationDeviceVerove::OnManualcalibrationValidationPhase", L"Start");
    return m_manualCalibration->ValidationPhase();
}

int CZtStimulationDeviceVerove::AddManualCalibrationPair(double dmdX, double dmdY, double cameraX,
                                                         double cameraY) {
    return m_manualCalibration->AddPair({dmdX, dmdY}, {cameraX, cameraY});
}

int CZtStimulationDeviceVerove::DisplayRectangleAtPos(std::int32_t x, std::int32_t y,
                                                      std::int32_t halfSize) {
    return m_manualCalibration->DisplayRectangleAtPos(
        {static_cast<double>(x), static_cast<double>(y)}, halfSize);
}

void CZtStimulationDeviceVerove::SetCalibrationMode(int mode) {
    m_calibrationMode.store(mode);
    RefreshPad();
}

double CZtStimulationDeviceVerove::GetAutocalibrationProgress() {
    return m_autocalibration->GetProgress();
}

void CZtStimulationDeviceVerove::ClearACContainer() {
    m_autocalibration->ClearContainer(false);
}

void CZtStimulationDeviceVerove::SetAutocalibrationDialog(CZtAutocalibrationDialog* dialog) {
    m_autocalibration->SetDialog(dialog);
}

void CZtStimulationDeviceVerove::SetAutocalibrationRunning(bool running) {
    m_autocalibrationRunning.store(running);
    RefreshPad();
}

// ---- Settings file
// -------------------------------------------------------------------------------

int CZtStimulationDeviceVerove::LoadSettings() {
    VEROVE_LOG("CZtStimulationDeviceVerove::LoadSettings", L"Start");
    DMApi* devices = DeviceManager();
    bool listConnected = false;
    if (m_settingsLoaded || !devices || devices->DMApi_IsDeviceListConnected(&listConnected) != 0 ||
        !listConnected) {
        return 0;
    }
    m_settingsLoaded = true;
    // A missing or unusable file leaves the defaults, which are applied all the same.
    CZtVeroveSettingsFile::Load(GetSettingsFileName(), m_uniqueName, &m_settings);
    ValidateAndApplySettings();
    return 0;
}

void CZtStimulationDeviceVerove::SaveSettings() {
    const char* function = "CZtStimulationDeviceVerove::SaveSettings";
    VEROVE_LOG(function, L"Start");
    // Until the file was read, the record holds defaults: storing them would wipe the user's lists.
    if (!m_settingsLoaded) {
        VEROVE_LOG(function, L"Settings not loaded yet, file left unchanged.");
        return;
    }
    CZtVeroveSettingsFile::Save(GetSettingsFileName(), m_uniqueName, m_settings);
}

void CZtStimulationDeviceVerove::ValidateAndApplySettings() {
    VEROVE_LOG("CZtStimulationDeviceVerove::ValidateAndApplySettings", L"Start");
    m_lightPath->ResolveAssociation();
    RefreshPad();
    if (m_hideLightPad) {
        m_lightPath->HideLightControl();
    }
    if (DMApi* devices = DeviceManager()) {
        CZtLock lock(m_csDeviceManager);
        devices->DMApi_Refresh();
    }
    m_startupDone = true;
    std::vector<std::uint32_t> deferred;
    deferred.swap(m_startupDeviceChanges);
    if (!deferred.empty()) {
        HandleDeviceChanged(deferred.data(), static_cast<int>(deferred.size()));
    }
    CheckBitmapPatterns();
}

void CZtStimulationDeviceVerove::CheckBitmapPatterns() {
    CZtVeroveDriver* driver = GetDriver();
    const std::uint32_t width = driver ? static_cast<std::uint32_t>(driver->GetDmdWidth()) : 0;
    const std::uint32_t height = driver ? static_cast<std::uint32_t>(driver->GetDmdHeight()) : 0;
    // The boxes open before the buffer lock is taken: their event loop must not hold it.
    std::vector<std::unique_ptr<CZtPattern>> patterns;
    CZtVeroveSettingsFile::CheckBitmapPatterns(&m_settings, width, height, &patterns);
    if (!driver) {
        return;
    }
    CZtLock lock(driver->GetBufferLock());
    CZtPatternStore& store = driver->GetPatterns();
    for (int i = store.Count() - 1; i >= 0; --i) {
        if (store.GetAt(i)->GetId() >= CZtVeroveSettingsFile::kFirstFilePatternId) {
            store.Remove(store.GetAt(i));
        }
    }
    for (const std::unique_ptr<CZtPattern>& pattern : patterns) {
        store.Add(*pattern);
    }
}

// ---- Driver and calibration owner
// ----------------------------------------------------------------

// The driver tells before it matches the camera ROI; the ROI change it causes reaches the device
// as a camera event, which the module lets pass while the driver reports the matching.
void CZtStimulationDeviceVerove::OnDriverEvent(int code) {}

void CZtStimulationDeviceVerove::OnExposureStateChanged() {
    if (m_padWrapper) {
        m_padWrapper->StimulationState();
    }
}

// The configuration dialog shows the versions; it has none to refresh yet.
void CZtStimulationDeviceVerove::OnVersionsChanged() {
    if (m_configDialog) {
        QMetaObject::invokeMethod(m_configDialog.data(), "UpdateDMDInfo");
    }
}

void CZtStimulationDeviceVerove::SetConfigurationDialog(CZtVeroveConfig* dialog) {
    m_configDialog = dialog;
}

IZtGrabberProvider* CZtStimulationDeviceVerove::GetGrabberProvider() {
    IZtHostContext* context = VerovePluginState().hostContext;
    return context ? context->GetGrabberProvider() : nullptr;
}

bool CZtStimulationDeviceVerove::HasDriver() {
    return GetDriver() != nullptr;
}

int CZtStimulationDeviceVerove::GetCurrentFormat(SZtGrabberFormatDesc* format) {
    CZtVeroveDriver* driver = GetDriver();
    return driver ? driver->GetCurrentFormat(format) : -12;
}

void CZtStimulationDeviceVerove::SetCalibrated(EZtCalibrationState state) {
    CZtVeroveDriver* driver = GetDriver();
    if (state == NotCalibrated && driver && !driver->IsSyncingCameraROI()) {
        driver->SyncCameraROI(false);
    }
    // Light placed through a calibration that no longer applies would miss its areas: a running
    // manual shot ends through the macro layer, and the host's protocol keeps the line.
    if (state == NotCalibrated && m_manualShotActive && ZT_FindProcedure(L"ManualShot")) {
        CZtStringW line;
        line.Format(L"ManualShot(\"%s\", 0, 0.0, %i);", GetControllingDevice().GetString(),
                    m_manualShotParameter.load());
        CLI_Command(line);
        Protocol_Command(line);
    }
    if (m_padWrapper) {
        m_padWrapper->StimulationState();
    }
    m_lightPath->SendStateReport();
}
