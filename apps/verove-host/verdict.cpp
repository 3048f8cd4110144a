// A session's figures against its thresholds.
#include "verdict.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

#include "opticscheck.h"

namespace {

const char* const kGroupNames[] = {"S1", "S2", "S3"};

// ROIs narrower than this lose a larger share of their pixels to the edge.
constexpr double kSmallRoiPixels = 60.0;
constexpr double kOverlapPercent = 95.0;
constexpr double kSmallRoiOverlapPercent = 90.0;

// The bar as the scenario or the default gives it: no more digits than it has.
QString Bar(double value) {
    return QString::number(value, 'g', 6);
}

// The figure is judged as it is shown, to decimals: 94.96 % shows as 95.0 % and meets 95 %.
Check Compare(Measure measure, int group, double value, int decimals, double bar, bool atMost,
              const QString& what, const QString& unit) {
    const double scale = std::pow(10.0, decimals);
    const double rounded = std::round(value * scale) / scale;
    const QString shown = QString::number(rounded, 'f', decimals);
    Check check;
    check.measure = measure;
    check.group = group;
    check.passed = atMost ? rounded <= bar : rounded >= bar;
    const QString relation = check.passed ? (atMost ? "≤" : "≥") : (atMost ? ">" : "<");
    check.figure = QStringLiteral("%1 %2 %3 %4")
                       .arg(shown + unit, relation, Bar(bar) + unit, check.passed ? "✓" : "✗");
    if (!check.passed) {
        check.reason = QStringLiteral("%1 %2%3 %4 %5%3").arg(what, shown, unit, relation, Bar(bar));
    }
    return check;
}

}  // namespace

SessionThresholds ResolveThresholds(const Scenario& scenario) {
    const ScenarioThresholds& given = scenario.Thresholds();
    SessionThresholds thresholds;
    thresholds.residualRmsPx = given.residualRmsPx.value_or(thresholds.residualRmsPx);
    thresholds.residualMaxPx = given.residualMaxPx.value_or(thresholds.residualMaxPx);
    for (int g = 0; g < 3; ++g) {
        bool small = false;
        for (const ScenarioRoi& roi : scenario.Rois()[g]) {
            small = small || std::min(roi.bounds.width(), roi.bounds.height()) < kSmallRoiPixels;
        }
        thresholds.overlapPercent[g] =
            given.overlapPercent.value_or(small ? kSmallRoiOverlapPercent : kOverlapPercent);
    }
    if (given.squaresFound) {
        thresholds.squaresFound = *given.squaresFound;
    } else if (!scenario.Dmd().simulator) {
        const double shown =
            kCalibrationSquaresShown *
            VisibleSquareShare(scenario.Optics().dmdToSensor, scenario.Camera().setup);
        thresholds.squaresFound =
            std::min(kCalibrationSquaresAsked, static_cast<int>(std::floor(shown / 2.0)));
    }
    return thresholds;
}

std::vector<Check> Judge(const SessionThresholds& thresholds, const SessionFigures& figures) {
    std::vector<Check> checks;
    if (figures.residualRms) {
        checks.push_back(Compare(Measure::ResidualRms, 0, *figures.residualRms, 3,
                                 thresholds.residualRmsPx, true, "calibration residual RMS",
                                 " px"));
    }
    if (figures.residualMax) {
        checks.push_back(Compare(Measure::ResidualMax, 0, *figures.residualMax, 3,
                                 thresholds.residualMaxPx, true, "calibration residual max",
                                 " px"));
    }
    if (figures.squaresFound) {
        checks.push_back(Compare(Measure::SquaresFound, 0, *figures.squaresFound, 0,
                                 thresholds.squaresFound, false, "calibration squares found", ""));
    }
    for (int g = 0; g < 3; ++g) {
        if (figures.overlapPercent[g]) {
            checks.push_back(Compare(
                Measure::Overlap, g, *figures.overlapPercent[g], 1, thresholds.overlapPercent[g],
                false, QStringLiteral("placement overlap %1").arg(kGroupNames[g]), " %"));
        }
    }
    return checks;
}

QString FailureReasons(const std::vector<Check>& checks) {
    QStringList reasons;
    for (const Check& check : checks) {
        if (!check.passed) {
            reasons << check.reason;
        }
    }
    return reasons.join("; ");
}
