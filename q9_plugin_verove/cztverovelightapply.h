// Applying a stimulation group's light settings around a stimulation, and restoring them.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "zt/zt_string.h"

class CZtStimulationDeviceVerove;
class CZtVeroveLightPath;
class DMApi;
struct SZtVeroveLightState;

// Thread-safe: runs on the stimulation's work thread while the main thread changes the
// association. It works on a copy of the light path's state (CZtVeroveLightPath::State) and
// sends every command without any lock held: a command's device-change event reaches the light
// paths of all units on this thread, and a unit sharing the light may be commanding it at the
// same moment on another.
class CZtVeroveLightApply {
public:
    // Both borrowed from the device, which owns the light path, which owns this.
    CZtVeroveLightApply(CZtStimulationDeviceVerove& device, const CZtVeroveLightPath& path);
    CZtVeroveLightApply(const CZtVeroveLightApply&) = delete;
    CZtVeroveLightApply& operator=(const CZtVeroveLightApply&) = delete;

    // Sets the group's (0-2) values line by line; previous receives what the light had.
    void ApplyLaserPower(int group, std::vector<double>* previous);
    void RestoreLaserPower(const std::vector<double>& powers);
    void ApplyLineUsed(int group, std::vector<bool>* previous);
    void RestoreLineUsed(const std::vector<bool>& states);
    // Sets the stored port, remembering the switcher's combination; the revert sets it back once.
    void ApplySwitcher();
    void RevertSwitcher();
    // A switcher selected anew has nothing to revert to.
    void ForgetSwitcherPort() { m_rememberedPort.store(-1); }
    bool DeferredCompletionBegin();
    void DeferredCompletionWait(std::uint32_t timeoutMs);

private:
    // Log why a group's values cannot be applied, or a list restored.
    static bool CanApply(const char* function, DMApi* devices, const SZtVeroveLightState& light,
                         int group);
    static bool CanRestore(const char* function, DMApi* devices, const SZtVeroveLightState& light,
                           size_t count);
    // The switcher's id while it still carries the stored key, else 0.
    static ZT_DWORD MatchingSwitcher(DMApi* devices, const SZtVeroveLightState& light);

    CZtStimulationDeviceVerove& m_device;
    const CZtVeroveLightPath& m_path;
    std::atomic<std::int32_t> m_rememberedPort{-1};  // the switcher's combination before
    std::atomic<ZT_DWORD> m_deferredPhysicalId{0};   // the light's physical device meanwhile
};
