// The host's ND experiment descriptions as stimulation devices see them: stimulation phases and
// parallel stimulation tasks.
#pragma once

#include <cstdint>
#include <vector>

#include "zt/zt_export.h"

// The 32-bit stimulation word of a phase or a parallel task: bit 0 or bit 1 set means the phase
// stimulates; bits 2 to 10 hold its group set, bit 2 + g for stimulation group g.
constexpr std::uint32_t ZT_STIMULATION_ACTIVE_BITS = 0x3;
constexpr int ZT_STIMULATION_GROUP_SHIFT = 2;
constexpr std::uint32_t ZT_STIMULATION_GROUP_BITS = 0x1FFu << ZT_STIMULATION_GROUP_SHIFT;

// One phase of a multi-phase (type 8) experiment. A plain value.
struct SZtExperimentPhase {
    std::uint32_t stimulation = 0;  // the stimulation word
    double durationMs = 0.0;
};

// A task that runs beside the phases of an experiment. A plain value.
struct SZtParallelExperiment {
    static constexpr std::uint32_t ID_TASK_STIMULATION = 3;
    std::uint32_t kind = 0;
    std::uint32_t stimulation = 0;  // the stimulation word, for ID_TASK_STIMULATION tasks
    double startMs = 0.0;           // from the start of the experiment
    double durationMs = 0.0;
};

// An experiment description. A plain value: copies are deep.
//
// Types: 1 a plain ND acquisition, whose flags bit 0 or 1 say that it stimulates on its own
// terms; 8 a multi-phase experiment with its phases, their enable list and parallel tasks.
// Experiments nest: an ND acquisition holds the experiments it runs as children.
struct SZtExperiment {
    std::uint32_t type = 1;
    std::uint32_t flags = 0;
    std::vector<SZtExperimentPhase> phases;
    // One entry per phase when the experiment lets phases be switched off; empty: all enabled.
    std::vector<bool> phaseEnabled;
    std::vector<SZtParallelExperiment> parallelTasks;
    std::vector<SZtExperiment> children;

    bool IsPhaseEnabled(std::size_t phase) const {
        return phaseEnabled.empty() || (phase < phaseEnabled.size() && phaseEnabled[phase]);
    }
};

// Reentrant.
class ZTHOST_API CZtExperimentAPI {
public:
    // The experiment itself when it has that type, else the first child (depth first, in order)
    // that has it; null when none has, or for a null experiment.
    static const SZtExperiment* FindExperiment(const SZtExperiment* experiment, std::uint32_t type);
    static SZtExperiment* FindExperiment(SZtExperiment* experiment, std::uint32_t type);
};
