// The DMD interface's slots of the device.
#include "cztverovedmdadapter.h"

#include "cztstimulationdeviceverove.h"
#include "cztveroveconfig.h"
#include "cztverovenamemanager.h"
#include "cztverovepadwrapper.h"
#include "verove_log.h"
#include "verovestatus.h"
#include "zt/zt_devices.h"
#include "zt/zt_layout.h"
#include "zt/zt_settings.h"
#include "zt/zt_util.h"

namespace {

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

}  // namespace

int CZtVeroveDmdAdapter::GetDeviceID(ZT_DWORD* id) {
    if (!id) {
        return VeroveStatus::kDmdNullOutput;
    }
    *id = m_device.m_logicalDeviceId;
    return 0;
}

int CZtVeroveDmdAdapter::SaveKeys(CZtLiteVariantW* keys) {
    if (!keys) {
        return VeroveStatus::kDmdNullOutput;
    }
    return keys->AddBool(L"TriggerAvailable", m_triggerAvailable);
}

int CZtVeroveDmdAdapter::LoadKeys(CZtLiteVariantR* keys, ZT_DWORD id) {
    m_device.m_logicalDeviceId = id;
    m_triggerAvailable =
        Q9_Obsolete_IsLoTrue(L"") && keys && keys->GetBool(L"TriggerAvailable", false);
    return 0;
}

bool CZtVeroveDmdAdapter::HasDeviceCapability(ZT_DWORD code) {
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

int CZtVeroveDmdAdapter::ShowConfigurationDialog(QWidget* parent) {
    VEROVE_LOG("CZtStimulationDeviceVerove::ShowConfigurationDialog", L"Start");
    return CZtVeroveConfig::RunModal(&m_device, parent);
}

int CZtVeroveDmdAdapter::ParameterByCode(ZT_DWORD code, void* value) {
    if (!value) {
        return VeroveStatus::kDmdFailed;
    }
    switch (code) {
        case kParamNotifyCallback: {
            const auto* notify = static_cast<const SZtNotifyCallback*>(value);
            m_device.m_lightPath->SetNotifyCallback(notify->context, notify->callback);
            return 0;
        }
        case kParamNothing:
            return 0;
        case kParamLightId:
            *static_cast<ZT_DWORD*>(value) = m_device.m_lightPath->GetLightId();
            return 0;
        case kParamEmptyText:
            *static_cast<const wchar_t**>(value) = m_emptyText;
            return 0;
        default:
            return VeroveStatus::kDmdUnknownCode;
    }
}

int CZtVeroveDmdAdapter::GetControlPadGUIElementInfo(CZtStringW* title, CZtStringW* group,
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

int CZtVeroveDmdAdapter::UpdateControlPad() {
    const char* function = "CZtStimulationDeviceVerove::UpdateControlPad";
    VEROVE_LOG(function, L"Start");
    IZtLayoutManager* layout = ZT_GetLayoutManager();
    ZT_HGUIELEMENT element =
        layout ? layout->GetLogDevGUIElement(m_device.m_logicalDeviceId) : nullptr;
    if (!element) {
        VEROVE_LOG(function, L"Failed to update device pad name, aborting...");
        VEROVE_LOG(function, L"End");
        return VeroveStatus::kDmdFailed;
    }
    CZtVeroveNameManager& names = CZtVeroveNameManager::Instance();
    CZtStringW title;
    if (m_device.m_simulated) {
        title.Format(L"%s %s %s", names.GetDisplayName(), ZT_GetTranslation(L"Sim").GetString(),
                     ZT_GetTranslation(L"Pad").GetString());
    } else {
        title.Format(L"%s %s", names.GetDisplayName(), ZT_GetTranslation(L"Pad").GetString());
    }
    CZtStringW key;
    DMApi* devices = m_device.DeviceManager();
    if (devices && devices->LogDev_GetKey(m_device.m_logicalDeviceId, &key) == 0 &&
        !key.IsEmpty()) {
        title.AppendFormat(L" (%s)", key.GetString());
    }
    const int result = layout->SetUserName(element, ZT_GetTranslation(title).GetString());
    VEROVE_LOG(function, L"End");
    return result == 0 ? VeroveStatus::kOk : VeroveStatus::kDmdFailed;
}

int CZtVeroveDmdAdapter::GetAssociatedShuttersOpen(bool* open) {
    if (!open) {
        return VeroveStatus::kDmdFailed;
    }
    *open = m_device.m_lightPath->AreShuttersOpen();
    return 0;
}

int CZtVeroveDmdAdapter::GetAssociatedShutterCount(ZT_DWORD* count) {
    if (!count) {
        return VeroveStatus::kDmdFailed;
    }
    *count = static_cast<ZT_DWORD>(m_device.m_lightPath->GetShutterIds().size());
    return 0;
}

int CZtVeroveDmdAdapter::GetAssociatedShutterId(int index, ZT_DWORD* id) {
    if (!id) {
        return VeroveStatus::kDmdFailed;
    }
    const std::vector<ZT_DWORD> ids = m_device.m_lightPath->GetShutterIds();
    if (index < 0 || index >= static_cast<int>(ids.size())) {
        *id = 0;
        return VeroveStatus::kDmdFailed;
    }
    *id = ids[static_cast<size_t>(index)];
    return 0;
}

int CZtVeroveDmdAdapter::GetAssociatedLightId(ZT_DWORD* id) {
    if (!id) {
        return VeroveStatus::kDmdFailed;
    }
    *id = m_device.m_lightPath->GetLightId();
    return 0;
}

int CZtVeroveDmdAdapter::GetAssociatedSwitcherId(ZT_DWORD* id) {
    if (!id) {
        return VeroveStatus::kDmdFailed;
    }
    *id = m_device.m_lightPath->GetSwitcherId();
    return 0;
}

int CZtVeroveDmdAdapter::GetAssociatedSwitcherPort(ZT_DWORD* port) {
    if (!port) {
        return VeroveStatus::kDmdFailed;
    }
    *port = m_device.m_lightPath->GetSwitcherPort();
    return 0;
}

int CZtVeroveDmdAdapter::GetPatternCount(ZT_DWORD* count) {
    if (!count) {
        return VeroveStatus::kDmdNullOutput;
    }
    *count = static_cast<ZT_DWORD>(GetPatternCount());
    return 0;
}

int CZtVeroveDmdAdapter::GetPatternCount() {
    CZtVeroveDriver* driver = m_device.GetDriver();
    if (!driver) {
        return 0;
    }
    CZtLock lock(driver->GetBufferLock());
    return driver->GetPatterns().Count();
}

int CZtVeroveDmdAdapter::GetPatternName(ZT_DWORD id, CZtStringW* name) {
    CZtVeroveDriver* driver = m_device.GetDriver();
    if (!driver) {
        VEROVE_LOG("CZtStimulationDeviceVerove::GetPatternName", L"No device driver, aborting...");
        return VeroveStatus::kDmdFailed;
    }
    if (!name) {
        return VeroveStatus::kDmdNullOutput;
    }
    CZtLock lock(driver->GetBufferLock());
    const CZtPattern* pattern = m_device.m_sequence.FindPattern(driver, id);
    if (!pattern) {
        return VeroveStatus::kDmdNoPattern;
    }
    *name = pattern->GetName();
    return 0;
}

int CZtVeroveDmdAdapter::GetPatternAvailable(ZT_DWORD id, bool* available) {
    if (!available) {
        return VeroveStatus::kDmdFailed;
    }
    CZtVeroveDriver* driver = m_device.GetDriver();
    if (!driver) {
        return VeroveStatus::kDmdFailed;
    }
    CZtLock lock(driver->GetBufferLock());
    const CZtPattern* pattern = driver->GetPatterns().FindById(id);
    if (!pattern) {
        return VeroveStatus::kDmdNoPattern;
    }
    // The group patterns S1-S3 are usable only once they hold stimulation areas.
    *available = id < 3 || id > 5 || pattern->HasStimulationAreas();
    return 0;
}

int CZtVeroveDmdAdapter::GetActivePatternId(ZT_DWORD* id) {
    if (!id) {
        return VeroveStatus::kDmdNullOutput;
    }
    CZtVeroveDriver* driver = m_device.GetDriver();
    if (!driver) {
        return VeroveStatus::kDmdFailed;
    }
    CZtLock lock(driver->GetBufferLock());
    *id = static_cast<ZT_DWORD>(driver->GetPatterns().GetCurrentId());
    return 0;
}

int CZtVeroveDmdAdapter::SetActivePatternId(ZT_DWORD id) {
    CZtVeroveDriver* driver = m_device.GetDriver();
    if (!driver) {
        return VeroveStatus::kDmdFailed;
    }
    ZT_DWORD current = 0;
    GetActivePatternId(&current);
    if (current == id) {
        return 0;
    }
    const int result = driver->ExposePattern(static_cast<int>(id), false);
    if (m_device.m_padWrapper) {
        GetActivePatternId(&current);
        m_device.m_padWrapper->ActivePattern(current);
    }
    return result;
}

int CZtVeroveDmdAdapter::GetPatternIdByName(const wchar_t* name, ZT_DWORD* id) {
    const char* function = "CZtStimulationDeviceVerove::GetPatternId";
    if (!id) {
        VEROVE_LOG(function, L"Invalid pattern ID pointer, aborting");
        return VeroveStatus::kDmdNullOutput;
    }
    CZtVeroveDriver* driver = m_device.GetDriver();
    if (!driver || !name) {
        return VeroveStatus::kDmdFailed;
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

int CZtVeroveDmdAdapter::GetPatternIdByIndex(ZT_DWORD index, ZT_DWORD* id) {
    if (!id) {
        return VeroveStatus::kDmdNullOutput;
    }
    CZtVeroveDriver* driver = m_device.GetDriver();
    if (!driver) {
        return VeroveStatus::kDmdFailed;
    }
    CZtLock lock(driver->GetBufferLock());
    const CZtPattern* pattern = driver->GetPatterns().GetAt(static_cast<int>(index));
    if (!pattern) {
        return VeroveStatus::kDmdFailed;
    }
    *id = pattern->GetId();
    return 0;
}

int CZtVeroveDmdAdapter::GetPatternCameraProjection(ZT_DWORD id, SZtPicBuf* picture,
                                                    const SZtRect* rect1, const SZtRect* rect2,
                                                    double value1, double value2,
                                                    double angleDegrees) {
    const char* function = "CZtStimulationDeviceVerove::GetPatternCameraProjection";
    VEROVE_LOG(function, L"Start");
    CZtVeroveDriver* driver = m_device.GetDriver();
    if (!driver) {
        VEROVE_LOG(function, L"No device driver, aborting...");
        VEROVE_LOG(function, L"End");
        return VeroveStatus::kDmdFailed;
    }
    if (!picture) {
        VEROVE_LOG(function, L"Invalid image buffer format, aborting...");
        VEROVE_LOG(function, L"End");
        return VeroveStatus::kDmdFailed;
    }
    // A copy: projecting renders into the pattern's working picture.
    CZtPattern pattern;
    {
        CZtLock lock(driver->GetBufferLock());
        const CZtPattern* found = m_device.m_sequence.FindPattern(driver, id);
        if (!found) {
            VEROVE_LOG(function, L"Unable to obtain pattern ID = %u, aborting...", id);
            VEROVE_LOG(function,
                       L"Custom grid pool contains %u patterns, device pool contains %u patterns",
                       static_cast<unsigned>(m_device.m_sequence.GetSequencePoolSize()),
                       static_cast<unsigned>(driver->GetPatterns().Count()));
            VEROVE_LOG(function, L"End");
            return VeroveStatus::kDmdFailed;
        }
        pattern = *found;
    }
    SZtGrabberFormatDesc format;
    if (driver->GetCurrentFormat(&format) != 0) {
        VEROVE_LOG(function, L"Unable to obtain camera format.");
        VEROVE_LOG(function, L"End");
        return VeroveStatus::kDmdFailed;
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
    if (CZtCalibrationData* calibration = m_device.GetCalibrationData()) {
        const CZtMatrix3 mapping = calibration->GetMappingDMDToCam();
        matrix.assign(mapping.begin(), mapping.end());
        scanArea = calibration->GetScanAreaDesc();
    }
    if (pattern.GetProjectionToCameraSpace(&projected, &format.value, angleDegrees, matrix,
                                           &scanArea) != 0 ||
        CZtPicBufAPI::Copy(&projected, picture) != 0) {
        VEROVE_LOG(function, L"Unable to obtain pattern projection.");
        VEROVE_LOG(function, L"End");
        return VeroveStatus::kDmdFailed;
    }
    VEROVE_LOG(function, L"End - OK");
    return 0;
}

int CZtVeroveDmdAdapter::IsCalibrated(bool* calibrated) {
    if (!calibrated) {
        return VeroveStatus::kDmdNullOutput;
    }
    const CZtCalibrationData* calibration = m_device.GetCalibrationData();
    *calibrated = calibration && calibration->GetCalibrationState() > NotCalibrated;
    return 0;
}

int CZtVeroveDmdAdapter::AddUserPattern(const wchar_t* name, const wchar_t* path,
                                        std::int32_t mapping) {
    VEROVE_LOG("CZtStimulationDeviceVerove::AddUserPattern", L"Start");
    if (!name || !path || (mapping != 0 && mapping != 1)) {
        return VeroveStatus::kInvalidArgument;
    }
    m_device.m_settings.bitmaps.emplace_back(name, path, mapping);
    m_device.CheckBitmapPatterns();
    m_device.SaveSettings();
    return 0;
}

int CZtVeroveDmdAdapter::GetUserPattern(const wchar_t* name, CZtStringW* path) {
    VEROVE_LOG("CZtStimulationDeviceVerove::GetUserPattern", L"Start");
    return m_device.m_settings.FindBitmap(name, path);
}

int CZtVeroveDmdAdapter::ActivatePatternByName(const wchar_t* name) {
    if (!name || !HasPattern(name)) {
        return VeroveStatus::kRefused;
    }
    ZT_DWORD id = 0;
    GetPatternIdByName(name, &id);
    return SetActivePatternId(id);
}

bool CZtVeroveDmdAdapter::HasPattern(const wchar_t* name) {
    CZtVeroveDriver* driver = m_device.GetDriver();
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

int CZtVeroveDmdAdapter::GetValue(int index, std::uint32_t* value) {
    if (!value) {
        return VeroveStatus::kInvalidArgument;
    }
    if (index == 0) {
        *value = m_device.m_lightPath->GetLightId();
        return 0;
    }
    if (index == 2) {
        *value = m_device.m_lightPath->GetSwitcherId();
        return 0;
    }
    return VeroveStatus::kNotSupported;
}
