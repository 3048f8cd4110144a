// The light path of one stimulation device: its light source, laser switcher and shutter chain.
#pragma once

#include <cstdint>
#include <vector>

#include "cztverovesettings.h"
#include "zt/zt_layout.h"
#include "zt/zt_string.h"
#include "zt/zt_sync.h"

class CZtStimulationDeviceVerove;
class DMApi;

// The record the host's notification callback receives with event 1.
struct SZtVeroveStateRecord {
    ZT_DWORD logicalId = 0;
    ZT_DWORD activePatternId = 0;
    bool triggerAvailable = false;
    bool calibrated = false;
    ZT_DWORD switcherId = 0;
    ZT_DWORD switcherPort = 0;
    ZT_DWORD lightId = 0;
    ZT_DWORD shutterCount = 0;
    const ZT_DWORD* shutterIds = nullptr;  // shutterCount ids; valid during the call only
};

// The host's notification callback: event, the host's context value, the event's record.
using ZT_VEROVE_NOTIFY = void (*)(int event, void* context, const void* record);

// A device the configuration dialog offers for the association.
struct SZtVeroveCandidate {
    ZT_DWORD id = 0;
    CZtStringW key;
};

// Thread-bound to the host's main thread, except the apply and restore operations, the shutter,
// switcher and deferred completion operations, the id getters and UpdateFromDevice, which run on
// the stimulation's work thread and on the thread of a device-change event. m_csPath guards all
// that those threads share with the main thread: the line records, the light id and its control,
// the shutter chain, the switcher id and remembered port, the deferred light, and the stored keys
// and port of the settings record. It is never held while waiting for another thread (shutter
// commands and the deferred wait run without it), so a device event can always take it.
//
// The stored half of the association (keys, switcher port, line records) lives in the device's
// settings record, so that what the user changes is what the settings file keeps; the light path
// adds the logical ids and what it reads from the device manager.
class CZtVeroveLightPath {
public:
    // device and settings are borrowed from the device, which owns the light path.
    CZtVeroveLightPath(CZtStimulationDeviceVerove& device, CZtVeroveSettings& settings);
    // Puts a light control that was taken out of the host layout back.
    ~CZtVeroveLightPath();
    CZtVeroveLightPath(const CZtVeroveLightPath&) = delete;
    CZtVeroveLightPath& operator=(const CZtVeroveLightPath&) = delete;

    // ---- Association ----
    // 0; VeroveStatus::kRefused when id is 0 or names no light or launch (the association is
    // cleared then).
    int AssociateLight(ZT_DWORD id);
    void AssociateShutters(const std::vector<CZtStringW>& keys);
    void SelectSwitcher(ZT_DWORD outputId);
    void SelectSwitcherPort(ZT_DWORD port);
    // Resolves the stored keys to logical ids and reads the light's current values; a launch whose
    // line count differs from the stored records gets fresh records.
    void ResolveAssociation();
    // Takes the host's own control of the associated light out of the host layout, remembering
    // its place; does nothing while one is out already.
    void HideLightControl();
    // Puts the control back at its place when its light's physical device is still connected.
    void RestoreLightControl();
    bool IsLightControlHidden() const { return m_hiddenElement != nullptr; }
    // Rebuilds the lists of devices the configuration dialog offers.
    void RebuildCandidates();
    const std::vector<SZtVeroveCandidate>& GetLaunchCandidates() const {
        return m_launchCandidates;
    }
    const std::vector<SZtVeroveCandidate>& GetLightCandidates() const { return m_lightCandidates; }
    const std::vector<SZtVeroveCandidate>& GetShutterCandidates() const {
        return m_shutterCandidates;
    }
    const std::vector<SZtVeroveCandidate>& GetSwitcherCandidates() const {
        return m_switcherCandidates;
    }

    // ---- Ids ----
    ZT_DWORD GetLightId() const;
    ZT_DWORD GetSwitcherId() const;
    ZT_DWORD GetSwitcherPort() const;
    // The resolved shutters of the chain, in chain order.
    std::vector<ZT_DWORD> GetShutterIds() const;
    // Looks the stored keys up afresh: the light (a launch first), the switcher, the port.
    void GetAssociatedDeviceInfo(ZT_DWORD* lightId, ZT_DWORD* switcherId, ZT_DWORD* port);

    // ---- Lines (group 0-2 stored per stimulation group, 3 the light's current state) ----
    int GetLineCount();
    std::uint32_t GetLineWavelength(int line);
    double GetLinePower(int line, int group);
    bool GetLineVisible(int line);
    bool GetLineUsed(int line, int group);
    void SetLinePower(int line, int group, double power);
    // 0; VeroveStatus::kRefused when nothing was set: no launch, a line or group out of range, or a
    // refusal.
    int SetLineUsed(int line, int group, bool used);
    void SetLineVisible(int line, bool visible);
    // Takes a change the device manager reports for the associated light or launch into the
    // current values of the line records.
    void UpdateFromDevice(ZT_DWORD id, int type);

    // ---- Stimulation: apply a group's settings, restore what was there before ----
    void ApplyLaserPower(int group, std::vector<double>* previous);
    void RestoreLaserPower(const std::vector<double>& powers);
    void ApplyLineUsed(int group, std::vector<bool>* previous);
    void RestoreLineUsed(const std::vector<bool>& states);
    void ApplySwitcher();
    void RevertSwitcher();
    // 0; VeroveStatus::kRefused when a shutter refused.
    int SetShuttersOpen(bool open);
    // True when every resolved shutter of the chain is open (also for an empty chain).
    bool AreShuttersOpen();
    bool DeferredCompletionBegin();
    void DeferredCompletionWait(std::uint32_t timeoutMs);

    // ---- Announcements ----
    void SetNotifyCallback(void* context, ZT_VEROVE_NOTIFY callback);
    void SendStateReport();
    void AnnounceLight();
    void AnnounceSwitcher();

private:
    struct SZtShutter {
        CZtStringW key;
        ZT_DWORD id = 0;  // 0 while no shutter has the key
    };

    static DMApi* DeviceManager();
    bool IsMultiLaser() const;
    bool IsSingleLight() const;
    bool IsLine(int line) const;
    void ClearLight();
    // Voltage or iris value of the single light.
    int ReadLightValue(DMApi* devices, double* value) const;
    int WriteLightValue(DMApi* devices, double value) const;
    void ReadLightControl(DMApi* devices);
    // One fresh record per line of the launch, group values cleared.
    void BuildLaunchLines(DMApi* devices);
    void ReadLaunchLines(DMApi* devices);
    void BuildLightLine(DMApi* devices);
    void ResolveShutters(DMApi* devices);
    void ResolveSwitcher(DMApi* devices);
    // The switcher's id while it still carries the stored key, else 0.
    ZT_DWORD MatchingSwitcher(DMApi* devices) const;
    // Log why a group's values cannot be applied, or a list restored; m_csPath held.
    bool CanApply(const char* function, DMApi* devices, int group) const;
    bool CanRestore(const char* function, DMApi* devices, size_t count) const;
    void SendToLaserOutputs(ZT_DWORD command, const wchar_t* text, ZT_DWORD first, ZT_DWORD second);

    CZtStimulationDeviceVerove& m_device;
    CZtVeroveSettings& m_settings;
    std::vector<SZtVeroveLaserLine>& m_lines;  // the settings record's; m_csPath
    mutable CZtCriticalSection m_csPath;

    // All m_csPath.
    ZT_DWORD m_lightId = 0;
    bool m_voltageControlled = false;  // single light: a voltage, else an iris value
    double m_maximumValue = 0.0;       // single light: the last step's value
    int m_stepCount = 0;
    ZT_DWORD m_switcherId = 0;
    std::int32_t m_rememberedPort = -1;  // the switcher's combination before a stimulation
    std::vector<SZtShutter> m_chain;
    ZT_DWORD m_deferredPhysicalId = 0;  // the light's physical device while in deferred completion

    // The host's control of the light while out of the layout, and where it stood.
    ZT_HGUIELEMENT m_hiddenElement = nullptr;
    CZtStringW m_hiddenLayout;
    int m_hiddenPosition = 0;
    ZT_DWORD m_hiddenPhysicalId = 0;

    std::vector<SZtVeroveCandidate> m_launchCandidates;
    std::vector<SZtVeroveCandidate> m_lightCandidates;
    std::vector<SZtVeroveCandidate> m_shutterCandidates;
    std::vector<SZtVeroveCandidate> m_switcherCandidates;

    void* m_notifyContext = nullptr;
    ZT_VEROVE_NOTIFY m_notifyCallback = nullptr;
};
