// The report's pictures: camera images with the stimulation ROIs, the DMD field and the
// calibration's spots over them, and mirror frames.
#pragma once

#include <QImage>
#include <QPointF>
#include <QPolygonF>
#include <cstdint>
#include <vector>

#include "measures.h"
#include "scenario.h"

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
};

// The camera image as displayed (the frame's size, else the scenario's), at most 1024 pixels on
// its longer side: the parts drawn over it
// (ROIs in their group's colour, S1 red, S2 green, S3 blue; outlines with their first mirror row
// thick, so that turns and flips show; spots as yellow crosses).
QImage CameraPicture(const Scenario& scenario, const CameraPictureParts& parts);

// A mirror frame (one byte per mirror, 0 dark to 255 lit) as a grey picture; null when levels
// does not hold width x height bytes.
QImage MirrorPicture(int width, int height, const std::vector<std::uint8_t>& levels);
