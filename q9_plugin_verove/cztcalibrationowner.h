// What the calibration data needs from the stimulation device that owns it.
#pragma once

#include "cztconfigurationdata.h"
#include "zt/zt_string.h"

class IZtGrabberProvider;
struct SZtGrabberFormatDesc;

// Implemented by the stimulation device; its operations may be called from any thread that uses
// the calibration data, some of them while the calibration's main lock is held.
class IZtCalibrationOwner {
public:
    // The device's unique name: the settings level its calibrations live under.
    virtual CZtStringW GetUniqueName() = 0;
    // The device's settings file ("<name>.bin"), shared by every device of its kind.
    virtual CZtStringW GetSettingsFileName() = 0;
    // The host's grabber (the active camera), borrowed; null when the host has none.
    virtual IZtGrabberProvider* GetGrabberProvider() = 0;
    virtual bool HasDriver() = 0;
    // The driver's current camera format; non-zero when there is none.
    virtual int GetCurrentFormat(SZtGrabberFormatDesc* format) = 0;
    // Told after every state update, changed or not.
    virtual void SetCalibrated(EZtCalibrationState state) = 0;

protected:
    ~IZtCalibrationOwner() = default;
};
