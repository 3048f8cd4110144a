// The device manager: logical devices by id, in the order the microscope set-up added them.
#include "devicemanager.h"

#include <algorithm>
#include <cwchar>

namespace {

using Setup = zthost::LogicalDeviceSetup;

// A device with positions stands at one of them; powers and light values lie in their ranges.
bool IsValid(const zthost::LogicalDeviceSetup& device) {
    if (device.id == 0) {
        return false;
    }
    switch (device.type) {
        case ZT_LOGDEV_NOSEPIECE:
        case ZT_LOGDEV_FILTERCHANGER:
        case ZT_LOGDEV_LASEROUTPUT:
            return device.position >= 0 &&
                   device.position < static_cast<int>(device.positionNames.size());
        case ZT_LOGDEV_MULTILASER:
            return std::all_of(device.lines.begin(), device.lines.end(), [](const auto& line) {
                return line.power >= 0.0 && line.power <= 100.0;
            });
        case ZT_LOGDEV_LIGHT:
            return device.lightControl == zthost::LightControl::None ||
                   (device.stepCount >= 1 && device.minimum <= device.maximum &&
                    device.value >= device.minimum && device.value <= device.maximum);
        default:
            return true;
    }
}

bool IsLightWith(const zthost::LogicalDeviceSetup& device, zthost::LightControl control) {
    return device.lightControl == control;
}

// The light's value when its intensity is of that control, else -6.
int ReadLightValue(const zthost::LogicalDeviceSetup& device, zthost::LightControl control,
                   double* out) {
    if (!IsLightWith(device, control)) {
        return -6;
    }
    *out = device.value;
    return 0;
}

// Runs read on the line when the device has it: its status, else -7.
template <typename Out, typename Read>
int ReadLine(const zthost::LogicalDeviceSetup& device, int line, Out* out, Read read) {
    if (line < 0 || line >= static_cast<int>(device.lines.size())) {
        return -7;
    }
    *out = read(device.lines[static_cast<size_t>(line)]);
    return 0;
}

std::wstring Printf(const wchar_t* format, double value) {
    wchar_t text[64];
    std::swprintf(text, sizeof text / sizeof text[0], format, value);
    return text;
}

int ReadName(const std::vector<std::wstring>& names, int position, CZtStringW* out) {
    if (position < 0 || position >= static_cast<int>(names.size())) {
        return -7;
    }
    *out = CZtStringW(names[static_cast<size_t>(position)]);
    return 0;
}

}  // namespace

DeviceManager::DeviceManager(IZtPluginManager& events)
    : m_events(events), m_deferred([this](const StateCommand& command) { Complete(command); }) {}

zthost::LogicalDeviceSetup* DeviceManager::FindLocked(ZT_DWORD id) {
    const auto it = std::find_if(m_devices.begin(), m_devices.end(),
                                 [id](const zthost::LogicalDeviceSetup& d) { return d.id == id; });
    return it == m_devices.end() ? nullptr : &*it;
}

template <typename Out, typename Read>
int DeviceManager::Query(ZT_DWORD id, int type, Out* out, Read read) {
    if (!out) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    const zthost::LogicalDeviceSetup* device = FindLocked(id);
    if (!device) {
        return -5;
    }
    if (type != 0 && device->type != type) {
        return -6;
    }
    return read(*device, out);
}

template <typename Out, typename Field>
int DeviceManager::QueryField(ZT_DWORD id, int type, Out* out, Field Setup::*field) {
    return Query(id, type, out, [field](const Setup& d, Out* o) {
        *o = d.*field;
        return 0;
    });
}

int DeviceManager::LogDev_GetCount(int* count) {
    if (!count) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    *count = static_cast<int>(m_devices.size());
    return 0;
}

int DeviceManager::LogDev_GetId(int index, ZT_DWORD* id) {
    if (!id) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    if (index < 0 || index >= static_cast<int>(m_devices.size())) {
        return -7;
    }
    *id = m_devices[static_cast<size_t>(index)].id;
    return 0;
}

int DeviceManager::LogDev_GetType(ZT_DWORD id, int* type) {
    return QueryField(id, 0, type, &Setup::type);
}

int DeviceManager::LogDev_GetVisible(ZT_DWORD id, bool* visible) {
    return QueryField(id, 0, visible, &Setup::visible);
}

int DeviceManager::LogDev_GetActive(ZT_DWORD id, bool* active) {
    return QueryField(id, 0, active, &Setup::active);
}

int DeviceManager::LogDev_GetKey(ZT_DWORD id, CZtStringW* key) {
    return QueryField(id, 0, key, &Setup::key);
}

int DeviceManager::LogDev_HasCapability(ZT_DWORD id, ZT_DWORD capability, bool* has) {
    return Query(id, 0, has, [capability](const auto& d, bool* out) {
        const auto& caps = d.capabilities;
        *out = std::find(caps.begin(), caps.end(), capability) != caps.end();
        return 0;
    });
}

int DeviceManager::LogDev_GetPhysicalId(ZT_DWORD id, ZT_DWORD* physicalId) {
    return QueryField(id, 0, physicalId, &Setup::physicalId);
}

int DeviceManager::LogDev_GetIdByKey(int type, const wchar_t* key, ZT_DWORD* id) {
    if (!key || !id) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    const auto it = std::find_if(m_devices.begin(), m_devices.end(),
                                 [&](const auto& d) { return d.type == type && d.key == key; });
    if (it == m_devices.end()) {
        return -5;
    }
    *id = it->id;
    return 0;
}

int DeviceManager::LogDev_SendCustomCommand(ZT_DWORD id, ZT_DWORD command, bool simulated,
                                            const wchar_t* text, ZT_DWORD first, ZT_DWORD second) {
    std::lock_guard lock(m_mutex);
    const zthost::LogicalDeviceSetup* device = FindLocked(id);
    if (!device) {
        return -5;
    }
    if (const int refusal = RefusalLocked(*device, zthost::DeviceCommand::CustomCommand)) {
        return refusal;
    }
    m_customCommands.push_back({id, command, simulated, text ? text : L"", first, second});
    return 0;
}

int DeviceManager::Nosepiece_GetPosition(ZT_DWORD id, int* position) {
    return QueryField(id, ZT_LOGDEV_NOSEPIECE, position, &Setup::position);
}

int DeviceManager::Nosepiece_GetObjectiveCode(ZT_DWORD id, int position, CZtStringW* code) {
    return Query(id, ZT_LOGDEV_NOSEPIECE, code, [position](const auto& d, CZtStringW* out) {
        return ReadName(d.positionNames, position, out);
    });
}

int DeviceManager::FilterChanger_GetPosition(ZT_DWORD id, int* position) {
    return QueryField(id, ZT_LOGDEV_FILTERCHANGER, position, &Setup::position);
}

int DeviceManager::FilterChanger_GetKey(ZT_DWORD id, CZtStringW* key) {
    return QueryField(id, ZT_LOGDEV_FILTERCHANGER, key, &Setup::key);
}

int DeviceManager::FilterChanger_GetFilterName(ZT_DWORD id, int position, CZtStringW* name) {
    return Query(id, ZT_LOGDEV_FILTERCHANGER, name, [position](const auto& d, CZtStringW* out) {
        return ReadName(d.positionNames, position, out);
    });
}

int DeviceManager::Light_GetKey(ZT_DWORD id, CZtStringW* key) {
    return QueryField(id, ZT_LOGDEV_LIGHT, key, &Setup::key);
}

int DeviceManager::Light_IsVoltageControlled(ZT_DWORD id, bool* voltage) {
    return Query(id, ZT_LOGDEV_LIGHT, voltage, [](const auto& d, bool* out) {
        *out = IsLightWith(d, zthost::LightControl::Voltage);
        return 0;
    });
}

int DeviceManager::Light_IsIrisControlled(ZT_DWORD id, bool* iris) {
    return Query(id, ZT_LOGDEV_LIGHT, iris, [](const auto& d, bool* out) {
        *out = IsLightWith(d, zthost::LightControl::Iris);
        return 0;
    });
}

int DeviceManager::Light_GetVoltage(ZT_DWORD id, double* voltage) {
    return Query(id, ZT_LOGDEV_LIGHT, voltage, [](const auto& d, double* out) {
        return ReadLightValue(d, zthost::LightControl::Voltage, out);
    });
}

int DeviceManager::Light_SetVoltage(ZT_DWORD id, double voltage) {
    return Submit(StateCommand::Voltage(id, voltage));
}

int DeviceManager::Light_GetIris(ZT_DWORD id, double* iris) {
    return Query(id, ZT_LOGDEV_LIGHT, iris, [](const auto& d, double* out) {
        return ReadLightValue(d, zthost::LightControl::Iris, out);
    });
}

int DeviceManager::Light_SetIris(ZT_DWORD id, double iris) {
    return Submit(StateCommand::Iris(id, iris));
}

int DeviceManager::Light_GetRange(ZT_DWORD id, double* minimum, double* maximum) {
    if (!maximum) {
        return -4;
    }
    return Query(id, ZT_LOGDEV_LIGHT, minimum, [maximum](const auto& d, double* out) {
        if (IsLightWith(d, zthost::LightControl::None)) {
            return -6;
        }
        *out = d.minimum;
        *maximum = d.maximum;
        return 0;
    });
}

int DeviceManager::Light_GetStepCount(ZT_DWORD id, int* count) {
    return Query(id, ZT_LOGDEV_LIGHT, count, [](const auto& d, int* out) {
        if (IsLightWith(d, zthost::LightControl::None)) {
            return -6;
        }
        *out = d.stepCount;
        return 0;
    });
}

int DeviceManager::Light_GetStepValue(ZT_DWORD id, int step, double* value) {
    return Query(id, ZT_LOGDEV_LIGHT, value, [step](const auto& d, double* out) {
        if (IsLightWith(d, zthost::LightControl::None)) {
            return -6;
        }
        if (step < 0 || step >= d.stepCount) {
            return -7;
        }
        *out = d.stepCount == 1 ? d.maximum
                                : d.minimum + (d.maximum - d.minimum) * step / (d.stepCount - 1);
        return 0;
    });
}

int DeviceManager::Microscope_GetKey(ZT_DWORD id, CZtStringW* key) {
    return QueryField(id, ZT_LOGDEV_MICROSCOPE, key, &Setup::key);
}

int DeviceManager::MultiLaser_GetKey(ZT_DWORD id, CZtStringW* key) {
    return QueryField(id, ZT_LOGDEV_MULTILASER, key, &Setup::key);
}

int DeviceManager::MultiLaser_GetLineCount(ZT_DWORD id, int* count) {
    return Query(id, ZT_LOGDEV_MULTILASER, count, [](const auto& d, int* out) {
        *out = static_cast<int>(d.lines.size());
        return 0;
    });
}

int DeviceManager::MultiLaser_GetLineUsed(ZT_DWORD id, int line, bool* used) {
    return Query(id, ZT_LOGDEV_MULTILASER, used, [line](const auto& d, bool* out) {
        return ReadLine(d, line, out, [](const auto& l) { return l.used; });
    });
}

int DeviceManager::MultiLaser_SetLineUsed(ZT_DWORD id, int line, bool used) {
    return Submit(StateCommand::LineUsed(id, line, used));
}

int DeviceManager::MultiLaser_GetLinePower(ZT_DWORD id, int line, double* power) {
    return Query(id, ZT_LOGDEV_MULTILASER, power, [line](const auto& d, double* out) {
        return ReadLine(d, line, out, [](const auto& l) { return l.power; });
    });
}

int DeviceManager::MultiLaser_SetLinePower(ZT_DWORD id, int line, double power) {
    return Submit(StateCommand::LinePower(id, line, power));
}

int DeviceManager::MultiLaser_GetLineWavelength(ZT_DWORD id, int line, ZT_DWORD* nanometres) {
    return Query(id, ZT_LOGDEV_MULTILASER, nanometres, [line](const auto& d, ZT_DWORD* out) {
        return ReadLine(d, line, out, [](const auto& l) { return l.wavelength; });
    });
}

int DeviceManager::LaserOutput_GetKey(ZT_DWORD id, CZtStringW* key) {
    return QueryField(id, ZT_LOGDEV_LASEROUTPUT, key, &Setup::key);
}

int DeviceManager::LaserOutput_GetPortCombinationCount(ZT_DWORD id, int* count) {
    return Query(id, ZT_LOGDEV_LASEROUTPUT, count, [](const auto& d, int* out) {
        *out = static_cast<int>(d.positionNames.size());
        return 0;
    });
}

int DeviceManager::LaserOutput_GetPortCombinationName(ZT_DWORD id, int index, CZtStringW* name) {
    return Query(id, ZT_LOGDEV_LASEROUTPUT, name, [index](const auto& d, CZtStringW* out) {
        return ReadName(d.positionNames, index, out);
    });
}

int DeviceManager::LaserOutput_GetPortCombination(ZT_DWORD id, int* index) {
    return QueryField(id, ZT_LOGDEV_LASEROUTPUT, index, &Setup::position);
}

int DeviceManager::LaserOutput_SetPortCombination(ZT_DWORD id, int index) {
    return Submit(StateCommand::PortCombination(id, index));
}

int DeviceManager::Shutter_GetKey(ZT_DWORD id, CZtStringW* key) {
    return QueryField(id, ZT_LOGDEV_SHUTTER, key, &Setup::key);
}

int DeviceManager::Shutter_GetState(ZT_DWORD id, bool* open) {
    return QueryField(id, ZT_LOGDEV_SHUTTER, open, &Setup::open);
}

int DeviceManager::Shutter_SetState(ZT_DWORD id, bool open, ZT_DWORD waitMs, bool notify) {
    ZT_DWORD physicalId = 0;
    const int status = Submit(StateCommand::ShutterState(id, open, notify), &physicalId);
    if (status != ZT_DM_PENDING || waitMs == 0) {
        return status;
    }
    return m_deferred.Wait(physicalId, waitMs);
}

int DeviceManager::Zoom_GetManual(ZT_DWORD id, bool* manual) {
    return QueryField(id, ZT_LOGDEV_ZOOM, manual, &Setup::manualZoom);
}

int DeviceManager::Zoom_GetZoom(ZT_DWORD id, double* zoom) {
    return QueryField(id, ZT_LOGDEV_ZOOM, zoom, &Setup::zoom);
}

int DeviceManager::DMApi_GalvoXY_GetCount(int* count) {
    if (!count) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    *count = m_galvoXYCount;
    return 0;
}

int DeviceManager::PhysDev_IsConnected(ZT_DWORD physicalId, bool* connected) {
    if (!connected) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    if (!HasPhysicalLocked(physicalId)) {
        return -5;
    }
    *connected = m_disconnectedPhysical.count(physicalId) == 0;
    return 0;
}

int DeviceManager::PhysDev_Disconnect(ZT_DWORD physicalId) {
    std::lock_guard lock(m_mutex);
    if (!HasPhysicalLocked(physicalId)) {
        return -5;
    }
    m_disconnectedPhysical.insert(physicalId);
    return 0;
}

// The simulated devices hold no state of their own to re-read: a refresh is counted and, as
// after any refresh of the host's device manager, the modules hear of it.
int DeviceManager::DMApi_Refresh() {
    {
        std::lock_guard lock(m_mutex);
        ++m_refreshCount;
    }
    m_events.SendModuleEvent(L"ZT_MODULEEVENT_DM_AFTER_REFRESH", 0, nullptr, nullptr);
    return 0;
}

int DeviceManager::PhysDev_SupportsDeferredCompletion(ZT_DWORD physicalId, bool* supported) {
    if (!supported) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    if (!HasPhysicalLocked(physicalId)) {
        return -5;
    }
    *supported = m_deferredSupported.count(physicalId) != 0;
    return 0;
}

int DeviceManager::PhysDev_SetDeferredCompletion(ZT_DWORD physicalId, bool on) {
    std::lock_guard lock(m_mutex);
    if (!HasPhysicalLocked(physicalId)) {
        return -5;
    }
    if (!on) {
        // Commands queued before keep completing in the background.
        m_deferredOn.erase(physicalId);
        return 0;
    }
    if (m_deferredSupported.count(physicalId) == 0) {
        return -9;
    }
    m_deferredOn.insert(physicalId);
    return 0;
}

int DeviceManager::PhysDev_GetDeferredCompletion(ZT_DWORD physicalId, bool* on) {
    if (!on) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    if (!HasPhysicalLocked(physicalId)) {
        return -5;
    }
    *on = m_deferredOn.count(physicalId) != 0;
    return 0;
}

int DeviceManager::PhysDev_WaitForCompletion(ZT_DWORD physicalId, ZT_DWORD timeoutMs) {
    {
        std::lock_guard lock(m_mutex);
        if (!HasPhysicalLocked(physicalId)) {
            return -5;
        }
    }
    return m_deferred.Wait(physicalId, timeoutMs);
}

int DeviceManager::RefusalLocked(const zthost::LogicalDeviceSetup& device,
                                 zthost::DeviceCommand command) {
    const bool refused =
        std::find(device.refused.begin(), device.refused.end(), command) != device.refused.end();
    const bool offLine = m_disconnectedPhysical.count(device.physicalId) != 0;
    return refused || offLine ? -9 : 0;
}

int DeviceManager::Submit(const StateCommand& command, ZT_DWORD* physicalId) {
    bool changed = false;
    {
        std::lock_guard lock(m_mutex);
        zthost::LogicalDeviceSetup* device = FindLocked(command.DeviceId());
        if (!device) {
            return -5;
        }
        if (const int check = command.Check(*device)) {
            return check;
        }
        if (const int refusal = RefusalLocked(*device, command.Kind())) {
            return refusal;
        }
        if (physicalId) {
            *physicalId = device->physicalId;
        }
        if (m_deferredOn.count(device->physicalId) != 0) {
            // Queued under the lock so that the commands complete in the order they came.
            m_deferred.Queue(device->physicalId, command);
            return ZT_DM_PENDING;
        }
        changed = command.Apply(device);
    }
    if (changed && command.Notifies()) {
        NotifyChanged({command.DeviceId()});
    }
    return 0;
}

void DeviceManager::Complete(const StateCommand& command) {
    bool changed = false;
    {
        std::lock_guard lock(m_mutex);
        // The set-up may have changed while the command waited; one that no longer fits is
        // dropped.
        zthost::LogicalDeviceSetup* device = FindLocked(command.DeviceId());
        changed = device && command.Check(*device) == 0 && command.Apply(device);
    }
    if (changed && command.Notifies()) {
        NotifyChanged({command.DeviceId()});
    }
}

void DeviceManager::NotifyChanged(std::vector<ZT_DWORD> ids) {
    if (ids.empty()) {
        return;
    }
    m_events.SendModuleEvent(L"ZT_MODULEEVENT_DEVICE_BEFORE_CHANGED",
                             static_cast<std::intptr_t>(ids.size()), nullptr, ids.data());
}

std::wstring DeviceManager::StateText(ZT_DWORD id) {
    std::lock_guard lock(m_mutex);
    const zthost::LogicalDeviceSetup* device = FindLocked(id);
    if (!device) {
        return {};
    }
    switch (device->type) {
        case ZT_LOGDEV_MULTILASER: {
            std::wstring text;
            for (const zthost::LaserLineSetup& line : device->lines) {
                text += (text.empty() ? L"" : L", ") + std::to_wstring(line.wavelength) +
                        Printf(L" nm %.1f%%", line.power) + (line.used ? L" on" : L" off");
            }
            return text;
        }
        case ZT_LOGDEV_LIGHT:
            if (IsLightWith(*device, zthost::LightControl::Voltage)) {
                return Printf(L"Voltage %.2f", device->value);
            }
            return IsLightWith(*device, zthost::LightControl::Iris)
                       ? Printf(L"Iris %.2f", device->value)
                       : std::wstring();
        case ZT_LOGDEV_LASEROUTPUT:
            return L"Port " + device->positionNames[static_cast<size_t>(device->position)];
        case ZT_LOGDEV_SHUTTER:
            return device->open ? L"Open" : L"Closed";
        default:
            return {};
    }
}

std::vector<zthost::CustomCommandRecord> DeviceManager::CustomCommands() {
    std::lock_guard lock(m_mutex);
    return m_customCommands;
}

void DeviceManager::ClearCustomCommands() {
    std::lock_guard lock(m_mutex);
    m_customCommands.clear();
}

void DeviceManager::SetDeferredCompletionSupported(ZT_DWORD physicalId, bool supported) {
    std::lock_guard lock(m_mutex);
    if (supported) {
        m_deferredSupported.insert(physicalId);
    } else {
        m_deferredSupported.erase(physicalId);
        m_deferredOn.erase(physicalId);
    }
}

void DeviceManager::HoldDeferredCompletion(ZT_DWORD physicalId, bool hold) {
    m_deferred.Hold(physicalId, hold);
}

int DeviceManager::PendingCommandCount(ZT_DWORD physicalId) {
    return m_deferred.PendingCount(physicalId);
}

int DeviceManager::DMApi_IsDeviceListConnected(bool* connected) {
    if (!connected) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    *connected = m_listConnected;
    return 0;
}

void DeviceManager::SetDeviceListConnected(bool connected) {
    std::lock_guard lock(m_mutex);
    m_listConnected = connected;
}

bool DeviceManager::HasPhysicalLocked(ZT_DWORD physicalId) {
    return physicalId != 0 &&
           std::any_of(m_devices.begin(), m_devices.end(),
                       [physicalId](const auto& d) { return d.physicalId == physicalId; });
}

void DeviceManager::SetPhysicalDeviceConnected(ZT_DWORD physicalId, bool connected) {
    std::lock_guard lock(m_mutex);
    if (connected) {
        m_disconnectedPhysical.erase(physicalId);
    } else {
        m_disconnectedPhysical.insert(physicalId);
    }
}

int DeviceManager::RefreshCount() {
    std::lock_guard lock(m_mutex);
    return m_refreshCount;
}

int DeviceManager::Add(const zthost::LogicalDeviceSetup& device) {
    if (!IsValid(device)) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    if (FindLocked(device.id)) {
        return -10;
    }
    m_devices.push_back(device);
    m_present = true;
    return 0;
}

int DeviceManager::Update(const zthost::LogicalDeviceSetup& device) {
    if (!IsValid(device)) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    zthost::LogicalDeviceSetup* found = FindLocked(device.id);
    if (!found) {
        return -5;
    }
    *found = device;
    return 0;
}

int DeviceManager::Remove(ZT_DWORD id) {
    std::lock_guard lock(m_mutex);
    const zthost::LogicalDeviceSetup* found = FindLocked(id);
    if (!found) {
        return -5;
    }
    m_devices.erase(m_devices.begin() + (found - m_devices.data()));
    return 0;
}

bool DeviceManager::Find(ZT_DWORD id, zthost::LogicalDeviceSetup* device) {
    std::lock_guard lock(m_mutex);
    const zthost::LogicalDeviceSetup* found = FindLocked(id);
    if (!found) {
        return false;
    }
    if (device) {
        *device = *found;
    }
    return true;
}

void DeviceManager::SetGalvoXYCount(int count) {
    std::lock_guard lock(m_mutex);
    m_galvoXYCount = std::max(count, 0);
    m_present = true;
}

void DeviceManager::SetPresent(bool present) {
    std::lock_guard lock(m_mutex);
    m_present = present;
}

bool DeviceManager::IsPresent() {
    std::lock_guard lock(m_mutex);
    return m_present;
}

void DeviceManager::Clear() {
    // First, without the lock: the completion thread may be waiting for it.
    m_deferred.Clear();
    std::lock_guard lock(m_mutex);
    m_devices.clear();
    m_galvoXYCount = 0;
    m_disconnectedPhysical.clear();
    m_deferredSupported.clear();
    m_deferredOn.clear();
    m_customCommands.clear();
    m_refreshCount = 0;
    m_present = false;
    m_listConnected = true;
}
