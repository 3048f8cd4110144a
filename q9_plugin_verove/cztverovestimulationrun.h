// One stimulation of the device from its begin to its end, the manual shot the pad starts through
// the host, and the stimulation phases of a validated ND experiment.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "zt/zt_stimulation.h"
#include "zt/zt_string.h"
#include "zt/zt_sync.h"

class CZtStimulationDeviceVerove;
struct SZtExperiment;

// One stimulation phase of a validated ND experiment, 24 bytes: its groups (bit g for group g) and
// its duration; the device steps through them with a cursor.
struct SZtFiredStimulation {
    std::uint64_t groupMask = 0;
    double durationMs = 0.0;
    std::int32_t phase = 0;  // the phase's place in the experiment
    std::int32_t reserved = 0;
};

// StimulationBegin, StimulationEnd and StimulationAbort run on host work threads, the rest on the
// host's main thread. The run holds the device's run lock from a begin until the light path is
// switched, and an end holds it while it puts the light path back; the run mode and the flags are
// atomics read without it.
class CZtVeroveStimulationRun {
public:
    // device is borrowed: it owns the run.
    explicit CZtVeroveStimulationRun(CZtStimulationDeviceVerove& device) : m_device(device) {}
    CZtVeroveStimulationRun(const CZtVeroveStimulationRun&) = delete;
    CZtVeroveStimulationRun& operator=(const CZtVeroveStimulationRun&) = delete;

    int StimulationBegin(const SZtStimulationRequest* request);
    int StimulationEnd(double* startTimes, double* endTimes, int count);
    int StimulationFire(double* startTime, double* endTime);
    int StimulationAbort();
    int StimulationValidate(const SZtExperiment* experiment, CZtStringW* error);
    // The user text of the last stimulation that could not begin (empty until one failed).
    CZtStringW GetLastStimulationError();
    // The group (0-2) a group mask names, the lowest of its bits 0-2, and that bit. 0; -4 for an
    // empty mask; the outputs stay untouched when none of the three bits is set.
    static int GetGroupToStimulate(std::uint64_t mask, std::uint32_t* group, std::uint64_t* bit);

    // phase 0 at the start of an ND experiment, 1 at its end.
    int OnNDExperiment(std::int32_t phase);
    int OnPluginNDSequence_Validate(const void* actions);
    std::int32_t GetExperimentState() const { return m_experimentState; }

    void ManualShotBegin(std::int32_t parameter, double duration);
    bool IsManualShotActive() const { return m_manualShotActive; }
    bool IsManualShotInfinite() const { return m_manualShotInfinite; }
    void ManualShotEnd();
    // Stops a running manual shot through the host's command interpreter.
    void StopShutterAndStimulation();
    // Starts the stopped manual shot again with its parameter and duration (a new bit depth).
    void RestartManualShot();
    // Ends a running manual shot through the macro layer and records the line in the protocol.
    void EndManualShotThroughMacro();
    // A stimulation has switched the light path and not yet put it back.
    bool IsRunning() const { return m_running; }

private:
    // A manual shot ended: clears it and the running flags; tellPad refreshes the pad.
    void FinishManualShot(bool tellPad);
    // Sends ManualShot's stop for a running manual shot; record also writes it to the protocol.
    void StopThroughMacro(bool record);

    CZtStimulationDeviceVerove& m_device;
    // Hand control between the host's main thread and its work thread during a stimulation.
    CZtEvent m_freezeEvent{false, false};
    CZtEvent m_releaseEvent{false, false};

    std::atomic<std::int32_t> m_experimentState{1};
    std::int32_t m_expectedPhases = 0;
    // The stimulation phases of a validated ND experiment and the one the next stimulation fires;
    // the device's run lock.
    std::vector<SZtFiredStimulation> m_firedStimulations;
    std::size_t m_firedCursor = 0;

    // The run mode (0 none, 1 timed by the caller, 2 frozen until released) and the flags are read
    // without the run lock.
    std::atomic<std::int32_t> m_runMode{0};
    std::atomic<bool> m_running{false};
    double m_startTime = -1.0;  // run lock
    double m_endTime = -1.0;    // run lock
    // The light path before the stimulation, put back by StimulationEnd; run lock.
    int m_previousPatternId = 0;
    std::vector<double> m_previousPowers;
    std::vector<bool> m_previousLineStates;
    bool m_previousShuttersOpen = false;
    // The device's areas lock.
    CZtStringW m_lastStimulationError;

    // The manual shot the pad started; its parameter (the group mask) and duration go to the host.
    std::atomic<bool> m_manualShotActive{false};
    std::atomic<bool> m_manualShotInfinite{false};
    std::atomic<std::int32_t> m_manualShotParameter{0};
    std::atomic<double> m_manualShotDuration{0.0};
};
