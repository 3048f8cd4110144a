// A headless session on the simulated microscope: numbered steps, shown on the terminal as they
// run and recorded in the report.
#pragma once

#include <QLibrary>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "measures.h"
#include "protocolmeasurement.h"
#include "report.h"
#include "scenario.h"
#include "sessionexit.h"
#include "simulateddmd.h"
#include "unitaggregation.h"
#include "unitcalibration.h"

class IZtModuleQ9;
class IZtDeviceDMD;
class IZtStimulationDevice;

struct SessionOptions {
    QString pluginPath;
    QString sdkFolder;  // searched first for the SDK library on the SDK path
};

// Thread-bound: runs on the host's main thread, where the host calls the plug-in's exports.
class Session {
public:
    Session(const Scenario& scenario, const SessionOptions& options, Report* report);
    ~Session();

    // Runs the steps in order, stopping at the first that fails; disconnecting still runs when a
    // device is connected. Returns the exit code.
    int Run();

    // For a window a user works in: the steps that make the device ready (the microscope, the
    // plug-in, the connect, the TRAX port, the stored light path, the start-up), without the
    // terminal. Stops at the first that fails, with detail naming it; a device that did connect
    // stays connected until Close.
    int Open(QString* detail);
    // Saves the settings and disconnects; done when no device is connected.
    int Close(QString* detail);
    // The device's auto-calibration, accepted when it succeeds (the session's step).
    int Calibrate(QString* detail);
    // Adds a step the window ran to the report, numbered after the ones before.
    void RecordStep(const QString& title, int code, const QString& detail);
    // The connected device as the host's stimulation-device manager holds it (borrowed), or null.
    IZtStimulationDevice* Device() const;
    const std::wstring& DeviceName() const { return m_deviceName; }
    // The plug-in library, loaded once Open got that far.
    QLibrary& Library() { return m_library; }

private:
    // Each step returns an exit code and sets detail to one line on what it did or why it failed.
    using StepFunction = int (Session::*)(QString* detail);
    struct Step {
        QString title;
        StepFunction run = nullptr;
        bool cleanup = false;  // runs after a failure, while a device is connected
    };

    std::vector<Step> Steps() const;
    int BuildMicroscope(QString* detail);
    int LoadPlugin(QString* detail);
    int ConnectDevice(QString* detail);
    int SetTraxPort(QString* detail);
    int StoreLightPath(QString* detail);
    int StartUp(QString* detail);
    int CheckLightPath(QString* detail);
    int ShowDmdField(QString* detail);
    int CalibrateManually(QString* detail);
    // With further units: each unit's auto-calibration in turn, then the aggregator over them.
    int CalibrateUnits(QString* detail);
    int Aggregate(QString* detail);
    // The aggregator's refusal of groups in parallel that one unit owns (S1 and S3 of two units).
    int ValidateParallelGroups(QString* detail);
    int TurnCamera(QString* detail);
    int DrawRois(QString* detail);
    int RunProtocol(QString* detail);
    int StepBitDepths(QString* detail);
    int ProgramIlluminationSequence(QString* detail);
    int SaveAndDisconnect(QString* detail);
    // The assignment the aggregator saved against the groups the units held, and against the
    // settings file after the units saved too; adds to detail.
    int CheckStoredAssignment(const std::vector<StoredUnitGroups>& saved, QString* detail);

    QString SettingsFile() const;
    // The units the session connects: the scenario's, one on the simulated unit.
    int Units() const;
    // The unit the device steps address now (0 but while CalibrateUnits runs) and its name.
    const std::wstring& UnitName() const;
    // Where stimulations go: the aggregator when there is one, else the device. Borrowed.
    IZtStimulationDevice* Target() const;
    // The connected device's DMD interface with a reference added, or null.
    IZtDeviceDMD* DeviceDmd() const;
    // Shows the pattern of that name on the mirrors; false when the device has none or refuses.
    bool ShowPattern(const wchar_t* name) const;
    // The unit the calibration steps address now.
    CalibrationUnit CurrentUnit() const;
    // The id of the device's pattern of that name; false when it has none.
    bool PatternId(const wchar_t* name, ZT_DWORD* id) const;

    const Scenario& m_scenario;
    SessionOptions m_options;
    Report* m_report;             // borrowed
    SimulatedDmd m_simulatedDmd;  // the SDK path's DMD, when the SDK library is the simulated one
    QLibrary m_library;
    IZtModuleQ9* m_module = nullptr;  // released at the end
    std::wstring m_deviceName;        // the connected device's unique name; empty when none
    UnitAggregation m_aggregation;    // the further units and their aggregator
    int m_unit = 0;                   // the unit Device() and the calibration address
    // Per unit: the groups it holds ROIs of once they are drawn.
    std::vector<std::uint32_t> m_unitGroups;
    int m_recordedSteps = 0;  // steps the window ran, in the report
    UnitCalibration m_calibration;
    ProtocolMeasurement m_protocol;
};
