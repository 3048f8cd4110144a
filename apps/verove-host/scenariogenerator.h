// Whole scenarios drawn from a seed: optics, camera settings and ROIs that nobody chose by hand, so
// that sessions meet the camera geometry, binning and optics a user's microscope may have.
#pragma once

#include <QJsonObject>
#include <cstdint>

// A scenario file's object for the seed, valid for Scenario::Load: the DMD field lands on the
// camera's region well enough to be calibrated, the camera does not saturate, and every ROI lies
// inside both the displayed image and the lit field. The same seed gives the same scenario.
QJsonObject GenerateScenario(std::uint64_t seed);
