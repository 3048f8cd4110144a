// A headless session on the simulated microscope: numbered steps, shown on the terminal as they
// run and recorded in the report.
#pragma once

#include <QLibrary>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "report.h"
#include "scenario.h"

class IZtModuleQ9;
class IZtStimulationDevice;

// Exit codes of verove-host.
enum SessionExit : int {
    kExitDone = 0,
    kExitFailed = 1,    // a step failed
    kExitBadInput = 2,  // command line, scenario file or report folder unusable; nothing ran
    kExitRefused = 3,   // the hardware configuration refused the Verove (galvo XY scanner)
};

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
    int StartUp(QString* detail);
    int SaveAndDisconnect(QString* detail);

    QString SettingsFile() const;
    QImage DrawCameraField() const;

    const Scenario& m_scenario;
    SessionOptions m_options;
    Report* m_report;  // borrowed
    QLibrary m_library;
    IZtModuleQ9* m_module = nullptr;  // released at the end
    std::wstring m_deviceName;        // the connected device's unique name; empty when none
};
