// StimulationDeviceManager: the host's registry of static stimulation devices.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "zt/zt_stimulation.h"

// Thread-safe. Each static device is held with one counted reference; devices are released
// outside the lock, since a device's destructor may call back into the manager.
class StimulationDeviceManager : public IZtStimulationDeviceManager {
public:
    int GetDeviceCount() override;
    int GetDeviceInfo(int index, SZtStimulationDeviceRecord* info) override;
    IZtStimulationDevice* GetStaticDevice(const wchar_t* uniqueName) override;
    int StaticDeviceAdd(const SZtStimulationDeviceRecord& record) override;
    int StaticDeviceRemove(const char* uniqueName) override;
    int Update() override;
    IZtStimulationDevice* GetActive() override;

    // 0, -5 when no device has the name; empty returns to the first device.
    int SetActive(const std::wstring& uniqueName);
    int UpdateCount();
    // Releases every device.
    void Clear();

private:
    std::mutex m_mutex;
    std::vector<SZtStimulationDeviceRecord> m_devices;  // in the order they were added
    std::wstring m_active;
    int m_updates = 0;
};
