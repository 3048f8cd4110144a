// The light path of one stimulation device: association with light, switcher and shutters, the
// line records, applying a group's settings around a stimulation, announcements and state report.
#include "cztverovelightpath.h"

#include <algorithm>
#include <cmath>

#include "cztstimulationdeviceverove.h"
#include "iztstimulationdeviceaggregator.h"
#include "verove_log.h"
#include "verovestatus.h"
#include "zt/zt_devices.h"

namespace {

constexpr const wchar_t* kMultiLaser = L"IDeviceMultiLaser";
constexpr const wchar_t* kLight = L"IDeviceLight";
constexpr int kCurrent = CZtVeroveLightPath::kCurrentGroup;
constexpr int kStateReportEvent = 1;

// Powers and light values compare at the one decimal the pad shows.
double OneDecimal(double value) {
    return std::round(value * 10.0) / 10.0;
}

bool HasCapability(DMApi* devices, ZT_DWORD id, ZT_DWORD capability) {
    bool has = false;
    return devices->LogDev_HasCapability(id, capability, &has) == 0 && has;
}

int ReadValue(DMApi* devices, ZT_DWORD id, bool voltageControlled, double* value) {
    return voltageControlled ? devices->Light_GetVoltage(id, value)
                             : devices->Light_GetIris(id, value);
}

int WriteValue(DMApi* devices, ZT_DWORD id, bool voltageControlled, double value) {
    return voltageControlled ? devices->Light_SetVoltage(id, value)
                             : devices->Light_SetIris(id, value);
}

}  // namespace

int SZtVeroveLightState::ReadValue(DMApi* devices, double* value) const {
    return ::ReadValue(devices, lightId, voltageControlled, value);
}

int SZtVeroveLightState::WriteValue(DMApi* devices, double value) const {
    return ::WriteValue(devices, lightId, voltageControlled, value);
}

void CZtVeroveLightPath::LogIfRefused(const char* function, int line, int result) {
    if (result < 0) {
        VEROVE_LOG(function, L"Light refused line %d, result %d", line, result);
    }
}

CZtVeroveLightPath::CZtVeroveLightPath(CZtStimulationDeviceVerove& device,
                                       CZtVeroveSettings& settings)
    : m_device(device),
      m_settings(settings),
      m_lines(settings.laserLines),
      m_apply(device, *this) {}

CZtVeroveLightPath::~CZtVeroveLightPath() {
    RestoreLightControl();
}

bool CZtVeroveLightPath::IsMultiLaser() const {
    return m_settings.laserLaunchType == kMultiLaser;
}

bool CZtVeroveLightPath::IsSingleLight() const {
    return m_settings.laserLaunchType == kLight;
}

bool CZtVeroveLightPath::IsLine(int line) const {
    return line >= 0 && line < static_cast<int>(m_lines.size());
}

// ---- Association --------------------------------------------------------------------------------

int CZtVeroveLightPath::AssociateLight(ZT_DWORD id) {
    const char* function = "CZtStimulationDeviceVerove::OnAssociatedLightChanged";
    VEROVE_LOG(function, L"CZtStimulationDeviceVerove::OnAssociatedLightChanged(%u)", id);
    {
        // No light chosen while the stored one is away still clears the stored one.
        CZtLock lock(m_csPath);
        if (id == m_lightId && (id != 0 || m_settings.laserLaunchKey.IsEmpty())) {
            return 0;
        }
    }
    if (m_device.IsManualShotActive()) {
        m_device.ManualShotEnd();
    }
    RestoreLightControl();
    DMApi* devices = m_device.DeviceManager();
    int type = 0;
    if (id == 0 || !devices || devices->LogDev_GetType(id, &type) != 0 ||
        (type != ZT_LOGDEV_MULTILASER && type != ZT_LOGDEV_LIGHT)) {
        ClearLight();
        m_device.RefreshPad();
        SendStateReport();
        AnnounceLight();
        VEROVE_LOG(function,
                   L"CZtStimulationDeviceVerove::OnAssociatedLightChanged(%u): Failed to get "
                   L"logical device type or associated light set to <none> - end.",
                   id);
        return VeroveStatus::kRefused;
    }
    CZtStringW key;
    devices->LogDev_GetKey(id, &key);
    {
        CZtLock lock(m_csPath);
        if (type == ZT_LOGDEV_MULTILASER) {
            // The same launch again (its id may have changed) keeps the user's group values.
            const bool sameLaunch = IsMultiLaser() && m_settings.laserLaunchKey == key;
            m_lightId = id;
            m_settings.laserLaunchKey = key;
            m_settings.laserLaunchType = kMultiLaser;
            int count = 0;
            devices->MultiLaser_GetLineCount(id, &count);
            if (sameLaunch && count == static_cast<int>(m_lines.size())) {
                ReadLaunchLines(devices);
            } else {
                BuildLaunchLines(devices);
            }
        } else {
            m_lightId = id;
            m_settings.laserLaunchKey = key;
            m_settings.laserLaunchType = kLight;
            ReadLightControl(devices);
            BuildLightLine(devices);
        }
    }
    m_device.RefreshPad();
    if (m_device.GetHideLightPad()) {
        HideLightControl();
    }
    SendStateReport();
    AnnounceLight();
    return 0;
}

void CZtVeroveLightPath::ClearLight() {
    CZtLock lock(m_csPath);
    m_lightId = 0;
    m_settings.laserLaunchKey.Empty();
    m_settings.laserLaunchType.Empty();
    m_lines.clear();
    m_voltageControlled = false;
    m_maximumValue = 0.0;
    m_stepCount = 0;
}

void CZtVeroveLightPath::AssociateShutters(const std::vector<CZtStringW>& keys) {
    const char* function = "CZtStimulationDeviceVerove::OnAssociatedShuttersChanged";
    VEROVE_LOG(function, L"Start");
    std::vector<CZtStringW> chain;
    for (const CZtStringW& key : keys) {
        if (!key.IsEmpty()) {
            chain.push_back(key);
        }
    }
    {
        CZtLock lock(m_csPath);
        std::vector<CZtStringW> sortedNew = chain;
        std::vector<CZtStringW> sortedOld = m_settings.shutterKeys;
        std::sort(sortedNew.begin(), sortedNew.end());
        std::sort(sortedOld.begin(), sortedOld.end());
        if (sortedNew == sortedOld) {
            VEROVE_LOG(function, L"End - chain unchanged");
            return;
        }
        m_settings.shutterKeys = chain;
        if (DMApi* devices = m_device.DeviceManager()) {
            ResolveShutters(devices);
        }
    }
    m_device.RefreshPad();
    SendStateReport();
    VEROVE_LOG(function, L"End - %d shutters", static_cast<int>(chain.size()));
}

void CZtVeroveLightPath::SelectSwitcher(ZT_DWORD outputId) {
    const char* function = "CZtStimulationDeviceVerove::OnLaserSwitcherDeviceSelectionChanged";
    VEROVE_LOG(function, L"Start - (%u)", outputId);
    DMApi* devices = m_device.DeviceManager();
    CZtStringW key;
    if (outputId != 0 && (!devices || devices->LaserOutput_GetKey(outputId, &key) != 0)) {
        VEROVE_LOG(function, L"Laser output %u not found, switcher set to <none>.", outputId);
        outputId = 0;
        key.Empty();
    }
    {
        CZtLock lock(m_csPath);
        m_settings.laserSwitcherKey = key;
        m_switcherId = outputId;
    }
    m_apply.ForgetSwitcherPort();
    AnnounceSwitcher();
    SendStateReport();
    m_device.NotifyControllingAggregator(ZT_AGGREGATOR_SWITCHER_SELECTION);
}

void CZtVeroveLightPath::SelectSwitcherPort(ZT_DWORD port) {
    VEROVE_LOG("CZtStimulationDeviceVerove::OnLaserSwitcherPositionSelectionChanged",
               L"Start - (%u)", port);
    {
        CZtLock lock(m_csPath);
        if (port == m_settings.laserSwitcherPort) {
            return;
        }
        m_settings.laserSwitcherPort = port;
    }
    AnnounceSwitcher();
    SendStateReport();
}

void CZtVeroveLightPath::ResolveAssociation() {
    const char* function = "CZtVeroveLightPath::ResolveAssociation";
    DMApi* devices = m_device.DeviceManager();
    if (!devices) {
        VEROVE_LOG(function, L"No device manager, association left unresolved.");
        return;
    }
    CZtLock lock(m_csPath);
    ResolveShutters(devices);
    ResolveSwitcher(devices);
    m_lightId = 0;
    if (m_settings.laserLaunchKey.IsEmpty() || (!IsMultiLaser() && !IsSingleLight())) {
        return;
    }
    const int type = IsMultiLaser() ? ZT_LOGDEV_MULTILASER : ZT_LOGDEV_LIGHT;
    ZT_DWORD id = 0;
    if (devices->LogDev_GetIdByKey(type, m_settings.laserLaunchKey, &id) != 0 || id == 0) {
        // The records stay for the day the light comes back.
        VEROVE_LOG(function, L"Light %s (%s) not found.", m_settings.laserLaunchKey.GetString(),
                   m_settings.laserLaunchType.GetString());
        return;
    }
    m_lightId = id;
    if (IsMultiLaser()) {
        int count = 0;
        devices->MultiLaser_GetLineCount(id, &count);
        if (count == static_cast<int>(m_lines.size())) {
            ReadLaunchLines(devices);
        } else {
            VEROVE_LOG(function, L"Launch %s has %d lines, %d stored: lines rebuilt.",
                       m_settings.laserLaunchKey.GetString(), count,
                       static_cast<int>(m_lines.size()));
            BuildLaunchLines(devices);
        }
        return;
    }
    ReadLightControl(devices);
    if (m_lines.size() == 1) {
        ReadLightValue(devices, &m_lines[0].power[kCurrent]);
    } else {
        BuildLightLine(devices);
    }
}

void CZtVeroveLightPath::ResolveShutters(DMApi* devices) {
    m_chain.clear();
    for (const CZtStringW& key : m_settings.shutterKeys) {
        SZtShutter shutter;
        shutter.key = key;
        if (devices->LogDev_GetIdByKey(ZT_LOGDEV_SHUTTER, key, &shutter.id) != 0) {
            shutter.id = 0;
            VEROVE_LOG("CZtVeroveLightPath::ResolveShutters", L"Shutter %s not found.",
                       key.GetString());
        }
        m_chain.push_back(shutter);
    }
}

void CZtVeroveLightPath::ResolveSwitcher(DMApi* devices) {
    m_switcherId = 0;
    if (!m_settings.laserSwitcherKey.IsEmpty() &&
        devices->LogDev_GetIdByKey(ZT_LOGDEV_LASEROUTPUT, m_settings.laserSwitcherKey,
                                   &m_switcherId) != 0) {
        m_switcherId = 0;
        VEROVE_LOG("CZtVeroveLightPath::ResolveSwitcher", L"Laser switcher %s not found.",
                   m_settings.laserSwitcherKey.GetString());
    }
}

void CZtVeroveLightPath::ReadLaunchLines(DMApi* devices) {
    for (size_t i = 0; i < m_lines.size(); ++i) {
        SZtVeroveLaserLine& line = m_lines[i];
        const int index = static_cast<int>(i);
        line.index = static_cast<std::uint32_t>(i);
        devices->MultiLaser_GetLinePower(m_lightId, index, &line.power[kCurrent]);
        devices->MultiLaser_GetLineUsed(m_lightId, index, &line.used[kCurrent]);
        devices->MultiLaser_GetLineWavelength(m_lightId, index, &line.wavelength);
    }
}

void CZtVeroveLightPath::BuildLaunchLines(DMApi* devices) {
    int count = 0;
    devices->MultiLaser_GetLineCount(m_lightId, &count);
    m_lines.assign(static_cast<size_t>(std::max(count, 0)), SZtVeroveLaserLine());
    ReadLaunchLines(devices);
}

void CZtVeroveLightPath::ReadLightControl(DMApi* devices) {
    m_voltageControlled = false;
    devices->Light_IsVoltageControlled(m_lightId, &m_voltageControlled);
    m_stepCount = 0;
    m_maximumValue = 0.0;
    if (devices->Light_GetStepCount(m_lightId, &m_stepCount) == 0 && m_stepCount > 0) {
        devices->Light_GetStepValue(m_lightId, m_stepCount - 1, &m_maximumValue);
    }
}

void CZtVeroveLightPath::BuildLightLine(DMApi* devices) {
    SZtVeroveLaserLine line;
    std::fill(std::begin(line.used), std::end(line.used), true);
    ReadLightValue(devices, &line.power[kCurrent]);
    m_lines.assign(1, line);
}

int CZtVeroveLightPath::ReadLightValue(DMApi* devices, double* value) const {
    return ::ReadValue(devices, m_lightId, m_voltageControlled, value);
}

void CZtVeroveLightPath::HideLightControl() {
    const char* function = "CZtVeroveLightPath::HideLightControl";
    IZtLayoutManager* layout = ZT_GetLayoutManager();
    DMApi* devices = m_device.DeviceManager();
    const ZT_DWORD lightId = GetLightId();
    if (m_hiddenElement || lightId == 0 || !layout || !devices) {
        return;
    }
    ZT_DWORD physicalId = 0;
    devices->LogDev_GetPhysicalId(lightId, &physicalId);
    ZT_HGUIELEMENT element = layout->GetLogDevGUIElement(lightId);
    if (!element && physicalId != 0) {
        element = layout->GetPhysDevGUIElement(physicalId);
    }
    if (!element) {
        return;
    }
    CZtStringW layoutName;
    int position = 0;
    const int place = layout->GetElementPlace(element, &layoutName, &position);
    const int removed = place == 0 ? layout->RemoveElement(element) : place;
    if (removed != 0) {
        VEROVE_LOG(function, L"Failed to hide the light control, result %d", removed);
        return;
    }
    m_hiddenElement = element;
    m_hiddenLayout = layoutName;
    m_hiddenPosition = position;
    m_hiddenPhysicalId = physicalId;
    VEROVE_LOG(function, L"Light control taken from %s at %d", layoutName.GetString(), position);
}

void CZtVeroveLightPath::RestoreLightControl() {
    const char* function = "CZtVeroveLightPath::RestoreLightControl";
    if (!m_hiddenElement) {
        return;
    }
    ZT_HGUIELEMENT element = m_hiddenElement;
    m_hiddenElement = nullptr;
    IZtLayoutManager* layout = ZT_GetLayoutManager();
    DMApi* devices = m_device.DeviceManager();
    bool connected = false;
    if (!layout || !devices || devices->PhysDev_IsConnected(m_hiddenPhysicalId, &connected) != 0 ||
        !connected) {
        VEROVE_LOG(function, L"Light no longer connected, its control stays out of the layout.");
        return;
    }
    const int result = layout->InsertElement(element, m_hiddenLayout, m_hiddenPosition);
    VEROVE_LOG(function, L"Light control put back into %s at %d, result %d",
               m_hiddenLayout.GetString(), m_hiddenPosition, result);
}

void CZtVeroveLightPath::RebuildCandidates() {
    m_launchCandidates.clear();
    m_lightCandidates.clear();
    m_shutterCandidates.clear();
    m_switcherCandidates.clear();
    DMApi* devices = m_device.DeviceManager();
    int count = 0;
    if (!devices || devices->LogDev_GetCount(&count) != 0) {
        return;
    }
    for (int i = 0; i < count; ++i) {
        SZtVeroveCandidate candidate;
        int type = 0;
        if (devices->LogDev_GetId(i, &candidate.id) != 0 || candidate.id == 0 ||
            devices->LogDev_GetType(candidate.id, &type) != 0) {
            continue;
        }
        devices->LogDev_GetKey(candidate.id, &candidate.key);
        const bool drivable = HasCapability(devices, candidate.id, ZT_LOGDEV_CAP_LIGHT_INTENSITY) ||
                              HasCapability(devices, candidate.id, ZT_LOGDEV_CAP_LIGHT_ONOFF);
        bool voltage = false;
        bool iris = false;
        switch (type) {
            case ZT_LOGDEV_MULTILASER:
                if (drivable) {
                    m_launchCandidates.push_back(candidate);
                }
                break;
            case ZT_LOGDEV_LIGHT:
                devices->Light_IsVoltageControlled(candidate.id, &voltage);
                devices->Light_IsIrisControlled(candidate.id, &iris);
                if (drivable && (voltage || iris)) {
                    m_lightCandidates.push_back(candidate);
                }
                break;
            case ZT_LOGDEV_SHUTTER:
                m_shutterCandidates.push_back(candidate);
                break;
            case ZT_LOGDEV_LASEROUTPUT:
                // The association keeps a switcher by key: one entry per key.
                if (!HasCapability(devices, candidate.id, ZT_LOGDEV_CAP_LASEROUTPUT_FIXED) &&
                    std::none_of(
                        m_switcherCandidates.begin(), m_switcherCandidates.end(),
                        [&](const SZtVeroveCandidate& c) { return c.key == candidate.key; })) {
                    m_switcherCandidates.push_back(candidate);
                }
                break;
            default:
                break;
        }
    }
}

// ---- Ids ----------------------------------------------------------------------------------------

ZT_DWORD CZtVeroveLightPath::GetLightId() const {
    CZtLock lock(m_csPath);
    return m_lightId;
}

ZT_DWORD CZtVeroveLightPath::GetSwitcherId() const {
    CZtLock lock(m_csPath);
    return m_switcherId;
}

ZT_DWORD CZtVeroveLightPath::GetSwitcherPort() const {
    CZtLock lock(m_csPath);
    return m_settings.laserSwitcherPort;
}

SZtVeroveLightState CZtVeroveLightPath::State() const {
    CZtLock lock(m_csPath);
    SZtVeroveLightState state;
    state.lightId = m_lightId;
    state.multiLaser = IsMultiLaser();
    state.singleLight = IsSingleLight();
    state.voltageControlled = m_voltageControlled;
    state.lines = m_lines;
    state.switcherId = m_switcherId;
    state.switcherKey = m_settings.laserSwitcherKey;
    state.switcherPort = m_settings.laserSwitcherPort;
    return state;
}

std::vector<ZT_DWORD> CZtVeroveLightPath::GetShutterIds() const {
    CZtLock lock(m_csPath);
    std::vector<ZT_DWORD> ids;
    for (const SZtShutter& shutter : m_chain) {
        if (shutter.id != 0) {
            ids.push_back(shutter.id);
        }
    }
    return ids;
}

void CZtVeroveLightPath::GetAssociatedDeviceInfo(ZT_DWORD* lightId, ZT_DWORD* switcherId,
                                                 ZT_DWORD* port) {
    DMApi* devices = m_device.DeviceManager();
    CZtLock lock(m_csPath);
    if (lightId) {
        *lightId = 0;
        const wchar_t* key = m_settings.laserLaunchKey;
        if (devices && !m_settings.laserLaunchKey.IsEmpty() &&
            devices->LogDev_GetIdByKey(ZT_LOGDEV_MULTILASER, key, lightId) != 0 &&
            devices->LogDev_GetIdByKey(ZT_LOGDEV_LIGHT, key, lightId) != 0) {
            *lightId = 0;
        }
    }
    if (switcherId) {
        *switcherId = 0;
        if (devices && !m_settings.laserSwitcherKey.IsEmpty() &&
            devices->LogDev_GetIdByKey(ZT_LOGDEV_LASEROUTPUT, m_settings.laserSwitcherKey,
                                       switcherId) != 0) {
            *switcherId = 0;
        }
    }
    if (port) {
        *port = m_settings.laserSwitcherPort;
    }
}

// ---- Lines --------------------------------------------------------------------------------------

int CZtVeroveLightPath::GetLineCount() {
    CZtLock lock(m_csPath);
    return static_cast<int>(m_lines.size());
}

std::uint32_t CZtVeroveLightPath::GetLineWavelength(int line) {
    CZtLock lock(m_csPath);
    return IsLine(line) ? m_lines[static_cast<size_t>(line)].wavelength : 0;
}

double CZtVeroveLightPath::GetLinePower(int line, int group) {
    CZtLock lock(m_csPath);
    if (!IsLine(line) || group < 0 || group > kCurrent) {
        return 0.0;
    }
    return m_lines[static_cast<size_t>(line)].power[group];
}

bool CZtVeroveLightPath::GetLineVisible(int line) {
    CZtLock lock(m_csPath);
    return IsLine(line) && m_lines[static_cast<size_t>(line)].visible;
}

bool CZtVeroveLightPath::GetLineUsed(int line, int group) {
    CZtLock lock(m_csPath);
    if (!IsLine(line) || group < 0 || group > kCurrent) {
        return false;
    }
    return m_lines[static_cast<size_t>(line)].used[group];
}

void CZtVeroveLightPath::SetLinePower(int line, int group, double power) {
    const char* function = "CZtStimulationDeviceVerove::SetLinePower";
    VEROVE_LOG(function, L"CZtStimulationDeviceVerove::SetLinePower(%d, %d, %.2f)", line, group,
               power);
    SZtVeroveLightState light;
    double before = 0.0;
    {
        CZtLock lock(m_csPath);
        if (!IsLine(line) || group < 0 || group > kCurrent) {
            VEROVE_LOG(function, L"No line %d in group %d, nothing set.", line, group);
            return;
        }
        if (power >= 0.0 && power <= 100.0 && group != kCurrent) {
            m_lines[static_cast<size_t>(line)].power[group] = power;
            return;
        }
        light.lightId = m_lightId;
        light.multiLaser = IsMultiLaser();
        light.singleLight = IsSingleLight();
        light.voltageControlled = m_voltageControlled;
        before = m_lines[static_cast<size_t>(line)].power[kCurrent];
    }
    // The settings file keeps only powers in this range.
    if (!(power >= 0.0 && power <= 100.0)) {
        VEROVE_LOG(function, L"Power %.2f outside 0 to 100, nothing set.", power);
        m_device.RefreshPad();
        return;
    }
    DMApi* devices = m_device.DeviceManager();
    if (light.lightId == 0 || !devices || (!light.multiLaser && !light.singleLight)) {
        VEROVE_LOG(function, L"No laser launch, nothing set.");
        return;
    }
    const int result = light.multiLaser
                           ? devices->MultiLaser_SetLinePower(light.lightId, line, power)
                           : light.WriteValue(devices, power);
    if (result < 0) {
        VEROVE_LOG(function, L"Light refused power %.2f on line %d, result %d", power, line,
                   result);
        m_device.RefreshPad();
        return;
    }
    CZtLock lock(m_csPath);
    // A device event since the command has brought the light's own, newer value.
    if (m_lightId == light.lightId && IsLine(line) &&
        m_lines[static_cast<size_t>(line)].power[kCurrent] == before) {
        m_lines[static_cast<size_t>(line)].power[kCurrent] = power;
    }
}

int CZtVeroveLightPath::SetLineUsed(int line, int group, bool used) {
    const char* function = "CZtStimulationDeviceVerove::SetLineUsed";
    VEROVE_LOG(function, L"CZtStimulationDeviceVerove::SetLineUsed(%d, %d, %d)", line, group,
               used ? 1 : 0);
    bool known = false;
    ZT_DWORD lightId = 0;
    bool before = false;
    {
        CZtLock lock(m_csPath);
        known = IsMultiLaser() && IsLine(line) && group >= 0 && group <= kCurrent;
        if (known && group != kCurrent) {
            m_lines[static_cast<size_t>(line)].used[group] = used;
        } else if (known) {
            lightId = m_lightId;
            before = m_lines[static_cast<size_t>(line)].used[kCurrent];
        }
    }
    if (!known) {
        VEROVE_LOG(function, L"No launch line %d in group %d, nothing set.", line, group);
        m_device.RefreshPad();
        return VeroveStatus::kRefused;
    }
    int result = 0;
    if (group == kCurrent) {
        DMApi* devices = m_device.DeviceManager();
        bool current = !used;
        if (lightId == 0 || !devices ||
            devices->MultiLaser_GetLineUsed(lightId, line, &current) != 0) {
            result = VeroveStatus::kRefused;
        } else if (current != used) {
            const int answer = devices->MultiLaser_SetLineUsed(lightId, line, used);
            LogIfRefused(function, line, answer);
            if (answer < 0) {
                result = VeroveStatus::kRefused;
            }
        }
        CZtLock lock(m_csPath);
        // A device event since the command has brought the launch's own, newer state.
        if (result == 0 && m_lightId == lightId && IsLine(line) &&
            m_lines[static_cast<size_t>(line)].used[kCurrent] == before) {
            m_lines[static_cast<size_t>(line)].used[kCurrent] = used;
        }
    }
    m_device.RefreshPad();
    return result;
}

void CZtVeroveLightPath::SetLineVisible(int line, bool visible) {
    CZtLock lock(m_csPath);
    if (IsLine(line)) {
        m_lines[static_cast<size_t>(line)].visible = visible;
    }
}

void CZtVeroveLightPath::UpdateFromDevice(ZT_DWORD id, int type) {
    DMApi* devices = m_device.DeviceManager();
    CZtLock lock(m_csPath);
    if (id == 0 || id != m_lightId || !devices) {
        return;
    }
    if (type == ZT_LOGDEV_LIGHT && IsSingleLight() && m_lines.size() == 1) {
        SZtVeroveLaserLine& line = m_lines[0];
        line.used[kCurrent] = true;
        double value = 0.0;
        if (ReadLightValue(devices, &value) == 0 &&
            OneDecimal(value) != OneDecimal(line.power[kCurrent])) {
            line.power[kCurrent] = value;
        }
    } else if (type == ZT_LOGDEV_MULTILASER && IsMultiLaser()) {
        int count = 0;
        devices->MultiLaser_GetLineCount(id, &count);
        for (int i = 0; i < count && IsLine(i); ++i) {
            SZtVeroveLaserLine& line = m_lines[static_cast<size_t>(i)];
            devices->MultiLaser_GetLineUsed(id, i, &line.used[kCurrent]);
            double power = 0.0;
            if (devices->MultiLaser_GetLinePower(id, i, &power) == 0 &&
                OneDecimal(power) != OneDecimal(line.power[kCurrent])) {
                line.power[kCurrent] = power;
            }
        }
    }
}

// ---- Stimulation --------------------------------------------------------------------------------

int CZtVeroveLightPath::SetShuttersOpen(bool open) {
    const char* function = "CZtStimulationDeviceVerove::SetAssociatedShuttersOpenState";
    VEROVE_LOG(function, L"Start - bState = %d", open ? 1 : 0);
    DMApi* devices = m_device.DeviceManager();
    int result = 0;
    for (ZT_DWORD id : GetShutterIds()) {
        bool state = !open;
        if (!devices || (devices->Shutter_GetState(id, &state) == 0 && state == open)) {
            continue;
        }
        const int answer = devices->Shutter_SetState(id, open, 0, true);
        if (answer < 0) {
            VEROVE_LOG(function, L"Shutter %u refused, result %d", id, answer);
            result = VeroveStatus::kRefused;
        }
    }
    m_device.RefreshPad();
    VEROVE_LOG(function, L"End, return code %d", result);
    return result;
}

bool CZtVeroveLightPath::AreShuttersOpen() {
    DMApi* devices = m_device.DeviceManager();
    for (ZT_DWORD id : GetShutterIds()) {
        bool open = false;
        if (!devices || devices->Shutter_GetState(id, &open) != 0 || !open) {
            return false;
        }
    }
    return true;
}

// ---- Announcements ------------------------------------------------------------------------------

void CZtVeroveLightPath::SetNotifyCallback(void* context, ZT_VEROVE_NOTIFY callback) {
    m_notifyContext = context;
    m_notifyCallback = callback;
}

void CZtVeroveLightPath::SendStateReport() {
    if (!m_notifyCallback) {
        return;
    }
    const std::vector<ZT_DWORD> shutters = GetShutterIds();
    SZtVeroveStateRecord record;
    m_device.GetDeviceID(&record.logicalId);
    m_device.GetActivePatternId(&record.activePatternId);
    record.triggerAvailable = m_device.HasDeviceCapability(48);
    m_device.IsCalibrated(&record.calibrated);
    record.switcherId = GetSwitcherId();
    record.switcherPort = GetSwitcherPort();
    record.lightId = GetLightId();
    record.shutterCount = static_cast<ZT_DWORD>(shutters.size());
    record.shutterIds = shutters.data();
    m_notifyCallback(kStateReportEvent, m_notifyContext, &record);
}

void CZtVeroveLightPath::AnnounceLight() {
    CZtStringW type;
    {
        CZtLock lock(m_csPath);
        type = m_settings.laserLaunchType;
    }
    SendToLaserOutputs(ZT_CUSTOMCMD_LIGHT_ANNOUNCE, type, GetLightId(), 0);
}

void CZtVeroveLightPath::AnnounceSwitcher() {
    SendToLaserOutputs(ZT_CUSTOMCMD_SWITCHER_ANNOUNCE, nullptr, GetSwitcherId(), GetSwitcherPort());
}

void CZtVeroveLightPath::SendToLaserOutputs(ZT_DWORD command, const wchar_t* text, ZT_DWORD first,
                                            ZT_DWORD second) {
    DMApi* devices = m_device.DeviceManager();
    int count = 0;
    if (!devices || devices->LogDev_GetCount(&count) != 0) {
        return;
    }
    const bool simulated = m_device.IsSimulated();
    for (int i = 0; i < count; ++i) {
        ZT_DWORD id = 0;
        int type = 0;
        if (devices->LogDev_GetId(i, &id) != 0 || devices->LogDev_GetType(id, &type) != 0 ||
            type != ZT_LOGDEV_LASEROUTPUT) {
            continue;
        }
        const int result =
            devices->LogDev_SendCustomCommand(id, command, simulated, text, first, second);
        if (result < 0) {
            VEROVE_LOG("CZtVeroveLightPath::SendToLaserOutputs",
                       L"Laser output %u refused command %u, result %d", id, command, result);
        }
    }
}
