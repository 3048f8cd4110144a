// The optical configuration record, its configuration string and the comparisons that decide
// whether a stored calibration applies.
#include "cztconfigurationdata.h"

#include <cerrno>
#include <cmath>
#include <cwchar>
#include <new>

#include "verove_log.h"
#include "verovestatus.h"
#include "zt/zt_devices.h"
#include "zt/zt_grabber.h"
#include "zt/zt_string.h"
#include "zt/zt_util.h"

namespace {

// The host's text for "no value"; written into configuration strings as an empty value.
std::wstring NoneText() {
    return ZT_GetTranslation(L"<none>").Str();
}

std::wstring Stored(const std::wstring& value, const std::wstring& none) {
    return value == none ? std::wstring() : value;
}

// A number occupying the whole text; a zoom text may carry its "x" suffix.
bool ToNumber(const std::wstring& text, double* value) {
    if (text.empty()) {
        return false;
    }
    wchar_t* end = nullptr;
    const double number = std::wcstod(text.c_str(), &end);
    if (end == text.c_str()) {
        return false;
    }
    std::wstring_view rest(end);
    if (rest == L"x") {
        rest = {};
    }
    if (!rest.empty()) {
        return false;
    }
    *value = number;
    return true;
}

// Filter section "$K<key>$N<name>$P<position>" repeated.
void ParseFilters(const std::wstring& section, SZtConfigurationStringParts* parts) {
    size_t pos = 0;
    for (;;) {
        const size_t k = section.find(L"$K", pos);
        if (k == std::wstring::npos) {
            return;
        }
        const size_t n = section.find(L"$N", k + 2);
        if (n == std::wstring::npos) {
            return;
        }
        const size_t p = section.find(L"$P", n + 2);
        if (p == std::wstring::npos) {
            return;
        }
        const size_t next = section.find(L"$K", p + 2);
        const size_t positionEnd = next == std::wstring::npos ? section.size() : next;
        parts->filters.push_back({section.substr(k + 2, n - k - 2),
                                  section.substr(n + 2, p - n - 2),
                                  section.substr(p + 2, positionEnd - p - 2)});
        if (next == std::wstring::npos) {
            return;
        }
        pos = next;
    }
}

bool IsVisibleAndActive(DMApi* devices, ZT_DWORD id) {
    bool visible = false;
    bool active = false;
    return devices->LogDev_GetVisible(id, &visible) == 0 && visible &&
           devices->LogDev_GetActive(id, &active) == 0 && active;
}

// One logical device's part of the optical path; a query that fails leaves that part out.
void AddLogicalDevice(DMApi* devices, ZT_DWORD id, CZtConfigurationData* record) {
    int type = 0;
    if (devices->LogDev_GetType(id, &type) != 0) {
        return;
    }
    CZtStringW key;
    CZtStringW name;
    int position = 0;
    switch (type) {
        case ZT_LOGDEV_NOSEPIECE:
            if (devices->Nosepiece_GetPosition(id, &position) == 0 &&
                devices->Nosepiece_GetObjectiveCode(id, position, &name) == 0) {
                record->AddObjective(name.Str());
            }
            break;
        case ZT_LOGDEV_FILTERCHANGER:
            if (devices->FilterChanger_GetPosition(id, &position) == 0 &&
                devices->FilterChanger_GetKey(id, &key) == 0 &&
                devices->FilterChanger_GetFilterName(id, position, &name) == 0) {
                record->AddFilterChanger(key.Str(), name.Str(), position);
            }
            break;
        case ZT_LOGDEV_LIGHT:
            if (devices->Light_GetKey(id, &key) == 0) {
                record->AddLight(key.Str());
            }
            break;
        case ZT_LOGDEV_MICROSCOPE:
            if (devices->Microscope_GetKey(id, &key) == 0) {
                record->AddMicroscope(key.Str());
            }
            break;
        case ZT_LOGDEV_MULTILASER: {
            int lines = 0;
            if (devices->MultiLaser_GetKey(id, &key) != 0 ||
                devices->MultiLaser_GetLineCount(id, &lines) != 0) {
                break;
            }
            std::uint32_t mask = 0;
            for (int line = 0; line < lines; ++line) {
                bool used = false;
                if (devices->MultiLaser_GetLineUsed(id, line, &used) == 0 && used) {
                    mask |= 1u << (line % 32);
                }
            }
            record->AddMultilaser(key.Str(), mask);
            break;
        }
        case ZT_LOGDEV_ZOOM: {
            bool manual = false;
            double zoom = 0.0;
            if (devices->Zoom_GetManual(id, &manual) == 0 && manual &&
                devices->Zoom_GetZoom(id, &zoom) == 0) {
                record->AddManualZoom(zoom);
            }
            break;
        }
        default:
            break;
    }
}

// The active camera's name; a confocal grabber's scanner type distinguishes its calibrations.
bool ActiveCameraName(IZtGrabberProvider* grabber, std::wstring* name) {
    int index = 0;
    SZtCameraDesc camera;
    if (grabber->SecGrabber_GetActive(&index) != 0 || grabber->CameraGet_WRP(index, &camera) != 0) {
        return false;
    }
    *name = camera.name.Str().substr(0, 64);
    bool confocal = false;
    std::int32_t scanner = -1;
    if (grabber->IsConfocal(&confocal) == 0 && confocal &&
        grabber->GetPropertyInt(L"ScannerTypeIndex", &scanner) == 0) {
        if (scanner == 0) {
            *name += L"_Galvano";
        } else if (scanner == 1) {
            *name += L"_Resonant";
        }
    }
    return true;
}

}  // namespace

CZtConfigurationData::CZtConfigurationData() {
    CreateLock("CZtConfigurationData::CZtConfigurationData");
}

CZtConfigurationData::CZtConfigurationData(const CZtConfigurationData& other) {
    CreateLock("CZtConfigurationData::CZtConfigurationData");
    CopyFieldsFrom(other);
}

CZtConfigurationData& CZtConfigurationData::operator=(const CZtConfigurationData& other) {
    if (this == &other) {
        return *this;
    }
    Lock();
    CopyFieldsFrom(other);
    Unlock();
    return *this;
}

CZtConfigurationData::~CZtConfigurationData() {
    VEROVE_LOG("CZtConfigurationData::~CZtConfigurationData",
               L"DELETION: Configuration data csLock (%p) deleted by thread (%#x)", m_csLock.get(),
               VeroveThreadId());
    m_csLock.reset();
    m_bLockInitialised = false;
}

void CZtConfigurationData::CreateLock(const char* function) {
    try {
        m_csLock = std::make_unique<CZtCriticalSection>();
        m_bLockInitialised = true;
        VEROVE_LOG(function, L"CREATION: Configuration data csLock (%p) created by thread (%#x)",
                   m_csLock.get(), VeroveThreadId());
    } catch (const std::bad_alloc&) {
        VEROVE_LOG(function,
                   L"An exception %d occurred when attempting to initialize critical section "
                   L"csLock.",
                   ENOMEM);
        m_bLockInitialised = false;
    }
}

void CZtConfigurationData::CopyFieldsFrom(const CZtConfigurationData& other) {
    m_filters = other.m_filters;
    m_strObjective = other.m_strObjective;
    m_lights = other.m_lights;
    m_strMicroscope = other.m_strMicroscope;
    m_multilasers = other.m_multilasers;
    m_dManualZoom = other.m_dManualZoom;
    m_strCamera = other.m_strCamera;
    m_dCameraRotation = other.m_dCameraRotation;
    m_bRotationSet = other.m_bRotationSet;
    m_bValid = other.m_bValid;
    m_iConnectionPort = other.m_iConnectionPort;
    m_bTRAXConnected = other.m_bTRAXConnected;
}

void CZtConfigurationData::Lock() {
    if (!m_bLockInitialised) {
        VEROVE_LOG("CZtConfigurationData::Lock", L"Unable to lock csLock, not initialized.");
        return;
    }
    m_csLock->Enter();
}

void CZtConfigurationData::Unlock() {
    if (!m_bLockInitialised) {
        VEROVE_LOG("CZtConfigurationData::Unlock", L"Unable to unlock csLock, not initialized.");
        return;
    }
    m_csLock->Leave();
}

void CZtConfigurationData::AddCamera(const std::wstring& name) {
    Lock();
    m_strCamera = name;
    m_bValid = true;
    Unlock();
}

void CZtConfigurationData::AddObjective(const std::wstring& code) {
    Lock();
    m_strObjective = code;
    m_bValid = true;
    Unlock();
}

void CZtConfigurationData::AddMicroscope(const std::wstring& key) {
    Lock();
    m_strMicroscope = key;
    m_bValid = true;
    Unlock();
}

void CZtConfigurationData::AddLight(const std::wstring& key) {
    Lock();
    m_lights.insert(key);
    m_bValid = true;
    Unlock();
}

void CZtConfigurationData::AddFilterChanger(const std::wstring& key, const std::wstring& filterName,
                                            std::int32_t position) {
    Lock();
    m_filters.insert({key, filterName, position});
    m_bValid = true;
    Unlock();
}

void CZtConfigurationData::AddMultilaser(const std::wstring& key, std::uint32_t usedLineMask) {
    Lock();
    m_multilasers.insert({key, usedLineMask});
    m_bValid = true;
    Unlock();
}

void CZtConfigurationData::AddManualZoom(double zoom) {
    Lock();
    m_dManualZoom = zoom;
    m_bValid = true;
    Unlock();
}

void CZtConfigurationData::AddConnectionPort(std::int32_t port) {
    Lock();
    m_iConnectionPort = port;
    m_bValid = true;
    Unlock();
}

void CZtConfigurationData::SetCameraRotation(double degrees) {
    Lock();
    m_dCameraRotation = std::fmod(std::fmod(degrees, 360.0) + 360.0, 360.0);
    m_bRotationSet = true;
    m_bValid = true;
    Unlock();
}

void CZtConfigurationData::SetTRAXConnected(bool connected) {
    Lock();
    m_bTRAXConnected = connected;
    m_bValid = true;
    Unlock();
}

void CZtConfigurationData::SetValid(bool valid) {
    Lock();
    m_bValid = valid;
    Unlock();
}

void CZtConfigurationData::Clear() {
    Lock();
    m_filters.clear();
    m_lights.clear();
    m_multilasers.clear();
    m_strObjective.clear();
    m_strMicroscope.clear();
    m_strCamera.clear();
    m_dManualZoom = 0.0;
    m_dCameraRotation = 0.0;
    m_iConnectionPort = 0;
    m_bTRAXConnected = false;
    m_bValid = false;
    Unlock();
}

std::wstring CZtConfigurationData::GetConfigurationString() {
    const std::wstring none = NoneText();
    Lock();
    CZtStringW text(L"#F");
    for (const SZtFilterEntry& filter : m_filters) {
        text.AppendFormat(L"$K%s$N%s$P%d", Stored(filter.key, none).c_str(),
                          Stored(filter.filterName, none).c_str(), filter.position);
    }
    text.AppendFormat(L"#O%s", Stored(m_strObjective, none).c_str());
    text.AppendFormat(L"#R%f", m_dCameraRotation);
    if (m_bTRAXConnected) {
        text.AppendFormat(L"#L%i", m_iConnectionPort);
    }
    if (m_dManualZoom > 0.0) {
        text.AppendFormat(L"#Z%f", m_dManualZoom);
    }
    text.AppendFormat(L"#C%s", Stored(m_strCamera, none).c_str());
    Unlock();
    return text.Str();
}

bool CZtConfigurationData::SameFilters(const CZtConfigurationData& other) const {
    if (m_filters.size() != other.m_filters.size()) {
        return false;
    }
    auto mine = m_filters.begin();
    for (auto theirs = other.m_filters.begin(); theirs != other.m_filters.end(); ++mine, ++theirs) {
        if (*mine < *theirs || *theirs < *mine) {
            return false;
        }
    }
    return true;
}

bool CZtConfigurationData::Equals(const CZtConfigurationData& other) {
    Lock();
    const bool equal = m_bValid && other.m_bValid && m_strObjective == other.m_strObjective &&
                       SameFilters(other) && m_dManualZoom == other.m_dManualZoom &&
                       m_strCamera == other.m_strCamera &&
                       m_dCameraRotation == other.m_dCameraRotation &&
                       !((m_bTRAXConnected || other.m_bTRAXConnected) &&
                         m_iConnectionPort != other.m_iConnectionPort);
    Unlock();
    return equal;
}

EZtCalibrationState CZtConfigurationData::CompareSuggestState(const CZtConfigurationData& other) {
    Lock();
    EZtCalibrationState state;
    if (!m_bValid || !other.m_bValid) {
        state = NotCalibrated;
    } else if (Equals(other)) {
        state = Calibrated;
    } else if (m_strCamera != other.m_strCamera) {
        state = NotCalibrated;
    } else if (m_strObjective != other.m_strObjective || !SameFilters(other) ||
               m_dManualZoom != other.m_dManualZoom || m_bTRAXConnected != other.m_bTRAXConnected ||
               (m_bTRAXConnected && m_iConnectionPort != other.m_iConnectionPort)) {
        state = Mismatch;
    } else if (!m_bRotationSet || !other.m_bRotationSet) {
        state = Compatible;
    } else {
        state = NotCalibrated;
    }
    Unlock();
    return state;
}

int ParseConfigurationString(const std::wstring& text, SZtConfigurationStringParts* parts) {
    const std::wstring none = NoneText();
    *parts = SZtConfigurationStringParts{};
    parts->objective = parts->zoom = parts->camera = parts->rotation = none;

    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L'#', start);
        if (end == std::wstring::npos) {
            end = text.size();
        }
        const std::wstring token = text.substr(start, end - start);
        start = end + 1;
        if (token.size() < 2) {
            continue;
        }
        const std::wstring value = token.substr(1);
        switch (token[0]) {
            case L'C':
                parts->camera = value;
                break;
            case L'F':
                ParseFilters(value, parts);
                break;
            case L'L':
                parts->port = static_cast<std::int32_t>(std::wcstol(value.c_str(), nullptr, 10));
                parts->trax = true;
                break;
            case L'O':
                parts->objective = value;
                break;
            case L'R':
                parts->rotation = ZT_FormatW(L"%.2f", std::wcstod(value.c_str(), nullptr));
                break;
            case L'Z':
                parts->zoom = ZT_FormatW(L"%.2fx", std::wcstod(value.c_str(), nullptr));
                break;
            default:
                break;
        }
    }
    return 0;
}

void BuildConfigurationFromParts(const SZtConfigurationStringParts& parts,
                                 CZtConfigurationData* record) {
    const std::wstring none = NoneText();
    record->AddCamera(parts.camera == none ? std::wstring() : parts.camera);
    double number = 0.0;
    if (ToNumber(parts.rotation, &number)) {
        record->SetCameraRotation(number);
    }
    for (const SZtConfigurationStringParts::Filter& filter : parts.filters) {
        record->AddFilterChanger(
            filter.key, filter.filterName,
            static_cast<std::int32_t>(std::wcstol(filter.position.c_str(), nullptr, 10)));
    }
    if (ToNumber(parts.zoom, &number)) {
        record->AddManualZoom(number);
    }
    record->AddObjective(parts.objective == none ? std::wstring() : parts.objective);
    record->AddConnectionPort(parts.port);
    record->SetTRAXConnected(parts.trax);
}

int FillConfigurationData(DMApi* devices, IZtGrabberProvider* grabber, const ZT_DWORD* ids,
                          int count, CZtConfigurationData* record,
                          std::optional<bool> driverTraxConnected) {
    if (!ids || !devices || !record) {
        return VeroveStatus::kInvalidArgument;
    }
    for (int i = 0; i < count; ++i) {
        if (IsVisibleAndActive(devices, ids[i])) {
            AddLogicalDevice(devices, ids[i], record);
        }
    }
    if (!grabber) {
        return VeroveStatus::kNoDriver;
    }
    std::wstring camera;
    if (ActiveCameraName(grabber, &camera)) {
        record->AddCamera(camera);
    }
    double rotation = 0.0;
    record->SetCameraRotation(
        grabber->Interp_Rotate_Get(1, &rotation) == 0 ? std::fmod(rotation, 360.0) : 0.0);
    if (driverTraxConnected) {
        record->SetTRAXConnected(*driverTraxConnected);
    }
    return 0;
}
