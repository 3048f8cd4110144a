// The calibration steps of a session: the device's manual and automatic calibration through its
// own operations, measured against the scenario's optics into the report.
#pragma once

#include <QString>
#include <string>
#include <vector>

#include "measures.h"
#include "scenario.h"

class IZtStimulationDevice;
class Report;

// The unit a calibration addresses.
struct CalibrationUnit {
    IZtStimulationDevice* device = nullptr;  // borrowed
    int index = 0;                           // 0: the unit the Connect export connected
    int count = 1;                           // the units the session connects
    std::wstring name;                       // its unique name, its level in the settings file
    QString settingsFile;                    // where the device stores its calibration
};

// Thread-bound to the session's thread.
class UnitCalibration {
public:
    // Both borrowed from the session.
    UnitCalibration(const Scenario& scenario, Report* report);

    // The manual calibration dialog's steps: squares lit, found in the live picture as a user
    // finds them by eye, paired, validated and accepted.
    int Manual(const CalibrationUnit& unit, QString* detail);
    // The auto-calibration dialog's steps, accepted when the run succeeds. With several units the
    // report holds the fewest squares and the worst residual of the units calibrated so far.
    int Automatic(const CalibrationUnit& unit, QString* detail);
    // "<n> squares, residual ..." of a unit Automatic measured; empty for another.
    QString UnitFigures(int unit) const;
    // Whether the device calls itself calibrated (IZtDeviceDMD::IsCalibrated).
    static bool IsCalibrated(IZtStimulationDevice* device);

private:
    // What the calibration logged of its fit and its warnings, for the step's line (from "; ",
    // empty when it logged neither); the fit goes into the report's summary.
    QString Quality();
    // The DMD-to-camera matrix the device stored last in its settings file (DMD to unbinned,
    // unturned sensor pixels), and its configuration key; false when none.
    static bool StoredCalibration(const CalibrationUnit& unit, Matrix3* dmdToSensor, QString* key);

    const Scenario& m_scenario;
    Report* m_report;
    // Per unit calibrated automatically: its residual (SDK path only) and squares found.
    std::vector<CalibrationResidual> m_unitResiduals;
    std::vector<int> m_unitSquares;
};
