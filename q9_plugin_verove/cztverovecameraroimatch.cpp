// One match of the camera ROI to the part of the image the DMD illuminates.
#include "cztverovecameraroimatch.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "cztverovedriver.h"
#include "verove_log.h"
#include "verove_sample_analysis.h"
#include "verovestatus.h"
#include "zt/zt_camera.h"

namespace {

constexpr double kDegreesPerRadian = 57.29577951308232;

// Overlapping rectangles give their common part, which is empty (zero width or height) when
// they only touch; disjoint ones give the all-zero rectangle.
SZtRect Intersect(const SZtRect& a, const SZtRect& b) {
    const SZtRect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                    std::min(a.bottom, b.bottom)};
    return (r.right < r.left || r.bottom < r.top) ? SZtRect{} : r;
}

bool IsNull(const SZtRect& r) {
    return r.left == 0 && r.top == 0 && r.right == 0 && r.bottom == 0;
}

bool IsEmpty(const SZtRect& r) {
    return r.right == r.left || r.bottom == r.top;
}

bool SameRect(const SZtRect& a, const SZtRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// The matrix and its decomposition, so that a support engineer can tell a bad calibration from
// a bad camera set-up.
void LogCalibrationMatrix(const CZtMatrix3& m) {
    const double sx = std::sqrt(m[0] * m[0] + m[1] * m[1]);
    const double det = m[4] * m[0] - m[3] * m[1];
    const double sy = det / sx;
    const double angle = std::atan2(m[1], m[0]);
    const double shear = (m[4] * m[1] + m[3] * m[0]) / det;
    VEROVE_LOG("CZtVeroveDriver::SyncCameraROI",
               L"Calibration matrix\n %.4f %.4f %.4f \n %.4f %.4f %.4f\n %.4f %.4f %.4f\n sx: "
               L"%.4f, sy: %.4f, tx: %.4f, ty: %.4f, angle: %.4f, shear: %.4f",
               m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8], sx, sy, m[2], m[5], angle,
               shear);
}

}  // namespace

CZtVeroveCameraRoiMatch::CZtVeroveCameraRoiMatch(CZtVeroveDriver& driver,
                                                 CZtCalibrationData& calibration,
                                                 IZtGrabberProvider* grabber)
    : m_driver(driver), m_calibration(calibration), m_grabber(grabber) {}

int CZtVeroveCameraRoiMatch::Run() {
    SZtGrabberFormatDesc format;
    if (ZT_GetDocumentCameraFormat(&format) != 0) {
        VEROVE_LOG("CZtVeroveDriver::SyncCameraROI", L"There is no view to match.");
        return VeroveStatus::kFailed;
    }
    // Image coordinates of the whole sensor's image, whatever ROI is set now: the DMD area, the
    // ROI and the full image must share one frame for the clamping at (0, 0) to mean the image's
    // corner, and a repeated match must find the ROI it set.
    format.value.imageRect = format.value.sensorRect;
    double angle = 0.0;
    if (!m_grabber || m_grabber->CameraAngleSWGet(&angle) != 0) {
        return VeroveStatus::kRefused;
    }

    bool confocal = false;
    m_grabber->IsConfocal(&confocal);
    const SZtScanAreaDesc scanArea = m_calibration.GetScanAreaDesc();
    CZtMatrix3 chipToImage{};
    if (CalcTransformChipToImg(&format, angle, &scanArea, nullptr, confocal, chipToImage.data()) !=
        0) {
        return VeroveStatus::kRefused;
    }
    // The calibration's mapping gives chip coordinates turned about half the region shown now;
    // the whole sensor's image turns about half the sensor. The stored camera -> DMD matrix is a
    // plain sensor map (the mapping is its inverse, turned), so it is turned about the sensor's
    // half instead.
    CZtMatrix3 sensorToChip{};
    CZtMatrix3 dmdToSensor{};
    const CZtMatrix3 sensorToDmd = m_calibration.GetCalibrationCamToDMD();
    bool flip = false;
    if (SensorToChip(format.value.sensorRect, &sensorToChip, &flip) != 0 ||
        InvertMatrix(3, sensorToDmd.data(), dmdToSensor.data()) != 0) {
        return VeroveStatus::kRefused;
    }
    const CZtMatrix3 dmdToImage =
        MultiplyMatrix3(chipToImage, MultiplyMatrix3(sensorToChip, dmdToSensor));

    const double w = m_driver.GetDmdWidth() - 1.0;
    const double h = m_driver.GetDmdHeight() - 1.0;
    const SZtPointD corners[4] = {{0.0, 0.0}, {w, 0.0}, {0.0, h}, {w, h}};
    double minX = HUGE_VAL, minY = HUGE_VAL, maxX = -HUGE_VAL, maxY = -HUGE_VAL;
    for (const SZtPointD& c : corners) {
        const auto [x, y] = ApplyAffine(dmdToImage, c);
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
        minY = std::min(minY, y);
        maxY = std::max(maxY, y);
    }
    const SZtRect dmdRect{static_cast<std::int32_t>(minX), static_cast<std::int32_t>(minY),
                          static_cast<std::int32_t>(maxX), static_cast<std::int32_t>(maxY)};

    const double degrees = angle * kDegreesPerRadian;
    bool roiOn = false;
    SZtRect sensorRoi = format.value.sensorRect;
    if (m_grabber->CameraRoiIsOn(&roiOn) == 0 && roiOn) {
        m_grabber->CameraRoiGet(&sensorRoi);
    }
    SZtRect imageRoi;
    if (ConvertRectSensorToImage(&format, degrees, flip, &sensorRoi, &imageRoi) != 0) {
        return VeroveStatus::kRefused;
    }
    SZtRect intersection = Intersect(dmdRect, imageRoi);
    if (IsEmpty(intersection)) {
        VEROVE_LOG("CZtVeroveDriver::SyncCameraROI",
                   L"Current ROI is outside DMD illumination area. Full image will be synchronized "
                   L"(no image ROI is considered).");
        if (ConvertRectSensorToImage(&format, degrees, flip, &format.value.sensorRect, &imageRoi) !=
            0) {
            return VeroveStatus::kRefused;
        }
        intersection = Intersect(dmdRect, imageRoi);
    }
    if (IsNull(intersection) || IsEmpty(intersection)) {
        LogCalibrationMatrix(dmdToImage);
        VEROVE_LOG("CZtVeroveDriver::SyncCameraROI",
                   IsNull(intersection)
                       ? L"Intersection between DMD and image is RectNull. DMD (%i, %i, %i, %i), "
                         L"Image (%i, %i, %i, %i)"
                       : L"Intersection between DMD and image is RectEmpty. DMD (%i, %i, %i, %i), "
                         L"Image (%i, %i, %i, %i)",
                   dmdRect.left, dmdRect.top, dmdRect.right, dmdRect.bottom, imageRoi.left,
                   imageRoi.top, imageRoi.right, imageRoi.bottom);
        return VeroveStatus::kRefused;
    }
    if (SetCameraRoi(intersection, imageRoi, format, degrees, flip) != 0) {
        VEROVE_LOG("CZtVeroveDriver::SyncCameraROI", L"Failed to set Camera ROI.");
        return VeroveStatus::kRefused;
    }
    return 0;
}

int CZtVeroveCameraRoiMatch::SensorToChip(const SZtRect& region, CZtMatrix3* sensorToChip,
                                          bool* mirrored) {
    CZtMatrix3 rotation{};
    CZtMatrix3 flip{};
    std::array<double, 3> centre{};
    if (m_driver.GetCameraTransform(&rotation, &flip, &centre) != 0) {
        return VeroveStatus::kRefused;
    }
    *mirrored = flip[4] < 0.0;
    centre = {static_cast<double>((region.right - region.left) / 2),
              static_cast<double>((region.bottom - region.top) / 2), 1.0};
    CZtMatrix3 unturn{};
    if (GetMappingToUnrotatedCamera(rotation.data(), flip.data(), centre.data(), unturn.data()) !=
        0) {
        return VeroveStatus::kRefused;
    }
    return InvertMatrix(3, unturn.data(), sensorToChip->data()) == 0 ? 0 : VeroveStatus::kRefused;
}

int CZtVeroveCameraRoiMatch::SetCameraRoi(const SZtRect& intersection, const SZtRect& imageRoi,
                                          const SZtGrabberFormatDesc& format, double degrees,
                                          bool flip) {
    const bool differs = !SameRect(intersection, imageRoi);
    SZtRect sensor;
    if (differs) {
        const SZtRect image{std::max(0, intersection.left), std::max(0, intersection.top),
                            std::min(intersection.right, imageRoi.right),
                            std::min(intersection.bottom, imageRoi.bottom)};
        if (ConvertRectImageToSensor(&format, degrees, flip, &image, &sensor) != 0 ||
            m_grabber->CameraRoiSet(&sensor) != 0 || m_grabber->CameraRoiEnable(true) != 0) {
            return VeroveStatus::kRefused;
        }
    } else if (ConvertRectImageToSensor(&format, degrees, flip, &imageRoi, &sensor) != 0) {
        return VeroveStatus::kRefused;
    }
    VEROVE_LOG("CZtVeroveDriver::SyncCameraROI", L"Camera ROI: (%i, %i, %i, %i), set: %i",
               static_cast<int>(sensor.left / format.value.binningX),
               static_cast<int>(sensor.top / format.value.binningY),
               static_cast<int>(sensor.right / format.value.binningX),
               static_cast<int>(sensor.bottom / format.value.binningY), differs ? 1 : 0);
    return 0;
}
