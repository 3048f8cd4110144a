// Manual calibration of one device: the user lights squares on the DMD one at a time and pairs
// each with the point where the camera shows it; the pairs are fitted as auto-calibration's are.
#pragma once

#include <vector>

#include "cztcalibrationdata.h"
#include "sztaccontainer.h"

class CZtStimulationDeviceVerove;
class CZtVeroveDriver;

// Thread-bound to the GUI thread: no worker, every step runs where the dialog (or verove-host)
// calls it.
class CZtManualCalibration {
public:
    // device is borrowed: it owns this object.
    explicit CZtManualCalibration(CZtStimulationDeviceVerove* device);
    CZtManualCalibration(const CZtManualCalibration&) = delete;
    CZtManualCalibration& operator=(const CZtManualCalibration&) = delete;

    // The device's OnManualCalibrationInit, OnManualcalibrationValidationPhase and
    // OnManualCalibrationEnd.
    int Init();
    int ValidationPhase();
    int End(bool apply);
    // Adds one pair of a DMD point and the camera image point where it shows. 0 when both lists
    // have the same length afterwards, else VeroveStatus::kRefused.
    int AddPair(const SZtPointD& dmd, const SZtPointD& camera);
    // Forgets every pair collected so far.
    void ClearPairs();
    // Shows a square of side 2 * halfSize mirrors centred on point (right and bottom edges
    // excluded), clipped to the DMD. 0 or the upload's status; kRefused without a driver or for a
    // square with no mirror on the DMD; kInvalidArgument for halfSize < 1 or a point off the DMD.
    int DisplayRectangleAtPos(const SZtPointD& point, int halfSize);

    const std::vector<SZtPointD>& GetDmdPoints() const { return m_container.m_dmdPoints; }
    const std::vector<SZtPointD>& GetCameraPoints() const { return m_container.m_cameraPoints; }
    // How the last validation's fit matches the pairs it used; pairs 0 when none was fitted.
    const SZtCalibrationFit& GetFit() const { return m_container.m_fit; }
    // Whether the validation computed both matrices (what OK stores).
    bool HasResult() const;

    // The fewest pairs that make a fit.
    static constexpr std::size_t kMinimumPairs = 3;

private:
    // The session's state back as Init found it: camera ROI, bit depth, active pattern, live.
    int Restore();

    CZtStimulationDeviceVerove* const m_pDevice;
    _SZtACContainer m_container;
    // Between Init and End: what End restores.
    bool m_bSession = false;
    // Validation applied its matrices to the calibration data without storing them.
    bool m_bApplied = false;
};
