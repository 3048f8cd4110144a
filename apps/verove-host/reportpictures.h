// The report's pictures: camera images with the stimulation ROIs, the DMD field and the
// calibration's squares over them, where a stimulation's light landed, and mirror frames. Every
// picture is shown at a readable size, its labels and legend inside it.
#pragma once

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QPolygonF>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "measures.h"
#include "scenario.h"

class QPainter;
class QTransform;

// The scale a width x height picture is shown at: above 1024 pixels on its longer side it
// shrinks to 1024; up to 512 it grows by the largest whole factor that keeps it within 1024, so
// that its pixels stay sharp squares; otherwise 1.
double ReportScale(int width, int height);

// The colour of a group's ROIs (0 S1 red, 1 S2 green, 2 S3 blue), in pictures and the window.
QColor GroupColour(int group);
// An ROI's outline mapped by toPicture, with the painter's pen; a point as a small cross.
void DrawRoiOutline(QPainter* painter, const ScenarioRoi& roi, const QTransform& toPicture);

// The mirror array's outline, first row first, through dmdToSensor and sensorToImage: displayed
// image pixels.
QPolygonF DmdOutline(const Matrix3& dmdToSensor, const Matrix3& sensorToImage);

// What goes over a camera image; every part is optional.
struct CameraPictureParts {
    QImage frame;                 // the camera's frame; null: a dark image of the camera's size
    std::uint32_t groupMask = 0;  // the groups (bit g: S1 + g) whose ROIs are drawn
    bool truthOutline = false;    // dashed: where the DMD field lands according to the optics
    bool fittedOutline = false;   // solid: where the calibration puts it
    Matrix3 fittedDmdToSensor{};  // the calibration, DMD plane to sensor pixels
    std::vector<QPointF> spots;   // detected spots, displayed image pixels
    // With fittedOutline: each spot's point on the DMD (mirrors). Its fitted position is drawn,
    // and the residual from there to the spot, enlarged by a factor the legend gives.
    std::vector<QPointF> spotsDmd;
};

// The camera image as displayed (the frame's size, else the scenario's) at its ReportScale, the
// parts drawn over it: ROIs in their group's colour (S1 red, S2 green, S3 blue), labelled;
// outlines with their first mirror row thick, so that turns and flips show; spots as yellow
// crosses, fitted positions as cyan rings, residuals as magenta lines; a legend in the corner.
QImage CameraPicture(const Scenario& scenario, const CameraPictureParts& parts);

// The colours of a placement picture, by Placement: dark, lit inside the ROIs (white), lit
// outside them (red), ROI not lit (blue).
extern const QRgb kPlacementColours[4];

// A stimulation's camera frame as its placement: every pixel in its Placement's colour, at its
// ReportScale, with the ROI labels of the groups in groupMask and a legend that gives the
// overlap.
QImage PlacementPicture(const Scenario& scenario, const PlacementMap& placement,
                        std::uint32_t groupMask);

// The calibration picture's caption: frames of the squares combined, of how many found.
QString CalibrationCaption(int frames, std::size_t squares, bool simulator);

// A mirror frame (one byte per mirror, 0 dark to 255 lit) as a grey picture at its
// ReportScale; null when levels does not hold width x height bytes.
QImage MirrorPicture(int width, int height, const std::vector<std::uint8_t>& levels);
