// One stimulation from its begin to its end, the pad's manual shot and the experiment's phases.
#include "cztverovestimulationrun.h"

#include <algorithm>
#include <cmath>

#include "cztstimulationdeviceverove.h"
#include "cztverovepadwrapper.h"
#include "verove_log.h"
#include "verovestatus.h"
#include "zt/zt_experiment.h"
#include "zt/zt_macro.h"
#include "zt/zt_util.h"

namespace {

constexpr std::uint32_t kNoGroup = 0xFFFFFFFFu;
constexpr std::uint32_t kGroupCount = CZtVeroveStimulationAreas::kGroupCount;
constexpr int kFirstGroupPattern = CZtVeroveStimulationAreas::kFirstGroupPattern;
// Light sources finish their commands within this time before the stimulation goes on.
constexpr std::uint32_t kLightCompletionMs = 1000;

// The groups (bit g for group g) of a stimulation word, when the word stimulates.
std::uint32_t StimulatedGroups(std::uint32_t word) {
    if ((word & ZT_STIMULATION_ACTIVE_BITS) == 0) {
        return 0;
    }
    return (word & ZT_STIMULATION_GROUP_BITS) >> ZT_STIMULATION_GROUP_SHIFT;
}

}  // namespace

int CZtVeroveStimulationRun::OnNDExperiment(std::int32_t phase) {
    VEROVE_LOG("CZtStimulationDeviceVerove::OnNDExperiment", L"Start");
    if (m_experimentState != 2) {
        m_experimentState = phase;
        if (phase == 1) {
            std::lock_guard run(m_device.m_runLock);
            m_firedStimulations.clear();
            m_firedCursor = 0;
        }
    } else if (phase == 1 && --m_expectedPhases <= 0) {
        m_expectedPhases = 0;
        m_experimentState = 1;
        std::lock_guard run(m_device.m_runLock);
        m_firedStimulations.clear();
        m_firedCursor = 0;
    }
    VEROVE_LOG("CZtStimulationDeviceVerove::OnNDExperiment", L"End - state %d",
               static_cast<int>(m_experimentState.load()));
    return 0;
}

int CZtVeroveStimulationRun::OnPluginNDSequence_Validate(const void* actions) {
    VEROVE_LOG("CZtStimulationDeviceVerove::OnPluginNDSequence_Validate", L"Start");
    if (!actions) {
        VEROVE_LOG("CZtStimulationDeviceVerove::OnPluginNDSequence_Validate",
                   L"Invalid actions definition.");
        return VeroveStatus::kInvalidArgument;
    }
    m_experimentState = 2;
    {
        std::lock_guard run(m_device.m_runLock);
        m_firedStimulations.clear();
        m_firedCursor = 0;
    }
    m_device.m_stimulationAreas.Invalidate();
    return 0;
}

CZtStringW CZtVeroveStimulationRun::GetLastStimulationError() {
    CZtLock lock(m_device.m_areasLock);
    return m_lastStimulationError;
}

int CZtVeroveStimulationRun::GetGroupToStimulate(std::uint64_t mask, std::uint32_t* group,
                                                 std::uint64_t* bit) {
    if (mask == 0) {
        return VeroveStatus::kInvalidArgument;
    }
    for (std::uint32_t g = 0; g < kGroupCount; ++g) {
        if (mask & (std::uint64_t{1} << g)) {
            if (group) {
                *group = g;
            }
            if (bit) {
                *bit = std::uint64_t{1} << g;
            }
            return 0;
        }
    }
    return 0;
}

int CZtVeroveStimulationRun::StimulationBegin(const SZtStimulationRequest* request) {
    const char* function = "CZtStimulationDeviceVerove::StimulationBegin";
    VEROVE_LOG(function, L"Start");
    // Held from here: a disconnect waits until the stimulation has switched the light path.
    std::unique_lock run(m_device.m_runLock);
    CZtVeroveDriver* driver = m_device.GetDriver();
    if (!driver) {
        VEROVE_LOG(function, L"Driver not initialized, aborting.");
        return VeroveStatus::kNoDriver;
    }
    if (!request || (request->runMode != 1 && request->runMode != 2)) {
        VEROVE_LOG(function, L"Invalid stimulation request, aborting.");
        return VeroveStatus::kInvalidArgument;
    }
    std::uint32_t group = kNoGroup;
    const int status = GetGroupToStimulate(request->groupMask, &group, nullptr);
    if (status != 0) {
        VEROVE_LOG(function, L"Failed to GetGroupToStimulate");
        return status;
    }
    if (group >= kGroupCount) {
        VEROVE_LOG(function, L"Specified stimulation group %i out of range.",
                   static_cast<int>(group));
        return VeroveStatus::kFailed;
    }
    const int patternId = kFirstGroupPattern + static_cast<int>(group);
    bool hasAreas = false;
    {
        CZtLock lock(driver->GetBufferLock());
        const CZtPattern* pattern =
            driver->GetPatterns().FindById(static_cast<std::uint32_t>(patternId));
        hasAreas = pattern && pattern->HasStimulationAreas();
    }
    if (!hasAreas) {
        CZtStringW text;
        text.Format(ZT_GetTranslation(L"Stimulation group S%i is not defined.").GetString(),
                    static_cast<int>(group) + 1);
        {
            CZtLock lock(m_device.m_areasLock);
            m_lastStimulationError = text;
        }
        VEROVE_LOG(function, L"Specified stimulation group %i has no stimulation areas",
                   static_cast<int>(group));
        return VeroveStatus::kRefused;
    }

    // The mirrors belong to the sequence until it is left.
    if (m_device.m_sequence.GetOperationMode() ==
        CZtVeroveIlluminationSequence::kOperationModeSequence) {
        VEROVE_LOG(function, L"Illumination sequence running, aborting.");
        return VeroveStatus::kConflict;
    }
    // A second begin would overwrite the light path that the end has to restore.
    if (m_runMode != 0) {
        VEROVE_LOG(function, L"A stimulation is running already, aborting.");
        return VeroveStatus::kBusy;
    }
    m_previousPatternId = m_device.CurrentPatternId(driver);
    driver->ExposePattern(0, false);
    bool open = false;
    m_previousShuttersOpen = m_device.GetAssociatedShuttersOpen(&open) == 0 && open;
    m_device.SetAssociatedShuttersOpenState(false);
    const bool deferred = m_device.LightDeferredCompletionBegin();
    m_previousPowers.clear();
    m_previousLineStates.clear();
    m_device.SettingsApply_LaserPower(static_cast<int>(group), &m_previousPowers);
    m_device.SettingsApply_LineUsed(static_cast<int>(group), &m_previousLineStates);
    if (deferred) {
        m_device.LightDeferredCompletionWait(kLightCompletionMs);
    }
    // Binary frames switch at once; grey-scale frames build up over their sequence first.
    const bool binary = m_device.GetBitDepth() == 1;
    if (binary) {
        m_device.SetAssociatedShuttersOpenState(true);
    }
    m_device.SettingsApply_Switcher();
    if (driver->ExposePattern(patternId, false) != 0) {
        VEROVE_LOG(function, L"Failed to expose pattern %d.", patternId);
    }
    if (!binary) {
        m_device.SetAssociatedShuttersOpenState(true);
    }
    m_running = true;
    m_runMode = request->runMode;
    if (m_device.m_padWrapper) {
        m_device.m_padWrapper->StimulationState();
    }
    m_startTime = ZT_GetTimeCounter();
    if (request->runMode == 1) {
        return 0;
    }
    m_freezeEvent.Reset();
    run.unlock();
    VEROVE_LOG(function, L"Work Thread: Freezing until stimulation is finished (%g ms).",
               request->durationMs);
    const double wait =
        std::clamp(std::round(request->durationMs), 0.0, static_cast<double>(ZT_INFINITE - 1));
    m_freezeEvent.Wait(static_cast<ZT_DWORD>(wait));
    VEROVE_LOG(function, L"Work Thread: Signaled and entered running state...");
    return 0;
}

int CZtVeroveStimulationRun::StimulationEnd(double* startTimes, double* endTimes, int count) {
    const char* function = "CZtStimulationDeviceVerove::StimulationEnd";
    VEROVE_LOG(function, L"Start");
    std::lock_guard run(m_device.m_runLock);
    CZtVeroveDriver* driver = m_device.GetDriver();
    m_endTime = -1.0;
    const std::int32_t runMode = m_runMode;
    if (runMode != 0) {
        if (driver) {
            driver->ExposePattern(0, false);
        }
        m_endTime = ZT_GetTimeCounter();
        if (!m_firedStimulations.empty()) {
            m_firedCursor =
                m_device.GetBitDepth() > 1 ? 0 : (m_firedCursor + 1) % m_firedStimulations.size();
        }
        FinishManualShot(true);
        if (runMode == 2) {
            VEROVE_LOG(function,
                       L"Work Thread: Assuming Main Thread waits inside StimulationAreaSet. "
                       L"Releasing Main Thread now.");
            m_releaseEvent.Set();
        }
        m_runMode = 0;
    }
    for (int i = 0; i < count; ++i) {
        if (startTimes) {
            startTimes[i] = i == 0 ? m_startTime : -1.0;
        }
        if (endTimes) {
            endTimes[i] = i == 0 ? m_endTime : -1.0;
        }
    }
    m_startTime = -1.0;

    const bool deferred = m_device.LightDeferredCompletionBegin();
    m_device.SettingsApply_LaserPower(m_previousPowers);
    m_device.SettingsApply_LineUsed(m_previousLineStates);
    if (deferred) {
        m_device.LightDeferredCompletionWait(kLightCompletionMs);
    }
    m_device.SetAssociatedShuttersOpenState(m_previousShuttersOpen);
    m_device.SettingsRevert_Switcher();
    if (driver) {
        driver->ExposePattern(m_previousPatternId, false);
    }
    m_running = false;
    if (m_device.m_padWrapper) {
        m_device.m_padWrapper->StimulationState();
    }
    return 0;
}

// Single pulses cannot be fired on a DMD.
int CZtVeroveStimulationRun::StimulationFire(double* startTime, double* endTime) {
    VEROVE_LOG("CZtStimulationDeviceVerove::StimulationFire", L"Start");
    if (startTime) {
        *startTime = -1.0;
    }
    if (endTime) {
        *endTime = -1.0;
    }
    return VeroveStatus::kRefused;
}

int CZtVeroveStimulationRun::StimulationAbort() {
    VEROVE_LOG("CZtStimulationDeviceVerove::StimulationAbort", L"Start");
    if (m_experimentState == 2) {
        m_experimentState = 1;
    }
    if (m_device.GetDriver()) {
        m_freezeEvent.Set();
    }
    return 0;
}

// Experiments of type 8 name their stimulation phases and parallel stimulation tasks; the device
// needs a laser line for S1 and S2 wherever they are used.
int CZtVeroveStimulationRun::StimulationValidate(const SZtExperiment* experiment,
                                                 CZtStringW* error) {
    const char* function = "CZtStimulationDeviceVerove::StimulationValidate";
    VEROVE_LOG(function, L"Start");
    if (!experiment) {
        VEROVE_LOG(function, L"Invalid experiment.");
        return VeroveStatus::kInvalidArgument;
    }
    std::uint32_t used = 0;
    std::vector<SZtFiredStimulation> phases;
    if (const SZtExperiment* multi = CZtExperimentAPI::FindExperiment(experiment, 8)) {
        for (size_t i = 0; i < multi->phases.size(); ++i) {
            const SZtExperimentPhase& phase = multi->phases[i];
            const std::uint32_t groups = StimulatedGroups(phase.stimulation);
            if (!multi->IsPhaseEnabled(i) || groups == 0) {
                continue;
            }
            used |= groups;
            if (phase.durationMs > 0.0) {
                phases.push_back({groups & 0x7u, phase.durationMs, static_cast<std::int32_t>(i)});
            }
        }
        for (const SZtParallelExperiment& task : multi->parallelTasks) {
            if (task.kind == SZtParallelExperiment::ID_TASK_STIMULATION) {
                used |= StimulatedGroups(task.stimulation);
            }
        }
    }
    for (int g = 0; g < 2; ++g) {
        if ((used & (1u << g)) == 0) {
            continue;
        }
        const bool enabled = std::any_of(
            m_device.m_settings.laserLines.begin(), m_device.m_settings.laserLines.end(),
            [g](const SZtVeroveLaserLine& line) { return line.used[g]; });
        if (!enabled) {
            if (error) {
                CZtStringW name;
                m_device.GetDisplayName(&name, 0);
                error->Format(ZT_GetTranslation(L"%s: No laser lines enabled for stimulation "
                                                L"group %d."),
                              name.GetString(), g + 1);
            }
            return VeroveStatus::kRefused;
        }
    }
    std::lock_guard run(m_device.m_runLock);
    if (m_experimentState == 2) {
        ++m_expectedPhases;
    } else {
        m_expectedPhases = 1;
        m_firedStimulations.clear();
        m_firedCursor = 0;
    }
    m_firedStimulations.insert(m_firedStimulations.end(), phases.begin(), phases.end());
    return 0;
}

void CZtVeroveStimulationRun::ManualShotBegin(std::int32_t parameter, double duration) {
    const char* function = "CZtStimulationDeviceVerove::ManualShotBegin";
    VEROVE_LOG(function, L"Start");
    if (m_manualShotActive) {
        VEROVE_LOG(function, L"Called before previous stimulation has finished.");
    }
    if (!m_device.GetDriver()) {
        return;
    }
    m_manualShotActive = true;
    m_manualShotInfinite = duration <= 0.0;
    m_manualShotParameter = parameter;
    m_manualShotDuration = duration;
    const CZtStringW name = m_device.GetControllingDevice();
    const int result = ManualShot(name, 1, duration, parameter);
    CZtStringW line;
    line.Format(L"ManualShot(\"%s\", 1, %f, %i);", name.GetString(), duration, parameter);
    Protocol_Command(line);
    // A shot the host could not start must not stay active: nothing would ever end it.
    if (result != 0) {
        VEROVE_LOG(function, L"Failed to start manual shot, return code %d", result);
        m_manualShotActive = false;
        m_device.m_padManual = false;
        m_device.m_padPulse = false;
    }
}

void CZtVeroveStimulationRun::ManualShotEnd() {
    VEROVE_LOG("CZtStimulationDeviceVerove::ManualShotEnd", L"Start");
    if (m_runMode == 0) {
        return;
    }
    const CZtStringW name = m_device.GetControllingDevice();
    const std::int32_t parameter = m_manualShotParameter;
    ManualShot(name, 0, 0.0, parameter);
    CZtStringW line;
    line.Format(L"ManualShot(\"%s\", 0, %f, %i);", name.GetString(), 0.0, parameter);
    Protocol_Command(line);
    m_running = false;
    m_device.m_padManual = false;
    m_device.m_padPulse = false;
}

void CZtVeroveStimulationRun::FinishManualShot(bool tellPad) {
    if (!m_manualShotActive.exchange(false)) {
        return;
    }
    m_running = false;
    m_device.m_padManual = false;
    m_device.m_padPulse = false;
    if (tellPad && m_device.m_padWrapper) {
        m_device.m_padWrapper->StimulationState();
    }
}

void CZtVeroveStimulationRun::StopShutterAndStimulation() {
    VEROVE_LOG("CZtStimulationDeviceVerove::StopShutterAndStimulation", L"Start");
    StopThroughMacro(false);
}

void CZtVeroveStimulationRun::RestartManualShot() {
    CZtStringW command;
    command.Format(L"ManualShot(\"%s\", 1, %f, %i);", m_device.GetControllingDevice().GetString(),
                   m_manualShotDuration.load(), m_manualShotParameter.load());
    m_manualShotActive = CLI_Command(command) == 0;
}

void CZtVeroveStimulationRun::EndManualShotThroughMacro() {
    StopThroughMacro(true);
}

void CZtVeroveStimulationRun::StopThroughMacro(bool record) {
    if (!m_manualShotActive || !ZT_FindProcedure(L"ManualShot")) {
        return;
    }
    CZtStringW line;
    line.Format(L"ManualShot(\"%s\", 0, 0.0, %i);", m_device.GetControllingDevice().GetString(),
                m_manualShotParameter.load());
    CLI_Command(line);
    if (record) {
        Protocol_Command(line);
    }
}
