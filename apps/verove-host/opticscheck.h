// What the simulated camera makes of the DMD's light under a scenario's optics, and whether the
// auto-calibration can work on them: the grey levels of dark and lit pixels, their noise, and the
// calibration squares that land on the sensor.
#pragma once

#include <QString>
#include <array>

#include "scenario.h"

// The grey values of one displayed image pixel, by the simulated camera's model: per sensor pixel
// `background` photoelectrons of stray light, `signal` more under lit mirrors, both gathered over
// the binned area, times `gain`, plus `offset`, clipped at full scale.
struct CameraLevels {
    double dark = 0.0;       // no mirror lit
    double lit = 0.0;        // inside a lit area of mirrors, clipped at full scale
    double fullScale = 0.0;  // 2^bitDepth - 1
    // rms of the difference of a lit and a dark frame's pixel: shot and read noise, rounding
    double noise = 0.0;

    // What lit mirrors add to a pixel.
    double Step() const { return lit - dark; }
};

CameraLevels ExpectedLevels(const ScenarioOptics& optics, const ScenarioCamera& camera);

// The auto-calibration shows 10 x 10-mirror squares centred at random mirrors at least 10 mirrors
// inside the DMD's border, up to 137 of them, and stops at 30 found (docs/autocalibration.md).
constexpr int kCalibrationSquaresAsked = 30;
constexpr int kCalibrationSquaresShown = 137;

// The share, 0 to 1, of the places the auto-calibration may put a square at whose whole square
// lands on the sensor: the calibration reads the whole sensor, whatever region the camera has.
double VisibleSquareShare(const std::array<double, 6>& dmdToSensor,
                          const zthost::CameraSetup& camera);
// How many squares the auto-calibration finds, on average, when the camera sees that share of
// them: every shown square in view, up to the 30 asked.
double ExpectedSquaresFound(double visibleShare);

// Why the auto-calibration cannot work on the optics with this camera: the field it concerns by
// its path, and one line of reason; both empty when it can. Too small a map is blamed on
// scaleField, a DMD field too little of which the camera sees on placeField.
struct OpticsProblem {
    QString field;
    QString what;
};
OpticsProblem CalibrationProblem(const ScenarioOptics& optics, const ScenarioCamera& camera,
                                 const QString& scaleField, const QString& placeField);
