// The stimulation-device manager: static devices by unique name, each holding one reference.
#include "stimulationdevicemanager.h"

#include <algorithm>

#include "zt/zt_log.h"

namespace {

auto NameIs(const std::wstring& name) {
    return [&name](const SZtStimulationDeviceRecord& r) { return r.uniqueName.Str() == name; };
}

}  // namespace

int StimulationDeviceManager::GetDeviceCount() {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_devices.size());
}

int StimulationDeviceManager::GetDeviceInfo(int index, SZtStimulationDeviceRecord* info) {
    if (!info) {
        return -4;
    }
    std::lock_guard lock(m_mutex);
    if (index < 0 || index >= static_cast<int>(m_devices.size())) {
        return -5;
    }
    *info = m_devices[static_cast<size_t>(index)];
    return 0;
}

IZtStimulationDevice* StimulationDeviceManager::GetStaticDevice(const wchar_t* uniqueName) {
    if (!uniqueName) {
        return nullptr;
    }
    std::lock_guard lock(m_mutex);
    const auto it = std::find_if(m_devices.begin(), m_devices.end(), NameIs(uniqueName));
    return it == m_devices.end() ? nullptr : it->device;
}

int StimulationDeviceManager::StaticDeviceAdd(const SZtStimulationDeviceRecord& record) {
    if (!record.device || record.uniqueName.IsEmpty()) {
        ZT_DIAG_OUTPUT(L"zthost %hs: refused: null device or empty name",
                       "StimulationDeviceManager::StaticDeviceAdd");
        return -4;
    }
    std::lock_guard lock(m_mutex);
    if (std::any_of(m_devices.begin(), m_devices.end(), NameIs(record.uniqueName.Str()))) {
        ZT_DIAG_OUTPUT(L"zthost %hs: refused: a device named \"%s\" exists",
                       "StimulationDeviceManager::StaticDeviceAdd", record.uniqueName.GetString());
        return -10;
    }
    record.device->AddRef();
    m_devices.push_back(record);
    if (m_devices.back().typeName.IsEmpty()) {
        m_devices.back().typeName = L"Unknown";
    }
    return 0;
}

int StimulationDeviceManager::StaticDeviceRemove(const char* uniqueName) {
    if (!uniqueName) {
        ZT_DIAG_OUTPUT(L"zthost %hs: refused: null name",
                       "StimulationDeviceManager::StaticDeviceRemove");
        return -4;
    }
    const std::wstring name = CZtStringW::FromUtf8(uniqueName).Str();
    IZtStimulationDevice* device = nullptr;
    {
        std::lock_guard lock(m_mutex);
        const auto it = std::find_if(m_devices.begin(), m_devices.end(), NameIs(name));
        if (it == m_devices.end()) {
            ZT_DIAG_OUTPUT(L"zthost %hs: no device named \"%hs\"",
                           "StimulationDeviceManager::StaticDeviceRemove", uniqueName);
            return -5;
        }
        device = it->device;
        m_devices.erase(it);
        if (m_active == name) {
            m_active.clear();
        }
    }
    device->Release();
    return 0;
}

int StimulationDeviceManager::Update() {
    std::lock_guard lock(m_mutex);
    ++m_updates;
    return 0;
}

IZtStimulationDevice* StimulationDeviceManager::GetActive() {
    std::lock_guard lock(m_mutex);
    const auto it = std::find_if(m_devices.begin(), m_devices.end(), NameIs(m_active));
    if (it != m_devices.end()) {
        return it->device;
    }
    return m_devices.empty() ? nullptr : m_devices.front().device;
}

int StimulationDeviceManager::SetActive(const std::wstring& uniqueName) {
    std::lock_guard lock(m_mutex);
    if (!uniqueName.empty() &&
        std::none_of(m_devices.begin(), m_devices.end(), NameIs(uniqueName))) {
        return -5;
    }
    m_active = uniqueName;
    return 0;
}

int StimulationDeviceManager::UpdateCount() {
    std::lock_guard lock(m_mutex);
    return m_updates;
}

void StimulationDeviceManager::Clear() {
    std::vector<SZtStimulationDeviceRecord> devices;
    {
        std::lock_guard lock(m_mutex);
        devices.swap(m_devices);
        m_active.clear();
        m_updates = 0;
    }
    for (const auto& record : devices) {
        record.device->Release();
    }
}
