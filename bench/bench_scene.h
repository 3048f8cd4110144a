// The benchmark scene: a DMD looking at a binned camera ROI through a turned, scaled calibration.
#pragma once

#include <cstdint>
#include <memory>

#include "cztcalibrationdata.h"
#include "patterns.h"

// Thread-bound: one benchmark thread builds and uses a scene.
class CBenchScene {
public:
    // A DMD of width x height mirrors and a camera image about as large as the DMD sees it.
    CBenchScene(std::uint32_t width, std::uint32_t height);
    ~CBenchScene();

    // "S1" with a rectangle, a polygon and an ellipse-like polygon; gradient areas make the
    // mapped picture grey, so that dithering has error to diffuse.
    CZtPattern AreaPattern(bool gradient) const;
    // A DMD-mapped grey bitmap of the DMD size.
    CZtPattern BitmapPattern() const;
    // The camera image of the areas and the DMD -> image matrix the pattern maps it with.
    const SZtPicBuf& CameraPicture() const { return m_cameraPicture; }
    const double* DmdToImage() const { return m_dmdToImage; }

    std::uint32_t width;
    std::uint32_t height;
    SZtGrabberFormatValue format;
    CZtCalibrationData* Calibration() { return m_calibration.get(); }

private:
    class Owner;
    std::unique_ptr<Owner> m_owner;
    std::unique_ptr<CZtCalibrationData> m_calibration;
    SZtRLEPicBuf m_mask;
    SZtPicBuf m_cameraPicture;
    double m_dmdToImage[9];
};
