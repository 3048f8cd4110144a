// The stimulation protocol's runs, each measured on the camera and the mirrors into the report.
#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <vector>

#include "scenario.h"

class IZtStimulationDevice;
class Report;
class SimulatedDmd;

// "S1", "S1+S2", ...: the groups of mask (bit g: group g).
QString GroupsText(std::uint32_t mask);

// Thread-bound to the session's thread; each stimulation begins and ends on a work thread of its
// own, as the host's experiment runs them.
class ProtocolMeasurement {
public:
    // All borrowed from the session.
    ProtocolMeasurement(const Scenario& scenario, Report* report, SimulatedDmd& simulatedDmd);

    // Runs the scenario's stimulations on target (borrowed); unitGroups[u] holds the groups unit
    // u holds ROIs of (empty: one unit). Each group's lowest overlap and mean latency go into the
    // report; detail gets one line.
    int Run(IZtStimulationDevice* target, const std::vector<std::uint32_t>& unitGroups,
            QString* detail);

private:
    // One stimulation of the protocol, measured into the report's rows of its group.
    struct RunResult {
        int status = 0;           // of StimulationBegin, else of StimulationEnd
        double overlap = -1.0;    // -1: not measured; the lowest of the run's groups
        QString groupOverlaps;    // each group's, for groups in parallel
        double latencyMs = -1.0;  // -1: not measured
        bool dark = false;        // the mirrors stayed dark although the device took the run
    };
    RunResult RunStimulation(IZtStimulationDevice* device, const ScenarioStimulationRun& run,
                             bool pictures);
    // The unit that shows a group: the one holding its ROIs, unit 0 without an aggregator.
    int UnitOf(int group) const;

    const Scenario& m_scenario;
    Report* m_report;
    SimulatedDmd& m_simulatedDmd;  // the SDK path's DMD
    std::vector<std::uint32_t> m_unitGroups;
    // Per group: the protocol's overlaps (the smallest counts) and latencies (their mean).
    std::array<std::vector<double>, 3> m_overlaps;
    std::array<std::vector<double>, 3> m_latencies;
};
