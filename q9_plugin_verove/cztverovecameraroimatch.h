// One match of the camera ROI to the part of the image the DMD illuminates.
#pragma once

#include "cztcalibrationdata.h"
#include "zt/zt_grabber.h"

class CZtVeroveDriver;

// Thread-bound: made and run inside CZtVeroveDriver::SyncCameraROI, on its thread. Maps the DMD's
// corners into the image of the whole sensor, intersects them with the ROI shown now (or with the
// whole image when they do not meet) and sets the result as the camera's ROI.
class CZtVeroveCameraRoiMatch {
public:
    // driver, calibration and grabber are borrowed for the match; grabber may be null.
    CZtVeroveCameraRoiMatch(CZtVeroveDriver& driver, CZtCalibrationData& calibration,
                            IZtGrabberProvider* grabber);

    // 0; kFailed without a view to match; kRefused when the camera or a transform refuses or the
    // DMD lies outside the image.
    int Run();

private:
    // Sensor -> chip coordinates of an image showing region, turned and mirrored as the camera
    // is now (camera_geometry.md), and whether the camera mirrors. 0 or kRefused.
    int SensorToChip(const SZtRect& region, CZtMatrix3* sensorToChip, bool* mirrored);
    int SetCameraRoi(const SZtRect& intersection, const SZtRect& imageRoi,
                     const SZtGrabberFormatDesc& format, double degrees, bool flip);

    CZtVeroveDriver& m_driver;
    CZtCalibrationData& m_calibration;
    IZtGrabberProvider* const m_grabber;
};
