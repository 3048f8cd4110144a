// The camera's grey levels under a scenario's optics, and the checks that the auto-calibration can
// work on them.
#include "opticscheck.h"

#include <algorithm>
#include <cmath>

#include "scenariofields.h"

namespace {

// The calibration's squares: 10 x 10 mirrors, centred at least 10 mirrors inside the border.
constexpr double kHalfSquare = 5.0;
constexpr double kSquareBorder = 10.0;
// Places sampled for the share of squares in view, every this many mirrors.
constexpr double kSampleSpacing = 4.0;
// Below this many squares expected in view, a run may find fewer than the 5 the fit needs.
constexpr double kMinimumSquaresInView = 10.0;
// Lit pixels must stand this many times the noise above dark ones: then "Full ON" against
// "Full OFF", cut at half the step, misjudges fewer than one pixel in a hundred.
constexpr double kMinimumContrast = 5.0;
// Narrower squares are too few pixels for the spot detector's centre.
constexpr double kMinimumSquarePixels = 2.0;

bool Inside(const std::array<double, 6>& m, double x, double y, const SZtRect& region) {
    const double sx = m[0] * x + m[1] * y + m[2];
    const double sy = m[3] * x + m[4] * y + m[5];
    return sx >= region.left && sx <= region.right && sy >= region.top && sy <= region.bottom;
}

}  // namespace

CameraLevels ExpectedLevels(const ScenarioOptics& optics, const ScenarioCamera& camera) {
    const zthost::CameraSetup& setup = camera.setup;
    // Photoelectrons are gathered over every sensor pixel a binned pixel holds.
    const double area = setup.binningX * setup.binningY;
    CameraLevels levels;
    levels.fullScale = std::ldexp(1.0, setup.bitDepth) - 1.0;
    levels.dark = optics.offset + optics.gain * optics.background * area;
    levels.lit = std::min(levels.fullScale,
                          optics.offset + optics.gain * (optics.background + optics.signal) * area);
    // The difference of a lit and a dark pixel: both frames' noise, and each one's rounding.
    const double shot = optics.shotNoise ? (2.0 * optics.background + optics.signal) * area : 0.0;
    const double electrons = shot + 2.0 * optics.readNoise * optics.readNoise;
    levels.noise = std::sqrt(optics.gain * optics.gain * electrons + 2.0 / 12.0);
    return levels;
}

double VisibleSquareShare(const std::array<double, 6>& dmdToSensor,
                          const zthost::CameraSetup& camera) {
    // The auto-calibration switches the camera's region off while it runs.
    const SZtRect region{0, 0, camera.sensorWidth, camera.sensorHeight};
    const double right = ScenarioDmd::kMirrorColumns - kSquareBorder;
    const double bottom = ScenarioDmd::kMirrorRows - kSquareBorder;
    int places = 0;
    int visible = 0;
    for (double y = kSquareBorder; y <= bottom; y += kSampleSpacing) {
        for (double x = kSquareBorder; x <= right; x += kSampleSpacing) {
            ++places;
            // The map is affine and the region convex: the corners decide for the whole square.
            visible += Inside(dmdToSensor, x - kHalfSquare, y - kHalfSquare, region) &&
                       Inside(dmdToSensor, x + kHalfSquare, y - kHalfSquare, region) &&
                       Inside(dmdToSensor, x - kHalfSquare, y + kHalfSquare, region) &&
                       Inside(dmdToSensor, x + kHalfSquare, y + kHalfSquare, region);
        }
    }
    return places == 0 ? 0.0 : static_cast<double>(visible) / places;
}

double ExpectedSquaresFound(double visibleShare) {
    return std::min<double>(kCalibrationSquaresAsked, kCalibrationSquaresShown * visibleShare);
}

OpticsProblem CalibrationProblem(const ScenarioOptics& optics, const ScenarioCamera& camera,
                                 const QString& scaleField, const QString& placeField) {
    using scenariofields::Text;
    const zthost::CameraSetup& setup = camera.setup;
    const CameraLevels levels = ExpectedLevels(optics, camera);
    const double area = setup.binningX * setup.binningY;
    if (levels.dark >= levels.fullScale) {
        const QString binned =
            area > 1.0 ? QStringLiteral(" x %1 binned pixels").arg(Text(area)) : QString();
        return {"optics.background",
                QStringLiteral("the camera saturates without light from the DMD (offset + gain x "
                               "background%1 reaches %2)")
                    .arg(binned, Text(levels.fullScale))};
    }
    if (levels.Step() < kMinimumContrast * levels.noise) {
        return {"optics.signal",
                QStringLiteral("the DMD's light stands too little above the camera's noise (lit "
                               "pixels %1 grey values above dark ones, noise %2; %3 times the "
                               "noise needed)")
                    .arg(Text(std::round(levels.Step() * 10.0) / 10.0),
                         Text(std::round(levels.noise * 10.0) / 10.0), Text(kMinimumContrast))};
    }
    // The narrower side of a square: the shorter image of a mirror's edges, ten times.
    const std::array<double, 6>& m = optics.dmdToSensor;
    const double pitch = std::min(std::hypot(m[0], m[3]), std::hypot(m[1], m[4]));
    const double squarePixels =
        2.0 * kHalfSquare * pitch / std::max(setup.binningX, setup.binningY);
    if (squarePixels < kMinimumSquarePixels) {
        return {
            scaleField,
            QStringLiteral("a calibration square of 10 x 10 mirrors spans only %1 image "
                           "pixels; at least %2 needed")
                .arg(Text(std::round(squarePixels * 100.0) / 100.0), Text(kMinimumSquarePixels))};
    }
    const double inView = kCalibrationSquaresShown * VisibleSquareShare(m, setup);
    if (inView < kMinimumSquaresInView) {
        return {placeField,
                QStringLiteral("about %1 of the %2 squares the calibration shows land on the "
                               "sensor; at least %3 needed")
                    .arg(Text(std::round(inView * 10.0) / 10.0))
                    .arg(kCalibrationSquaresShown)
                    .arg(Text(kMinimumSquaresInView))};
    }
    return {};
}
