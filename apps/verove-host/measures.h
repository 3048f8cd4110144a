// What a session measures against the scenario's ground truth: the calibration's residual, where
// the light landed, and camera frames as pictures for the report.
#pragma once

#include <QImage>
#include <QRectF>
#include <QStringList>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "zt/zt_picbuf.h"

// Affine maps are 3 x 3 row-major matrices acting on column vectors (x, y, 1).
using Matrix3 = std::array<double, 9>;

// A 2 x 3 row-major affine map as a 3 x 3 matrix.
Matrix3 AffineMatrix(const std::array<double, 6>& affine);

// The active camera's display geometry: unbinned sensor pixels to displayed image pixels. False
// when the host has no camera.
bool SensorToImage(Matrix3* sensorToImage);

struct CalibrationResidual {
    double rms = 0.0;
    double max = 0.0;
};

// How far the measured map puts DMD points from where the truth puts them, in displayed image
// pixels: over a grid of 17 x 13 points spread evenly over the mirror array, from the first
// mirror's centre to the last one's. Both maps go from the DMD plane to sensor pixels;
// sensorToImage is the camera's display geometry. With a region (unbinned sensor pixels: the
// part the camera reads), only the mirrors whose light lands inside it count, the only ones a
// stimulation can use: the grid is spread over the part of the array the region shows, and its
// points outside the region are left out. Beyond the sensor the calibration could find no
// squares; what it holds there is an extrapolation no stimulation reaches.
CalibrationResidual MeasureCalibrationResidual(const Matrix3& truthDmdToSensor,
                                               const Matrix3& measuredDmdToSensor,
                                               const Matrix3& sensorToImage, int mirrorColumns,
                                               int mirrorRows, const QRectF& region = QRectF());

// The grey value that best separates a frame's dark pixels from its lit ones (Otsu: the largest
// variance between the two classes of the histogram). Pixels above it are lit. Component 0 of an
// 8- or 9..16-bit picture; 0 for an empty one.
std::uint32_t LitThreshold(const SZtPicBuf& frame);

// Where a user sees the one lit spot of a frame: the centre of the pixels within 60 pixels of the
// brightest that stand above half-way from the frame's mean to its brightest value, each weighted
// by how far it stands above that level; image pixels, pixel (i, j) centred at (i + 0.5, j + 0.5).
// False for an empty frame or one without a spot brighter than its mean.
bool LitSpotCentre(const SZtPicBuf& frame, QPointF* centre);

// Where the light landed against the ROIs, pixel by pixel.
enum class Placement : std::uint8_t { Dark, LitInside, LitOutside, RoiNotLit };

struct PlacementMap {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<Placement> pixels;          // row by row
    std::array<std::uint64_t, 4> counts{};  // pixels of each Placement

    // Lit inside over lit or inside: intersection over union, 0 to 1; 0 when both are empty.
    double Overlap() const;
};

// The frame's pixels above threshold (lit) against the pixels of masks' objects (together);
// empty when masks does not have the frame's size.
PlacementMap MapPlacement(const SZtPicBuf& frame, std::uint32_t threshold,
                          const SZtRLEPicBuf& masks);

// The overlap of group's map where other groups stimulated at the same time: light inside the
// others' ROIs (lit inside in others, a map of the same frame) is theirs, not group's stray light.
double OverlapBeside(const PlacementMap& group, const PlacementMap& others);

// MapPlacement's overlap.
double PlacementOverlap(const SZtPicBuf& frame, std::uint32_t threshold, const SZtRLEPicBuf& masks);

// How the light of "Full ON" covers the DMD field: pixels of the on frame brighter than the off
// frame ("Full OFF") by more than half the step lit mirrors add, against the pixels of field's
// objects (the field where it lies inside the image); intersection over union as above. Unlike a
// threshold taken from one frame's histogram, it holds when the field fills the whole image. 0
// for frames of different sizes.
double FieldCoverage(const SZtPicBuf& on, const SZtPicBuf& off, double step,
                     const SZtRLEPicBuf& field);

// What the auto-calibration logged of its fit: the pairs used and the residual on them (camera
// image pixels), and its warnings (too few squares, a high residual). pairs 0 when it logged no
// fit.
struct DeviceCalibrationFit {
    int pairs = 0;
    double rms = 0.0;
    double max = 0.0;
    QStringList warnings;
};
DeviceCalibrationFit ReadCalibrationFit(const std::vector<std::wstring>& log);

// The frame as an RGB picture for the report, its grey values stretched from the darkest to the
// brightest pixel.
QImage FrameImage(const SZtPicBuf& frame);
