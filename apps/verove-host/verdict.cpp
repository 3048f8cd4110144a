// The thresholds of a session and one figure against its threshold.
#include "verdict.h"

#include <algorithm>
#include <cmath>

#include "opticscheck.h"

namespace {

// ROIs narrower than this lose a larger share of their pixels to the edge.
constexpr double kSmallRoiPixels = 60.0;
constexpr double kOverlapPercent = 95.0;
constexpr double kSmallRoiOverlapPercent = 90.0;

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

JudgedFigure JudgeFigure(double value, int decimals, const QString& unit, double bar, bool atMost) {
    const double scale = std::pow(10.0, decimals);
    const double shown = std::round(value * scale) / scale;
    // The bar with no more digits than it has.
    const QString barText = QString::number(bar, 'g', 6) + unit;
    JudgedFigure judged;
    judged.value = QString::number(shown, 'f', decimals) + unit;
    judged.pass = atMost ? shown <= bar : shown >= bar;
    judged.threshold = (atMost ? "at most " : "at least ") + barText;
    const QString relation = judged.pass ? (atMost ? "≤" : "≥") : (atMost ? ">" : "<");
    judged.mark =
        QStringLiteral("%1 %2 %3 %4").arg(judged.value, relation, barText, judged.pass ? "✓" : "✗");
    return judged;
}
