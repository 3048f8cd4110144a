// The device's registry options and settings file.
#include "cztverovestartup.h"

#include "cztstimulationdeviceverove.h"
#include "cztverovesettingsfile.h"
#include "verove_log.h"
#include "verovestatus.h"
#include "zt/zt_devices.h"
#include "zt/zt_registry.h"

namespace {

constexpr const wchar_t* kRegistryKey = L"Software\\Brightwater\\Misc\\Verove";

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

void CZtVeroveStartup::UpdateRegistryOptions() {
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
    m_device.m_driverSettings.debugDeviceMemory.store(debugMemory == 1);
    m_device.m_driverSettings.ditheringMethod.store(dithering);
    const char* function = "CZtStimulationDeviceVerove::UpdateRegistryOptions";
    VEROVE_LOG(function, L"Light pad hiding %s", m_hideLightPad ? L"enabled" : L"disabled");
    VEROVE_LOG(function, L"Device memory debugging %s",
               debugMemory == 1 ? L"enabled" : L"disabled");
    VEROVE_LOG(function, L"Dithering method %d", static_cast<int>(dithering));
}

int CZtVeroveStartup::LoadSettings() {
    VEROVE_LOG("CZtStimulationDeviceVerove::LoadSettings", L"Start");
    DMApi* devices = m_device.DeviceManager();
    bool listConnected = false;
    if (m_settingsLoaded || !devices || devices->DMApi_IsDeviceListConnected(&listConnected) != 0 ||
        !listConnected) {
        return 0;
    }
    m_settingsLoaded = true;
    // A missing or unusable file leaves the defaults, which are applied all the same.
    CZtVeroveSettingsFile::Load(m_device.GetSettingsFileName(), m_device.m_uniqueName,
                                &m_device.m_settings);
    ValidateAndApplySettings();
    return 0;
}

void CZtVeroveStartup::SaveSettings() {
    const char* function = "CZtStimulationDeviceVerove::SaveSettings";
    VEROVE_LOG(function, L"Start");
    // Until the file was read, the record holds defaults: storing them would wipe the user's lists.
    if (!m_settingsLoaded) {
        VEROVE_LOG(function, L"Settings not loaded yet, file left unchanged.");
        return;
    }
    CZtVeroveSettingsFile::Save(m_device.GetSettingsFileName(), m_device.m_uniqueName,
                                m_device.m_settings);
}

void CZtVeroveStartup::ValidateAndApplySettings() {
    VEROVE_LOG("CZtStimulationDeviceVerove::ValidateAndApplySettings", L"Start");
    m_device.m_lightPath->ResolveAssociation();
    m_device.RefreshPad();
    if (m_hideLightPad) {
        m_device.m_lightPath->HideLightControl();
    }
    if (DMApi* devices = m_device.DeviceManager()) {
        CZtLock lock(m_device.m_deviceManagerRefreshLock);
        devices->DMApi_Refresh();
    }
    m_device.m_hostEvents.FinishStartup();
    CheckBitmapPatterns();
}

void CZtVeroveStartup::CheckBitmapPatterns() {
    CZtVeroveDriver* driver = m_device.GetDriver();
    const std::uint32_t width = driver ? static_cast<std::uint32_t>(driver->GetDmdWidth()) : 0;
    const std::uint32_t height = driver ? static_cast<std::uint32_t>(driver->GetDmdHeight()) : 0;
    // The boxes open before the buffer lock is taken: their event loop must not hold it.
    std::vector<std::unique_ptr<CZtPattern>> patterns;
    CZtVeroveSettingsFile::CheckBitmapPatterns(&m_device.m_settings, width, height, &patterns);
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
