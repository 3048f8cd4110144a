// verove-host's desktop window: the live camera image with the region tools, the host's
// acquisition controls holding the device pad, the light-path devices, what the mirrors show, the
// log, and the menus a microscopist reaches the device's dialogs, calibration and protocol by.
#pragma once

#include <QMainWindow>
#include <QTimer>

#include "camerathread.h"
#include "protocolrunner.h"
#include "roitools.h"
#include "session.h"

class LiveView;
class LogPane;
class QLabel;
class QProgressBar;
class QTreeWidget;
class ShownFrameView;

// GUI thread only.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    // scenario and report are borrowed and outlive the window.
    MainWindow(const Scenario& scenario, const SessionOptions& options, Report* report,
               const QString& logPath);
    ~MainWindow() override;

    // Builds the microscope, connects the device and starts the live image. A step that fails
    // shows its line in a message box (a refused hardware configuration shows the driver's box);
    // the window stays usable without the device. The session's exit code.
    int Start();

    LiveView* View() const { return m_view; }
    RoiTools* Tools() { return &m_tools; }
    ShownFrameView* Mirrors() const { return m_mirrors; }
    ProtocolRunner* Protocol() { return &m_runner; }
    Session* HostSession() { return &m_session; }
    // The device's pad window in the acquisition controls; null without a device.
    QWidget* PadWindow() const { return m_pad; }

public slots:
    // Menu entries.
    void OpenConfiguration();
    void OpenPatternManager();
    // The session's exit code for the calibration step.
    int CalibrateAutomatically();
    void RunProtocol();
    // Hands the regions to the device as its stimulation areas.
    void HandOverRegions();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildMenus();
    void BuildTools();
    void BuildDocks();
    void RefreshDevices();
    void ShowFrame(const LiveFrame& frame);
    // The camera's settings as a user changes them; each keeps what it does not change.
    void TurnCamera(double degrees, bool mirrored);
    void SetBinning(int binning);
    void SetRegion(bool on);
    // Ends what runs and disconnects: the DMD dark and the settings saved. Once.
    void Shutdown();
    void Warn(const QString& text);

    const Scenario& m_scenario;
    Report* m_report;  // borrowed
    QString m_logPath;
    Session m_session;
    RoiTools m_tools;
    CameraThread m_camera;
    ProtocolRunner m_runner;
    LiveView* m_view = nullptr;
    LogPane* m_log = nullptr;
    ShownFrameView* m_mirrors = nullptr;
    QTreeWidget* m_devices = nullptr;
    QWidget* m_pad = nullptr;
    QLabel* m_rate = nullptr;
    QProgressBar* m_progress = nullptr;
    QTimer m_deviceTimer;
    bool m_calibrating = false;
    bool m_closeRequested = false;  // while calibrating
    bool m_shutDown = false;
};
