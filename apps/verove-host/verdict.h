// The thresholds a session's figures are held against, and how one figure meets its threshold.
#pragma once

#include <QString>
#include <array>

#include "scenario.h"

// The bars of a session, defaults filled in.
struct SessionThresholds {
    double residualRmsPx = 0.1;
    double residualMaxPx = 0.3;
    std::array<double, 3> overlapPercent = {95.0, 95.0, 95.0};
    int squaresFound = 30;
};

// The scenario's thresholds with the defaults for the rest: 0.1 and 0.3 px of residual; 95 %
// overlap, or 90 % for a group with an ROI less than 60 image pixels across; and half the
// calibration squares the sensor sees of the DMD field, at most the 30 asked (all 30 on the
// SDK's simulated unit, which draws its squares into the frames).
SessionThresholds ResolveThresholds(const Scenario& scenario);

// One figure against its bar, as the report shows it.
struct JudgedFigure {
    QString value;      // "0.042 px"
    QString threshold;  // "at most 0.1 px"
    QString mark;       // "0.042 px ≤ 0.1 px ✓"
    bool pass = false;
};

// Reentrant. value against bar, judged as it is shown (to decimals, with unit): 94.96 % shows as
// 95.0 % and meets at least 95 %. atMost: the bar is the largest value that passes, else the
// smallest.
JudgedFigure JudgeFigure(double value, int decimals, const QString& unit, double bar, bool atMost);
