// The device's calibration procedures: the auto-calibration's steps, the manual calibration's
// slots, and the check of the optical configuration that loads the calibration fitting it.
#pragma once

#include "cztcalibrationdata.h"

class CZtStimulationDeviceVerove;

// Thread-bound to the host's main thread, except SetCalibrated, which the calibration data calls
// on the thread that updates it, possibly holding the calibration's lock.
class CZtVeroveCalibrationProcedures {
public:
    // device is borrowed: it owns the procedures.
    explicit CZtVeroveCalibrationProcedures(CZtStimulationDeviceVerove& device)
        : m_device(device) {}
    CZtVeroveCalibrationProcedures(const CZtVeroveCalibrationProcedures&) = delete;
    CZtVeroveCalibrationProcedures& operator=(const CZtVeroveCalibrationProcedures&) = delete;

    int OnAutocalibrationInit();
    int OnManualCalibrationInit();
    int AutocalibrationRun();
    int OnAutocalibrationEnd(bool apply);
    int OnManualCalibrationEnd(bool apply);
    int OnAutocalibrationValidationPhase();
    int OnManualcalibrationValidationPhase();
    // Re-checks the optical configuration and loads the calibration that fits it.
    int CheckConfigurationDataAndUpdateCalibration(bool* changed);
    void SetCalibrated(EZtCalibrationState state);

private:
    CZtStimulationDeviceVerove& m_device;
};
