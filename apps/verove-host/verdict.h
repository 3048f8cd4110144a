// Whether a session passed: its figures against the scenario's thresholds, or their defaults.
#pragma once

#include <QString>
#include <array>
#include <optional>
#include <vector>

#include "scenario.h"

// What a session measured; unset: not measured.
struct SessionFigures {
    std::optional<double> residualRms;  // displayed image pixels
    std::optional<double> residualMax;
    std::optional<int> squaresFound;
    std::array<std::optional<double>, 3> overlapPercent;  // per group: the lowest measured
};

// The bars of a session, defaults filled in.
struct SessionThresholds {
    double residualRmsPx = 0.1;
    double residualMaxPx = 0.3;
    std::array<double, 3> overlapPercent = {95.0, 95.0, 95.0};
    int squaresFound = 30;
};

// The scenario's thresholds with the defaults for the rest: 0.1 and 0.3 px of residual; 95 %
// overlap, or 90 % for a group with an ROI less than 60 image pixels across; and half the
// calibration squares the camera sees of the DMD field, at most the 30 asked (all 30 on the
// SDK's simulated unit, which draws its squares into the frames).
SessionThresholds ResolveThresholds(const Scenario& scenario);

enum class Measure { ResidualRms, ResidualMax, SquaresFound, Overlap };

// One figure against its bar.
struct Check {
    Measure measure = Measure::ResidualRms;
    int group = 0;   // of an overlap: 0 for S1
    QString figure;  // the value, the bar and a mark: "0.042 ≤ 0.1 ✓"
    bool passed = false;
    QString reason;  // why it failed, for the result line; empty when it passed
};

// Reentrant. Every measured figure against its bar, in the summary's order.
std::vector<Check> Judge(const SessionThresholds& thresholds, const SessionFigures& figures);
// The reasons of the failed checks, joined by "; "; empty when every check passed.
QString FailureReasons(const std::vector<Check>& checks);
