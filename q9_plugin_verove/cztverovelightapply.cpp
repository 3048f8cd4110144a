// Applying a stimulation group's light settings around a stimulation, and restoring them.
#include "cztverovelightapply.h"

#include "cztstimulationdeviceverove.h"
#include "cztverovelightpath.h"
#include "verove_log.h"
#include "zt/zt_devices.h"

namespace {

constexpr int kCurrent = CZtVeroveLightPath::kCurrentGroup;

bool IsStimulationGroup(int group) {
    return group >= 0 && group < kCurrent;
}

}  // namespace

CZtVeroveLightApply::CZtVeroveLightApply(CZtStimulationDeviceVerove& device,
                                         const CZtVeroveLightPath& path)
    : m_device(device), m_path(path) {}

bool CZtVeroveLightApply::CanApply(const char* function, DMApi* devices,
                                   const SZtVeroveLightState& light, int group) {
    if (light.lightId == 0 || !devices || light.lines.empty()) {
        VEROVE_LOG(function, L"End - fail, no laser launch");
        return false;
    }
    if (!IsStimulationGroup(group)) {
        VEROVE_LOG(function, L"End - fail, no stimulation group %d", group);
        return false;
    }
    return true;
}

bool CZtVeroveLightApply::CanRestore(const char* function, DMApi* devices,
                                     const SZtVeroveLightState& light, size_t count) {
    if (light.lightId == 0 || !devices) {
        VEROVE_LOG(function, L"End - fail, no Laser Launch");
        return false;
    }
    if (count != light.lines.size()) {
        VEROVE_LOG(function, L"End - Invalid multilaser line count, left = %u, right = %zu",
                   static_cast<unsigned>(light.lines.size()), count);
        return false;
    }
    return true;
}

void CZtVeroveLightApply::ApplyLaserPower(int group, std::vector<double>* previous) {
    const char* function = "CZtStimulationDeviceVerove::SettingsApply_LaserPower";
    VEROVE_LOG(function, L"Start");
    DMApi* devices = m_device.DeviceManager();
    const SZtVeroveLightState light = m_path.State();
    if (!CanApply(function, devices, light, group)) {
        return;
    }
    const ZT_DWORD id = light.lightId;
    if (light.singleLight) {
        double value = light.lines[0].power[kCurrent];
        light.ReadValue(devices, &value);
        if (previous) {
            previous->push_back(value);
        }
        CZtVeroveLightPath::LogIfRefused(function, 0,
                                         light.WriteValue(devices, light.lines[0].power[group]));
        VEROVE_LOG(function, L"End - OK");
        return;
    }
    for (size_t i = 0; i < light.lines.size() && previous; ++i) {
        double power = light.lines[i].power[kCurrent];
        devices->MultiLaser_GetLinePower(id, static_cast<int>(i), &power);
        previous->push_back(power);
    }
    for (size_t i = 0; i < light.lines.size(); ++i) {
        const int line = static_cast<int>(i);
        const double power = light.lines[i].power[group];
        VEROVE_LOG(function, L"Applying Line power - Stim Group = %d, Line = %d, dPower = %.2f",
                   group, line, power);
        const int result = devices->MultiLaser_SetLinePower(id, line, power);
        CZtVeroveLightPath::LogIfRefused(function, line, result);
    }
    VEROVE_LOG(function, L"End - OK");
}

void CZtVeroveLightApply::RestoreLaserPower(const std::vector<double>& powers) {
    const char* function = "CZtStimulationDeviceVerove::SettingsApply_LaserPower";
    CZtStringW list(L"Applying following line powers -");
    for (double power : powers) {
        list.AppendFormat(L" %.2f,", power);
    }
    VEROVE_LOG(function, L"%s", list.GetString());
    DMApi* devices = m_device.DeviceManager();
    const SZtVeroveLightState light = m_path.State();
    if (!CanRestore(function, devices, light, powers.size())) {
        return;
    }
    for (size_t i = 0; i < powers.size(); ++i) {
        const int line = static_cast<int>(i);
        const int result = light.singleLight
                               ? light.WriteValue(devices, powers[i])
                               : devices->MultiLaser_SetLinePower(light.lightId, line, powers[i]);
        CZtVeroveLightPath::LogIfRefused(function, line, result);
    }
    VEROVE_LOG(function, L"End - OK");
}

void CZtVeroveLightApply::ApplyLineUsed(int group, std::vector<bool>* previous) {
    const char* function = "CZtStimulationDeviceVerove::SettingsApply_LineUsed";
    VEROVE_LOG(function, L"Start");
    DMApi* devices = m_device.DeviceManager();
    const SZtVeroveLightState light = m_path.State();
    if (!CanApply(function, devices, light, group)) {
        return;
    }
    // A single light has no line to switch: it is always used.
    if (light.singleLight) {
        if (previous) {
            previous->push_back(true);
        }
        VEROVE_LOG(function, L"End - OK");
        return;
    }
    for (size_t i = 0; i < light.lines.size() && previous; ++i) {
        bool used = light.lines[i].used[kCurrent];
        devices->MultiLaser_GetLineUsed(light.lightId, static_cast<int>(i), &used);
        previous->push_back(used);
    }
    for (size_t i = 0; i < light.lines.size(); ++i) {
        const int line = static_cast<int>(i);
        const bool used = light.lines[i].used[group];
        VEROVE_LOG(function, L"Applying Line power - Stim Group = %d, Line = %d, bUsed = %d", group,
                   line, used ? 1 : 0);
        const int result = devices->MultiLaser_SetLineUsed(light.lightId, line, used);
        CZtVeroveLightPath::LogIfRefused(function, line, result);
    }
    VEROVE_LOG(function, L"End - OK");
}

void CZtVeroveLightApply::RestoreLineUsed(const std::vector<bool>& states) {
    const char* function = "CZtStimulationDeviceVerove::SettingsApply_LineUsed";
    CZtStringW list(L"Applying line states -");
    for (bool used : states) {
        list.AppendFormat(L" %d,", used ? 1 : 0);
    }
    VEROVE_LOG(function, L"%s", list.GetString());
    DMApi* devices = m_device.DeviceManager();
    const SZtVeroveLightState light = m_path.State();
    if (!CanRestore(function, devices, light, states.size())) {
        return;
    }
    for (size_t i = 0; i < states.size() && light.multiLaser; ++i) {
        const int line = static_cast<int>(i);
        const int result = devices->MultiLaser_SetLineUsed(light.lightId, line, states[i]);
        CZtVeroveLightPath::LogIfRefused(function, line, result);
    }
    VEROVE_LOG(function, L"End - OK");
}

ZT_DWORD CZtVeroveLightApply::MatchingSwitcher(DMApi* devices, const SZtVeroveLightState& light) {
    CZtStringW key;
    return devices && light.switcherId != 0 &&
                   devices->LogDev_GetKey(light.switcherId, &key) == 0 && key == light.switcherKey
               ? light.switcherId
               : 0;
}

void CZtVeroveLightApply::ApplySwitcher() {
    const char* function = "CZtStimulationDeviceVerove::SettingsApply_Switcher";
    VEROVE_LOG(function, L"Start");
    DMApi* devices = m_device.DeviceManager();
    const SZtVeroveLightState light = m_path.State();
    const ZT_DWORD switcher = MatchingSwitcher(devices, light);
    if (switcher == 0) {
        VEROVE_LOG(function, L"End - fail");
        return;
    }
    int current = -1;
    if (devices->LaserOutput_GetPortCombination(switcher, &current) != 0) {
        current = -1;
    }
    m_rememberedPort.store(current);
    const int result =
        devices->LaserOutput_SetPortCombination(switcher, static_cast<int>(light.switcherPort));
    VEROVE_LOG(function, L"End - res = %d", result < 0 ? 1 : 0);
}

void CZtVeroveLightApply::RevertSwitcher() {
    const char* function = "CZtStimulationDeviceVerove::SettingsRevert_Switcher";
    VEROVE_LOG(function, L"Start");
    DMApi* devices = m_device.DeviceManager();
    const ZT_DWORD switcher = MatchingSwitcher(devices, m_path.State());
    const int remembered = switcher != 0 ? m_rememberedPort.exchange(-1) : -1;
    if (remembered < 0) {
        VEROVE_LOG(function, L"End - fail");
        return;
    }
    const int result = devices->LaserOutput_SetPortCombination(switcher, remembered);
    VEROVE_LOG(function, L"End - bResult = %d", result < 0 ? 0 : 1);
}

bool CZtVeroveLightApply::DeferredCompletionBegin() {
    DMApi* devices = m_device.DeviceManager();
    const ZT_DWORD lightId = m_path.GetLightId();
    ZT_DWORD physicalId = 0;
    bool supported = false;
    if (lightId == 0 || !devices || devices->LogDev_GetPhysicalId(lightId, &physicalId) != 0 ||
        devices->PhysDev_SupportsDeferredCompletion(physicalId, &supported) != 0 || !supported ||
        devices->PhysDev_SetDeferredCompletion(physicalId, true) != 0) {
        return false;
    }
    m_deferredPhysicalId.store(physicalId);
    return true;
}

void CZtVeroveLightApply::DeferredCompletionWait(std::uint32_t timeoutMs) {
    DMApi* devices = m_device.DeviceManager();
    const ZT_DWORD physicalId = m_deferredPhysicalId.exchange(0);
    if (physicalId == 0 || !devices) {
        return;
    }
    const int result = devices->PhysDev_WaitForCompletion(physicalId, timeoutMs);
    if (result != 0) {
        VEROVE_LOG("CZtStimulationDeviceVerove::LightDeferredCompletionWait",
                   L"Light not done after %u ms, result %d", timeoutMs, result);
    }
    devices->PhysDev_SetDeferredCompletion(physicalId, false);
}
