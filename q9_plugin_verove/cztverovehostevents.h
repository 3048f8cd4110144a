// The host's events reaching the device: device-manager refreshes, new camera parameters and
// changed devices, and the device changes held back until start-up or an illumination sequence
// is done.
#pragma once

#include <cstdint>
#include <vector>

class CZtStimulationDeviceVerove;

// The immediate handlers run on the thread that sends the event and queue the GUI work through
// the pad wrapper's signals; the delayed handlers run on the GUI thread. The held-back changes are
// the host's main thread's.
class CZtVeroveHostEvents {
public:
    // device is borrowed: it owns the handlers.
    explicit CZtVeroveHostEvents(CZtStimulationDeviceVerove& device) : m_device(device) {}
    CZtVeroveHostEvents(const CZtVeroveHostEvents&) = delete;
    CZtVeroveHostEvents& operator=(const CZtVeroveHostEvents&) = delete;

    int HandleDMRefresh();
    int HandleCameraNewParams(bool selected);
    int HandleDeviceChanged(const std::uint32_t* ids, int count);
    int HandleDMRefreshDelayed();
    int HandleCameraNewParamsDelayed();
    int HandleDeviceChangedDelayed(std::uint32_t id);

    bool IsStartupDone() const { return m_startupDone; }
    // Device changes that arrived before start-up was done, each id once.
    std::vector<std::uint32_t> GetStartupDeviceChanges() const { return m_startupDeviceChanges; }
    // Marks start-up done and handles the changes that waited for it.
    void FinishStartup();
    // An illumination sequence begins: changes arriving now wait for its end.
    void ClearSequenceDeviceChanges() { m_sequenceDeviceChanges.clear(); }
    // The sequence ended: the changes that waited for it are handled now.
    void ReplaySequenceDeviceChanges();

private:
    // Adds the ids not yet in list.
    static void AppendUnique(std::vector<std::uint32_t>* list, const std::uint32_t* ids, int count);

    CZtStimulationDeviceVerove& m_device;
    bool m_startupDone = false;
    std::vector<std::uint32_t> m_startupDeviceChanges;
    std::vector<std::uint32_t> m_sequenceDeviceChanges;
};
