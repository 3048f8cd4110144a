// The stimulation device the host sees as one Verove: construction, connection, the start-up
// preparation of the DMD, names, activation, the pad and the controlling aggregator.
#include "cztstimulationdeviceverove.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <new>

#include <QCoreApplication>
#include <QThread>

#include "cztpluginverove.h"
#include "cztveroveconfig.h"
#include "cztverovedriver.h"
#include "cztverovelightpath.h"
#include "cztverovenamemanager.h"
#include "cztverovepadqt.h"
#include "cztverovepadwrapper.h"
#include "iztstimulationdeviceaggregator.h"
#include "verove_galvo.h"
#include "verove_log.h"
#include "verovestatus.h"
#include "zt/zt_devices.h"
#include "zt/zt_display.h"
#include "zt/zt_macro.h"
#include "zt/zt_util.h"

namespace {

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

}  // namespace

CZtStimulationDeviceVerove::CZtStimulationDeviceVerove()
    : m_lightPath(std::make_unique<CZtVeroveLightPath>(*this, m_settings)),
      m_autocalibration(std::make_unique<CZtAutocalibration>(this)),
      m_manualCalibration(std::make_unique<CZtManualCalibration>(this)) {
    VEROVE_LOG("CZtStimulationDeviceVerove::CZtStimulationDeviceVerove", L"Start");
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
    CZtLock lock(m_aggregatorLock);
    m_aggregator.reset();
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

void CZtStimulationDeviceVerove::SetUniqueName(const wchar_t* uniqueName) {
    IZtStimulationDeviceManager* manager = CZtStimulationDeviceManager::GetInstance();
    const CZtStringW newName(uniqueName);
    auto* self = static_cast<IZtStimulationDevice*>(this);
    if (manager && !m_uniqueName.IsEmpty() && manager->GetStaticDevice(m_uniqueName) == self) {
        // The manager's reference goes with the old registration; ours keeps the device alive.
        const CZtRef<CZtStimulationDeviceVerove> keepAlive(this);
        manager->StaticDeviceRemove(VeroveAnsiName(m_uniqueName.Str()).c_str());
        SZtStimulationDeviceRecord record;
        record.typeName = L"Unknown";
        record.libraryPath = VeroveLibraryPath();
        record.uniqueName = newName;
        record.device = self;
        manager->StaticDeviceAdd(record);
    }
    m_uniqueName = newName;
    if (manager) {
        manager->Update();
    }
}

int CZtStimulationDeviceVerove::GetDisplayName(CZtStringW* name, int kind) {
    if (!name) {
        return VeroveStatus::kInvalidArgument;
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

bool CZtStimulationDeviceVerove::Connect(bool connect, std::uint32_t brand,
                                         std::int32_t deviceIndex) {
    CZtLock lock(m_connectionLock);
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
                if (result != VeroveStatus::kBusy) {
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
        CloseConfigurationDialog();
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
    CZtLock lock(m_connectionLock);
    return m_driver && m_driver->IsConnected();
}

int CZtStimulationDeviceVerove::CheckGalvoConflict() {
    DMApi* devices = DeviceManager();
    const EZtVeroveGalvo galvo = VeroveFindGalvo(devices);
    if (galvo == EZtVeroveGalvo::None) {
        return VeroveStatus::kOk;
    }
    VeroveShowGalvoRefusal(
        ZT_GetTranslation(L"Combination of Verove with Galvo XY device is not "
                          L"supported.\nVerove device status: Disconnected."));
    ZT_DWORD physicalId = 0;
    if (m_logicalDeviceId != 0 &&
        devices->LogDev_GetPhysicalId(m_logicalDeviceId, &physicalId) == 0) {
        devices->PhysDev_Disconnect(physicalId);
    }
    if (galvo == EZtVeroveGalvo::Scanner) {
        CZtLock lock(m_deviceManagerRefreshLock);
        devices->DMApi_Refresh();
    }
    return VeroveStatus::kConflict;
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
        return VeroveStatus::kInvalidArgument;
    }
    // A running manual shot is stopped and started again, so that it shows its pattern at the
    // new depth with the light path around it switched as for any shot.
    const bool shot = m_run.IsManualShotActive();
    if (shot) {
        StopShutterAndStimulation();
    }
    CZtVeroveDriver* driver = GetDriver();
    if (depth != GetBitDepth() || force) {
        m_driverSettings.bitDepth.store(depth);
        m_settings.bitDepth = depth;
        m_stimulationAreas.Invalidate();
        if (driver) {
            driver->SetPixelEncoding(depth < 2);
            if (!shot && driver->IsExposing()) {
                driver->ExposePattern(CurrentPatternId(driver), true);
            }
        }
    }
    if (shot) {
        m_run.RestartManualShot();
    }
    if (!m_takingOverBitDepth) {
        NotifyControllingAggregator(ZT_AGGREGATOR_BIT_DEPTH);
    }
    Q9_Display_PictureInc(4);
    VEROVE_LOG(function, L"Bit depth %i has been set.", depth);
    return 0;
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
    CZtLock lock(m_connectionLock);
    if (m_padWrapper) {
        m_padWrapper->PortActivated(activated, show);
    }
    return true;
}

bool CZtStimulationDeviceVerove::HasCapability(std::uint32_t code) {
    static constexpr int kCodes[] = {1, 2, 4, 5, 10, 14, 16, 18, 21, 22};
    return std::find(std::begin(kCodes), std::end(kCodes), static_cast<int>(code)) !=
           std::end(kCodes);
}

bool CZtStimulationDeviceVerove::HasCapabilityNow(std::uint32_t code) {
    switch (code) {
        case 20:
            return m_run.GetExperimentState() == 2;
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

QObject* CZtStimulationDeviceVerove::GetControlPadGUIElement() {
    return m_padWrapper.get();
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

int CZtStimulationDeviceVerove::SetControllingAggregator(IZtInterface* aggregator) {
    CZtLock lock(m_aggregatorLock);
    m_aggregator.reset();
    if (!aggregator) {
        return 0;
    }
    m_aggregator =
        CZtRef<IZtStimulationDeviceAggregator>::Adopt(static_cast<IZtStimulationDeviceAggregator*>(
            aggregator->QueryInterface("IZtStimulationDeviceAggregator")));
    return m_aggregator ? VeroveStatus::kOk : VeroveStatus::kRefused;
}

int CZtStimulationDeviceVerove::GetControllingAggregator(IZtInterface** aggregator) {
    if (!aggregator) {
        return VeroveStatus::kInvalidArgument;
    }
    CZtLock lock(m_aggregatorLock);
    if (!m_aggregator) {
        return VeroveStatus::kNone;
    }
    *aggregator = static_cast<IZtStimulationDeviceAggregator*>(
        m_aggregator->QueryInterface("IZtStimulationDeviceAggregator"));
    return *aggregator ? VeroveStatus::kOk : VeroveStatus::kRefused;
}

void CZtStimulationDeviceVerove::NotifyControllingAggregator(int reason) {
    CZtRef<IZtStimulationDeviceAggregator> aggregator;
    {
        CZtLock lock(m_aggregatorLock);
        aggregator = m_aggregator;
    }
    // Outside the lock: the aggregator calls back into its devices, this one included.
    if (aggregator) {
        aggregator->PropagateSettings(static_cast<IZtStimulationDeviceEx*>(this), reason);
    }
}

// The aggregator hands one device's depth to the others: telling it back would start again.
int CZtStimulationDeviceVerove::TakeOverBitDepth(IZtInterface* other) {
    VEROVE_LOG("CZtStimulationDeviceVerove::TakeOverBitDepth", L"Start");
    if (!other) {
        return VeroveStatus::kInvalidArgument;
    }
    const auto device = CZtRef<IZtStimulationDeviceEx>::Adopt(
        static_cast<IZtStimulationDeviceEx*>(other->QueryInterface("IZtStimulationDeviceEx")));
    if (!device) {
        return VeroveStatus::kRefused;
    }
    const int depth = device->GetBitDepth();
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
        return VeroveStatus::kInvalidArgument;
    }
    const auto asking =
        CZtRef<IZtStimulationDeviceAggregator>::Adopt(static_cast<IZtStimulationDeviceAggregator*>(
            caller->QueryInterface("IZtStimulationDeviceAggregator")));
    CZtLock lock(m_aggregatorLock);
    const bool controlling = asking && asking.get() == m_aggregator.get();
    if (!controlling) {
        VEROVE_LOG("CZtStimulationDeviceVerove::StimulationAreaSetFor",
                   L"Areas refused: the caller is not the controlling aggregator.");
        return -9;
    }
    return StimulationAreaSet(areas, masks, scanArea, format, cameraRect);
}

bool CZtStimulationDeviceVerove::IsExposing() {
    CZtVeroveDriver* driver = GetDriver();
    return driver && driver->IsExposing();
}

int CZtStimulationDeviceVerove::CurrentPatternId(CZtVeroveDriver* driver) {
    CZtLock lock(driver->GetBufferLock());
    return driver->GetPatterns().GetCurrentId();
}

CZtStringW CZtStimulationDeviceVerove::GetControllingDevice() {
    CZtRef<IZtStimulationDeviceAggregator> aggregator;
    {
        CZtLock lock(m_aggregatorLock);
        aggregator = m_aggregator;
    }
    if (!aggregator) {
        return m_uniqueName;
    }
    const auto device = CZtRef<IZtStimulationDevice>::Adopt(
        static_cast<IZtStimulationDevice*>(aggregator->QueryInterface("IZtStimulationDevice")));
    return device ? device->GetUniqueName() : m_uniqueName;
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

void CZtStimulationDeviceVerove::SetCalibrationMode(int mode) {
    m_calibrationMode.store(mode);
    RefreshPad();
}

// On the GUI thread the dialog ends its calibrations while the driver can still reload the stored
// calibration; from another thread it closes once the GUI thread gets to it.
void CZtStimulationDeviceVerove::CloseConfigurationDialog() {
    if (!qApp) {
        return;
    }
    if (QThread::currentThread() == qApp->thread()) {
        if (m_configDialog) {
            m_configDialog->OnDeviceDisconnecting();
        }
        return;
    }
    AddRef();
    QMetaObject::invokeMethod(
        qApp,
        [this] {
            if (m_configDialog) {
                m_configDialog->OnDeviceDisconnecting();
            }
            Release();
        },
        Qt::QueuedConnection);
}

CZtVeroveConfig* CZtStimulationDeviceVerove::GetConfigurationDialog() const {
    return m_configDialog.data();
}

void CZtStimulationDeviceVerove::SetConfigurationDialog(CZtVeroveConfig* dialog) {
    m_configDialog = dialog;
}

void CZtStimulationDeviceVerove::OnVersionsChanged() {
    if (m_configDialog) {
        QMetaObject::invokeMethod(m_configDialog.data(), "UpdateDMDInfo");
    }
}

void CZtStimulationDeviceVerove::OnExposureStateChanged() {
    if (m_padWrapper) {
        m_padWrapper->StimulationState();
    }
}

IZtGrabberProvider* CZtStimulationDeviceVerove::GetGrabberProvider() {
    IZtHostContext* context = VerovePluginState().hostContext;
    return context ? context->GetGrabberProvider() : nullptr;
}

int CZtStimulationDeviceVerove::GetCurrentFormat(SZtGrabberFormatDesc* format) {
    CZtVeroveDriver* driver = GetDriver();
    return driver ? driver->GetCurrentFormat(format) : VeroveStatus::kNoDriver;
}

int CZtStimulationDeviceVerove::GetAssociatedDeviceInfo(std::uint32_t* lightId,
                                                        std::uint32_t* switcherId,
                                                        std::uint32_t* switcherPort) {
    VEROVE_LOG("CZtStimulationDeviceVerove::GetAssociatedDeviceInfo", L"Start");
    m_lightPath->GetAssociatedDeviceInfo(lightId, switcherId, switcherPort);
    return 0;
}

void CZtStimulationDeviceVerove::SetAutocalibrationRunning(bool running) {
    m_autocalibrationRunning.store(running);
    RefreshPad();
}
