// DeviceManager: the host's logical devices (DMApi), configured through zthost/microscope.h.
#pragma once

#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "deferredcompletion.h"
#include "statecommand.h"
#include "zt/zt_devices.h"
#include "zt/zt_module.h"
#include "zthost/microscope.h"

// Thread-safe: the plug-in reads and drives devices from its worker threads while tests
// reconfigure them. Device-change events go out without the lock held.
class DeviceManager : public DMApi {
public:
    // events: where device changes are announced (borrowed; outlives this manager).
    explicit DeviceManager(IZtPluginManager& events);

    int LogDev_GetCount(int* count) override;
    int LogDev_GetId(int index, ZT_DWORD* id) override;
    int LogDev_GetType(ZT_DWORD id, int* type) override;
    int LogDev_GetVisible(ZT_DWORD id, bool* visible) override;
    int LogDev_GetActive(ZT_DWORD id, bool* active) override;
    int LogDev_GetKey(ZT_DWORD id, CZtStringW* key) override;
    int LogDev_HasCapability(ZT_DWORD id, ZT_DWORD capability, bool* has) override;
    int LogDev_GetPhysicalId(ZT_DWORD id, ZT_DWORD* physicalId) override;
    int LogDev_GetIdByKey(int type, const wchar_t* key, ZT_DWORD* id) override;
    int LogDev_SendCustomCommand(ZT_DWORD id, ZT_DWORD command, bool simulated, const wchar_t* text,
                                 ZT_DWORD first, ZT_DWORD second) override;
    int Nosepiece_GetPosition(ZT_DWORD id, int* position) override;
    int Nosepiece_GetObjectiveCode(ZT_DWORD id, int position, CZtStringW* code) override;
    int FilterChanger_GetPosition(ZT_DWORD id, int* position) override;
    int FilterChanger_GetKey(ZT_DWORD id, CZtStringW* key) override;
    int FilterChanger_GetFilterName(ZT_DWORD id, int position, CZtStringW* name) override;
    int Light_GetKey(ZT_DWORD id, CZtStringW* key) override;
    int Light_IsVoltageControlled(ZT_DWORD id, bool* voltage) override;
    int Light_IsIrisControlled(ZT_DWORD id, bool* iris) override;
    int Light_GetVoltage(ZT_DWORD id, double* voltage) override;
    int Light_SetVoltage(ZT_DWORD id, double voltage) override;
    int Light_GetIris(ZT_DWORD id, double* iris) override;
    int Light_SetIris(ZT_DWORD id, double iris) override;
    int Light_GetRange(ZT_DWORD id, double* minimum, double* maximum) override;
    int Light_GetStepCount(ZT_DWORD id, int* count) override;
    int Light_GetStepValue(ZT_DWORD id, int step, double* value) override;
    int Microscope_GetKey(ZT_DWORD id, CZtStringW* key) override;
    int MultiLaser_GetKey(ZT_DWORD id, CZtStringW* key) override;
    int MultiLaser_GetLineCount(ZT_DWORD id, int* count) override;
    int MultiLaser_GetLineUsed(ZT_DWORD id, int line, bool* used) override;
    int MultiLaser_SetLineUsed(ZT_DWORD id, int line, bool used) override;
    int MultiLaser_GetLinePower(ZT_DWORD id, int line, double* power) override;
    int MultiLaser_SetLinePower(ZT_DWORD id, int line, double power) override;
    int MultiLaser_GetLineWavelength(ZT_DWORD id, int line, ZT_DWORD* nanometres) override;
    int LaserOutput_GetKey(ZT_DWORD id, CZtStringW* key) override;
    int LaserOutput_GetPortCombinationCount(ZT_DWORD id, int* count) override;
    int LaserOutput_GetPortCombinationName(ZT_DWORD id, int index, CZtStringW* name) override;
    int LaserOutput_GetPortCombination(ZT_DWORD id, int* index) override;
    int LaserOutput_SetPortCombination(ZT_DWORD id, int index) override;
    int Shutter_GetKey(ZT_DWORD id, CZtStringW* key) override;
    int Shutter_GetState(ZT_DWORD id, bool* open) override;
    int Shutter_SetState(ZT_DWORD id, bool open, ZT_DWORD waitMs, bool notify) override;
    int Zoom_GetManual(ZT_DWORD id, bool* manual) override;
    int Zoom_GetZoom(ZT_DWORD id, double* zoom) override;
    int DMApi_GalvoXY_GetCount(int* count) override;
    int PhysDev_IsConnected(ZT_DWORD physicalId, bool* connected) override;
    int PhysDev_Disconnect(ZT_DWORD physicalId) override;
    int PhysDev_SupportsDeferredCompletion(ZT_DWORD physicalId, bool* supported) override;
    int PhysDev_SetDeferredCompletion(ZT_DWORD physicalId, bool on) override;
    int PhysDev_GetDeferredCompletion(ZT_DWORD physicalId, bool* on) override;
    int PhysDev_WaitForCompletion(ZT_DWORD physicalId, ZT_DWORD timeoutMs) override;
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
    std::wstring StateText(ZT_DWORD id);
    void NotifyChanged(std::vector<ZT_DWORD> ids);
    std::vector<zthost::CustomCommandRecord> CustomCommands();
    void ClearCustomCommands();
    void SetDeferredCompletionSupported(ZT_DWORD physicalId, bool supported);
    void HoldDeferredCompletion(ZT_DWORD physicalId, bool hold);
    int PendingCommandCount(ZT_DWORD physicalId);
    // Forgets every device, the galvo count, the physical devices' states, the refresh count, the
    // custom commands and the pending commands, and connects the device list again; the host then
    // has no device manager.
    void Clear();

private:
    zthost::LogicalDeviceSetup* FindLocked(ZT_DWORD id);
    bool HasPhysicalLocked(ZT_DWORD physicalId);
    // Runs read on the device with the id when it has the type (any type when type is 0), under
    // the lock: its status, or -4 for a null out, -5 for no such id, -6 for another type.
    template <typename Out, typename Read>
    int Query(ZT_DWORD id, int type, Out* out, Read read);
    // Query that copies one field of the device into out.
    template <typename Out, typename Field>
    int QueryField(ZT_DWORD id, int type, Out* out, Field zthost::LogicalDeviceSetup::*field);
    // Checks the command and applies it now (0) or queues it (ZT_DM_PENDING) when the device's
    // physical device is in deferred completion; announces an applied change.
    int Submit(const StateCommand& command, ZT_DWORD* physicalId = nullptr);
    // The completion of a queued command, on the completion thread.
    void Complete(const StateCommand& command);
    // -9 when the device refuses the command or its physical device is off line.
    int RefusalLocked(const zthost::LogicalDeviceSetup& device, zthost::DeviceCommand command);

    IZtPluginManager& m_events;
    std::mutex m_mutex;
    // All guarded by m_mutex.
    std::vector<zthost::LogicalDeviceSetup> m_devices;  // in the order they were added
    int m_galvoXYCount = 0;
    std::set<ZT_DWORD> m_disconnectedPhysical;
    std::set<ZT_DWORD> m_deferredSupported;
    std::set<ZT_DWORD> m_deferredOn;
    std::vector<zthost::CustomCommandRecord> m_customCommands;
    int m_refreshCount = 0;
    bool m_present = false;
    bool m_listConnected = true;
    // Last: its thread stops before the members it completes commands on go.
    DeferredCompletion m_deferred;
};
