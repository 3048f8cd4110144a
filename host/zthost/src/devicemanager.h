// DeviceManager: the host's logical devices (DMApi), configured through zthost/microscope.h.
#pragma once

#include <mutex>
#include <set>
#include <vector>

#include "zt/zt_devices.h"
#include "zthost/microscope.h"

// Thread-safe: the plug-in reads devices from its worker threads while tests reconfigure them.
class DeviceManager : public DMApi {
public:
    int LogDev_GetCount(int* count) override;
    int LogDev_GetId(int index, ZT_DWORD* id) override;
    int LogDev_GetType(ZT_DWORD id, int* type) override;
    int LogDev_GetVisible(ZT_DWORD id, bool* visible) override;
    int LogDev_GetActive(ZT_DWORD id, bool* active) override;
    int LogDev_GetKey(ZT_DWORD id, CZtStringW* key) override;
    int LogDev_HasCapability(ZT_DWORD id, ZT_DWORD capability, bool* has) override;
    int LogDev_GetPhysicalId(ZT_DWORD id, ZT_DWORD* physicalId) override;
    int Nosepiece_GetPosition(ZT_DWORD id, int* position) override;
    int Nosepiece_GetObjectiveCode(ZT_DWORD id, int position, CZtStringW* code) override;
    int FilterChanger_GetPosition(ZT_DWORD id, int* position) override;
    int FilterChanger_GetKey(ZT_DWORD id, CZtStringW* key) override;
    int FilterChanger_GetFilterName(ZT_DWORD id, int position, CZtStringW* name) override;
    int Light_GetKey(ZT_DWORD id, CZtStringW* key) override;
    int Microscope_GetKey(ZT_DWORD id, CZtStringW* key) override;
    int MultiLaser_GetKey(ZT_DWORD id, CZtStringW* key) override;
    int MultiLaser_GetLineCount(ZT_DWORD id, int* count) override;
    int MultiLaser_GetLineUsed(ZT_DWORD id, int line, bool* used) override;
    int Zoom_GetManual(ZT_DWORD id, bool* manual) override;
    int Zoom_GetZoom(ZT_DWORD id, double* zoom) override;
    int DMApi_GalvoXY_GetCount(int* count) override;
    int PhysDev_IsConnected(ZT_DWORD physicalId, bool* connected) override;
    int PhysDev_Disconnect(ZT_DWORD physicalId) override;
    int DMApi_Refresh() override;
    int DMApi_IsDeviceListConnected(bool* connected) override;

    // The control side (zthost/microscope.h).
    int Add(const zthost::LogicalDeviceSetup& device);
    int Update(const zthost::LogicalDeviceSetup& device);
    int Remove(ZT_DWORD id);
    bool Find(ZT_DWORD id, zthost::LogicalDeviceSetup* device);
    void SetGalvoXYCount(int count);
    void SetPresent(bool present);
    void SetPhysicalDeviceConnected(ZT_DWORD physicalId, bool connected);
    void SetDeviceListConnected(bool connected);
    int RefreshCount();
    bool IsPresent();
    // Forgets every device, the galvo count, the disconnected physical devices and the refresh
    // count, and connects the device list again; the host then has no device manager.
    void Clear();

private:
    zthost::LogicalDeviceSetup* FindLocked(ZT_DWORD id);
    bool HasPhysicalLocked(ZT_DWORD physicalId);
    // Runs read on the device with the id when it has the type (any type when type is 0), under
    // the lock: its status, or -4 for a null out, -5 for no such id, -6 for another type.
    template <typename Out, typename Read>
    int Query(ZT_DWORD id, int type, Out* out, Read read);

    std::mutex m_mutex;
    std::vector<zthost::LogicalDeviceSetup> m_devices;  // in the order they were added
    int m_galvoXYCount = 0;
    std::set<ZT_DWORD> m_disconnectedPhysical;
    int m_refreshCount = 0;
    bool m_present = false;
    bool m_listConnected = true;
};
