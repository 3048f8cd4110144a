// The light path of one stimulation device: its light source, laser switcher and shutter chain.
#pragma once

#include <cstdint>
#include <vector>

#include "cztverovelightapply.h"
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

// What commands to the light need, copied under the light path's lock so that they are sent
// without it.
struct SZtVeroveLightState {
    ZT_DWORD lightId = 0;
    bool multiLaser = false;
    bool singleLight = false;
    bool voltageControlled = false;  // single light: a voltage, else an iris value
    std::vector<SZtVeroveLaserLine> lines;
    ZT_DWORD switcherId = 0;
    CZtStringW switcherKey;
    ZT_DWORD switcherPort = 0;

    // The single light's voltage or iris value.
    int ReadValue(DMApi* devices, double* value) const;
    int WriteValue(DMApi* devices, double value) const;
};

// A device the configuration dialog offers for the association.
struct SZtVeroveCandidate {
    ZT_DWORD id = 0;
    CZtStringW key;
};

// Thread-bound to the host's main thread, except State, the shutter operations, the id getters
// and UpdateFromDevice, which run on the stimulation's work thread (with CZtVeroveLightApply) and
// on the thread of a device-change event. m_csPath guards all that those threads share with the
// main thread: the line records, the light id and its control, the shutter chain, the switcher
// id, and the stored keys and port of the settings record. It is held around the device manager's
// reads only, which answer at once: every command to a device (line powers and flags, the light's
// value, shutters, switcher, deferred completion, custom commands, layout changes) and every call
// back to the device, its pad or the host's callback is made without it. A command's device-change
// event reaches every unit's light path on the commanding thread, so a unit sharing the light that
// held its lock while commanding would wait for this one while this one waits for it.
//
// The stored half of the association (keys, switcher port, line records) lives in the device's
// settings record, so that what the user changes is what the settings file keeps; the light path
// adds the logical ids and what it reads from the device manager.
class CZtVeroveLightPath {
public:
    static constexpr int kCurrentGroup = 3;  // the line group of the light's current state

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

    // A copy of the light, its lines and the switcher, taken under the lock.
    SZtVeroveLightState State() const;
    // Applying a group's settings around a stimulation and restoring them.
    CZtVeroveLightApply& Apply() { return m_apply; }
    static void LogIfRefused(const char* function, int line, int result);

    // ---- Shutters ----
    // 0; VeroveStatus::kRefused when a shutter refused.
    int SetShuttersOpen(bool open);
    // True when every resolved shutter of the chain is open (also for an empty chain).
    bool AreShuttersOpen();

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
    // Voltage or iris value of the single light; m_csPath held.
    int ReadLightValue(DMApi* devices, double* value) const;
    void ReadLightControl(DMApi* devices);
    // One fresh record per line of the launch, group values cleared.
    void BuildLaunchLines(DMApi* devices);
    void ReadLaunchLines(DMApi* devices);
    void BuildLightLine(DMApi* devices);
    void ResolveShutters(DMApi* devices);
    void ResolveSwitcher(DMApi* devices);
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
    std::vector<SZtShutter> m_chain;

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

    CZtVeroveLightApply m_apply;
};
