// The device manager: logical devices by id, in the order the microscope set-up added them.
#include "devicemanager.h"

#include <algorithm>

namespace {

// A nosepiece or filter changer must stand at one of its positions.
bool IsValid(const zthost::LogicalDeviceSetup& device) {
    if (device.id == 0) {
        return false;
    }
    if (device.type == ZT_LOGDEV_NOSEPIECE || device.type == ZT_LOGDEV_FILTERCHANGER) {
        return device.position >= 0 &&
               device.position < static_cast<int>(device.positionNames.size());
    }
    return true;
}

int ReadName(const std::vector<std::wstring>& names, int position, CZtStringW* out) {
    if (position < 0 || position >= static_cast<int>(names.size())) {
        return -7;
    }
    *out = CZtStringW(names[static_cast<size_t>(position)]);
    return 0;
}

}  // namespace

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
    return Query(id, 0, type, [](const auto& d, int* out) {
        *out = d.type;
        return 0;
    });
}

int DeviceManager::LogDev_GetVisible(ZT_DWORD id, bool* visible) {
    return Query(id, 0, visible, [](const auto& d, bool* out) {
        *out = d.visible;
        return 0;
    });
}

int DeviceManager::LogDev_GetActive(ZT_DWORD id, bool* active) {
    return Query(id, 0, active, [](const auto& d, bool* out) {
        *out = d.active;
        return 0;
    });
}

int DeviceManager::LogDev_GetKey(ZT_DWORD id, CZtStringW* key) {
    return Query(id, 0, key, [](const auto& d, CZtStringW* out) {
        *out = d.key;
        return 0;
    });
}

int DeviceManager::LogDev_HasCapability(ZT_DWORD id, ZT_DWORD capability, bool* has) {
    return Query(id, 0, has, [capability](const auto& d, bool* out) {
        const auto& caps = d.capabilities;
        *out = std::find(caps.begin(), caps.end(), capability) != caps.end();
        return 0;
    });
}

int DeviceManager::LogDev_GetPhysicalId(ZT_DWORD id, ZT_DWORD* physicalId) {
    return Query(id, 0, physicalId, [](const auto& d, ZT_DWORD* out) {
        *out = d.physicalId;
        return 0;
    });
}

int DeviceManager::Nosepiece_GetPosition(ZT_DWORD id, int* position) {
    return Query(id, ZT_LOGDEV_NOSEPIECE, position, [](const auto& d, int* out) {
        *out = d.position;
        return 0;
    });
}

int DeviceManager::Nosepiece_GetObjectiveCode(ZT_DWORD id, int position, CZtStringW* code) {
    return Query(id, ZT_LOGDEV_NOSEPIECE, code, [position](const auto& d, CZtStringW* out) {
        return ReadName(d.positionNames, position, out);
    });
}

int DeviceManager::FilterChanger_GetPosition(ZT_DWORD id, int* position) {
    return Query(id, ZT_LOGDEV_FILTERCHANGER, position, [](const auto& d, int* out) {
        *out = d.position;
        return 0;
    });
}

int DeviceManager::FilterChanger_GetKey(ZT_DWORD id, CZtStringW* key) {
    return Query(id, ZT_LOGDEV_FILTERCHANGER, key, [](const auto& d, CZtStringW* out) {
        *out = d.key;
        return 0;
    });
}

int DeviceManager::FilterChanger_GetFilterName(ZT_DWORD id, int position, CZtStringW* name) {
    return Query(id, ZT_LOGDEV_FILTERCHANGER, name, [position](const auto& d, CZtStringW* out) {
        return ReadName(d.positionNames, position, out);
    });
}

int DeviceManager::Light_GetKey(ZT_DWORD id, CZtStringW* key) {
    return Query(id, ZT_LOGDEV_LIGHT, key, [](const auto& d, CZtStringW* out) {
        *out = d.key;
        return 0;
    });
}

int DeviceManager::Microscope_GetKey(ZT_DWORD id, CZtStringW* key) {
    return Query(id, ZT_LOGDEV_MICROSCOPE, key, [](const auto& d, CZtStringW* out) {
        *out = d.key;
        return 0;
    });
}

int DeviceManager::MultiLaser_GetKey(ZT_DWORD id, CZtStringW* key) {
    return Query(id, ZT_LOGDEV_MULTILASER, key, [](const auto& d, CZtStringW* out) {
        *out = d.key;
        return 0;
    });
}

int DeviceManager::MultiLaser_GetLineCount(ZT_DWORD id, int* count) {
    return Query(id, ZT_LOGDEV_MULTILASER, count, [](const auto& d, int* out) {
        *out = static_cast<int>(d.linesUsed.size());
        return 0;
    });
}

int DeviceManager::MultiLaser_GetLineUsed(ZT_DWORD id, int line, bool* used) {
    return Query(id, ZT_LOGDEV_MULTILASER, used, [line](const auto& d, bool* out) {
        if (line < 0 || line >= static_cast<int>(d.linesUsed.size())) {
            return -7;
        }
        *out = d.linesUsed[static_cast<size_t>(line)];
        return 0;
    });
}

int DeviceManager::Zoom_GetManual(ZT_DWORD id, bool* manual) {
    return Query(id, ZT_LOGDEV_ZOOM, manual, [](const auto& d, bool* out) {
        *out = d.manualZoom;
        return 0;
    });
}

int DeviceManager::Zoom_GetZoom(ZT_DWORD id, double* zoom) {
    return Query(id, ZT_LOGDEV_ZOOM, zoom, [](const auto& d, double* out) {
        *out = d.zoom;
        return 0;
    });
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

// The simulated devices hold no state of their own to re-read: a refresh is only counted.
int DeviceManager::DMApi_Refresh() {
    std::lock_guard lock(m_mutex);
    ++m_refreshCount;
    return 0;
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
    const auto it = std::find_if(m_devices.begin(), m_devices.end(),
                                 [id](const zthost::LogicalDeviceSetup& d) { return d.id == id; });
    if (it == m_devices.end()) {
        return -5;
    }
    m_devices.erase(it);
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
    std::lock_guard lock(m_mutex);
    m_devices.clear();
    m_galvoXYCount = 0;
    m_disconnectedPhysical.clear();
    m_refreshCount = 0;
    m_present = false;
    m_listConnected = true;
}
