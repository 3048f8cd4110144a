#include "mainwindow.h"

#include <QAbstractButton>
#include <QActionGroup>
#include <QCloseEvent>
#include <QDockWidget>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QStatusBar>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "liveview.h"
#include "logpane.h"
#include "reportpictures.h"
#include "shownframeview.h"
#include "zt/zt_devices.h"
#include "zt/zt_dmd.h"
#include "zt/zt_guielement.h"
#include "zt/zt_log.h"
#include "zt/zt_stimulation.h"
#include "zt/zt_util.h"
#include "zthost/gui.h"
#include "zthost/microscope.h"
#include "zthost/zthost.h"

namespace {

using ConfigDialogFn = int (*)(QWidget*, bool, const wchar_t*);

// The kinds of the light path's devices, by their type in the device manager.
QString LightPathKind(int type) {
    switch (type) {
        case ZT_LOGDEV_MULTILASER:
            return QObject::tr("Laser launch");
        case ZT_LOGDEV_LIGHT:
            return QObject::tr("Light");
        case ZT_LOGDEV_SHUTTER:
            return QObject::tr("Shutter");
        case ZT_LOGDEV_LASEROUTPUT:
            return QObject::tr("Switcher");
        default:
            return QString();
    }
}

// A region's sides on the camera's binning grid: the middle half of the sensor.
SZtRect MiddleRegion(const zthost::CameraSetup& camera) {
    const int grid = 8 * static_cast<int>(camera.binningX);
    auto snap = [grid](int value) { return value / grid * grid; };
    return {snap(camera.sensorWidth / 4), snap(camera.sensorHeight / 4),
            snap(camera.sensorWidth * 3 / 4), snap(camera.sensorHeight * 3 / 4)};
}

}  // namespace

MainWindow::MainWindow(const Scenario& scenario, const SessionOptions& options, Report* report,
                       const QString& logPath)
    : m_scenario(scenario),
      m_report(report),
      m_logPath(logPath),
      m_session(scenario, options, report) {
    setWindowTitle(
        tr("verove-host — %1")
            .arg(scenario.Description().isEmpty() ? scenario.Path() : scenario.Description()));
    m_view = new LiveView(&m_tools, this);
    setCentralWidget(m_view);
    m_mirrors = new ShownFrameView(options.sdkFolder, this);
    BuildTools();
    BuildDocks();
    BuildMenus();
    m_rate = new QLabel(this);
    m_progress = new QProgressBar(this);
    m_progress->setMaximumWidth(240);
    m_progress->setVisible(false);
    statusBar()->addPermanentWidget(m_progress);
    statusBar()->addPermanentWidget(m_rate);
    connect(&m_camera, &CameraThread::FrameReady, this, &MainWindow::ShowFrame,
            Qt::QueuedConnection);
    // The scenario's regions are there to start with: "Run protocol" stimulates them.
    for (int g = 0; g < 3; ++g) {
        for (const ScenarioRoi& roi : scenario.Rois()[g]) {
            m_tools.Add(roi, g);
        }
    }
    connect(&m_tools, &RoiTools::RegionsChanged, this, &MainWindow::HandOverRegions);
    connect(
        &m_runner, &ProtocolRunner::Progress, this,
        [this](int done, int total, const QString& line) {
            m_progress->setRange(0, total);
            m_progress->setValue(done);
            statusBar()->showMessage(tr("Stimulation %1/%2: %3").arg(done).arg(total).arg(line));
        });
    connect(&m_runner, &ProtocolRunner::Finished, this, [this](const QString& result) {
        m_progress->setVisible(false);
        statusBar()->showMessage(result);
    });
    m_deviceTimer.setInterval(500);
    connect(&m_deviceTimer, &QTimer::timeout, this, &MainWindow::RefreshDevices);
    resize(1400, 900);
}

MainWindow::~MainWindow() {
    Shutdown();
}

int MainWindow::Start() {
    QString detail;
    const int code = m_session.Open(&detail);
    m_log->Follow(m_logPath);
    m_camera.start();
    m_deviceTimer.start();
    RefreshDevices();
    if (code == kExitRefused) {
        // The driver told the user in its own box.
        statusBar()->showMessage(tr("The hardware configuration refused the Verove: no device"));
        return code;
    }
    if (code != kExitDone) {
        Warn(detail);
        statusBar()->showMessage(tr("No device: %1").arg(detail));
        return code;
    }
    IZtStimulationDevice* device = m_session.Device();
    auto* dmd = static_cast<IZtDeviceDMD*>(device->QueryInterface("IZtDeviceDMD"));
    if (dmd) {
        m_pad = zthost::AddControlPad(dmd->GetControlPadGUIElement(), m_session.DeviceName());
        dmd->Release();
    }
    statusBar()->showMessage(detail);
    return code;
}

void MainWindow::BuildTools() {
    QToolBar* bar = addToolBar(tr("Regions"));
    bar->setObjectName("regions");
    auto* groups = new QActionGroup(this);
    for (int g = 0; g < 3; ++g) {
        QPixmap swatch(12, 12);
        swatch.fill(GroupColour(g));
        QAction* action = bar->addAction(QIcon(swatch), QStringLiteral("S%1").arg(g + 1));
        action->setObjectName(QStringLiteral("group_S%1").arg(g + 1));
        action->setCheckable(true);
        action->setChecked(g == 0);
        groups->addAction(action);
        connect(action, &QAction::triggered, this, [this, g] { m_tools.SetGroup(g); });
    }
    bar->addSeparator();
    auto* tools = new QActionGroup(this);
    const std::pair<RoiTool, QString> kinds[] = {{RoiTool::Select, tr("Move")},
                                                 {RoiTool::Rectangle, tr("Rectangle")},
                                                 {RoiTool::Ellipse, tr("Ellipse")},
                                                 {RoiTool::Polygon, tr("Polygon")},
                                                 {RoiTool::Point, tr("Point")}};
    for (const auto& kind : kinds) {
        QAction* action = bar->addAction(kind.second);
        action->setObjectName("tool_" + kind.second.toLower());
        action->setCheckable(true);
        action->setChecked(kind.first == m_tools.Tool());
        tools->addAction(action);
        const RoiTool tool = kind.first;
        connect(action, &QAction::triggered, this, [this, tool] { m_tools.SetTool(tool); });
    }
    QAction* remove = bar->addAction(tr("Delete"));
    remove->setObjectName("tool_delete");
    connect(remove, &QAction::triggered, &m_tools, &RoiTools::DeleteSelected);
}

void MainWindow::BuildDocks() {
    auto dock = [this](const QString& title, QWidget* widget, Qt::DockWidgetArea area) {
        auto* d = new QDockWidget(title, this);
        d->setObjectName(title);
        d->setWidget(widget);
        addDockWidget(area, d);
        return d;
    };
    dock(tr("Acquisition controls"), zthost::AcquisitionControls(), Qt::RightDockWidgetArea);
    m_devices = new QTreeWidget(this);
    m_devices->setHeaderLabels({tr("Device"), tr("Kind"), tr("State")});
    m_devices->setRootIsDecorated(false);
    m_devices->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    dock(tr("Light path"), m_devices, Qt::RightDockWidgetArea);
    dock(tr("Mirrors now"), m_mirrors, Qt::RightDockWidgetArea);
    m_log = new LogPane(this);
    dock(tr("Log"), m_log, Qt::BottomDockWidgetArea);
}

void MainWindow::BuildMenus() {
    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->addAction(tr("&Quit"), this, &QWidget::close, QKeySequence::Quit);

    QMenu* device = menuBar()->addMenu(tr("&Device"));
    device->addAction(tr("&Configuration..."), this, &MainWindow::OpenConfiguration);
    device->addAction(tr("&Pattern manager..."), this, &MainWindow::OpenPatternManager);
    device->addAction(tr("&Calibrate automatically"), this, &MainWindow::CalibrateAutomatically);
    device->addSeparator();
    QAction* run = device->addAction(tr("&Run protocol"), this, &MainWindow::RunProtocol);
    run->setEnabled(!m_scenario.Protocol().stimulations.empty());

    QMenu* camera = menuBar()->addMenu(tr("C&amera"));
    QMenu* rotation = camera->addMenu(tr("Rotation"));
    auto* turns = new QActionGroup(this);
    for (int degrees : {0, 90, 180, 270}) {
        QAction* action = rotation->addAction(QStringLiteral("%1°").arg(degrees));
        action->setCheckable(true);
        action->setChecked(degrees == static_cast<int>(m_scenario.Camera().setup.rotationDegrees));
        turns->addAction(action);
        connect(action, &QAction::triggered, this, [this, degrees] {
            const zthost::CameraSetup now = zthost::Camera();
            TurnCamera(degrees, now.angleParams[0] != now.angleParams[3]);
        });
    }
    QAction* mirror = camera->addAction(tr("Mirror top to bottom"));
    mirror->setCheckable(true);
    connect(mirror, &QAction::toggled, this,
            [this](bool on) { TurnCamera(zthost::Camera().rotationDegrees, on); });
    QMenu* binning = camera->addMenu(tr("Binning"));
    auto* binnings = new QActionGroup(this);
    for (int factor : {1, 2, 4}) {
        QAction* action = binning->addAction(QStringLiteral("%1 x %1").arg(factor));
        action->setCheckable(true);
        action->setChecked(factor == static_cast<int>(m_scenario.Camera().setup.binningX));
        binnings->addAction(action);
        connect(action, &QAction::triggered, this, [this, factor] { SetBinning(factor); });
    }
    QAction* region = camera->addAction(tr("Region: middle of the sensor"));
    region->setCheckable(true);
    region->setChecked(m_scenario.Camera().setup.roiOn);
    connect(region, &QAction::toggled, this, &MainWindow::SetRegion);

    QMenu* view = menuBar()->addMenu(tr("&View"));
    view->addAction(
        tr("Zoom &in"), this, [this] { m_view->ZoomBy(1.25); }, QKeySequence::ZoomIn);
    view->addAction(
        tr("Zoom &out"), this, [this] { m_view->ZoomBy(0.8); }, QKeySequence::ZoomOut);
    view->addAction(tr("&Fit to window"), m_view, &LiveView::FitToWindow);
}

void MainWindow::ShowFrame(const LiveFrame& frame) {
    const bool newSize = frame.image.size() != m_view->Frame().image.size();
    m_view->ShowFrame(frame);
    if (newSize) {
        HandOverRegions();  // the regions are in image pixels: the device needs the image's size
    }
    m_rate->setText(tr("%1 x %2, %3 frames/s")
                        .arg(frame.image.width())
                        .arg(frame.image.height())
                        .arg(frame.framesPerSecond, 0, 'f', 1));
    m_camera.FrameShown();
}

void MainWindow::RefreshDevices() {
    const std::vector<zthost::LogicalDeviceSetup>& devices = m_scenario.Devices().logical;
    int row = 0;
    for (const zthost::LogicalDeviceSetup& setup : devices) {
        const QString kind = LightPathKind(setup.type);
        if (kind.isEmpty()) {
            continue;
        }
        QTreeWidgetItem* item = m_devices->topLevelItem(row++);
        if (!item) {
            item = new QTreeWidgetItem(m_devices);
        }
        item->setText(0, QString::fromStdWString(setup.key));
        item->setText(1, kind);
        item->setText(2, QString::fromStdWString(zthost::DeviceStateText(setup.id)));
    }
}

void MainWindow::HandOverRegions() {
    IZtStimulationDevice* device = m_session.Device();
    const QImage& image = m_view->Frame().image;
    if (!device || image.isNull()) {
        return;
    }
    const int status = m_tools.HandOver(device, image.width(), image.height());
    statusBar()->showMessage(status == 0
                                 ? tr("%n region(s) handed to the device", nullptr,
                                      static_cast<int>(m_tools.Regions().size()))
                                 : tr("The device refused the regions (status %1)").arg(status));
}

void MainWindow::OpenConfiguration() {
    auto show = reinterpret_cast<ConfigDialogFn>(
        m_session.Library().resolve("ShowStimulationDeviceConfigDialog"));
    if (!show || m_session.DeviceName().empty()) {
        Warn(tr("No device is connected."));
        return;
    }
    const int status = show(this, m_scenario.Dmd().simulator, m_session.DeviceName().c_str());
    if (status != 0) {
        statusBar()->showMessage(
            tr("The configuration dialog did not open (status %1)").arg(status));
    }
}

void MainWindow::OpenPatternManager() {
    // The plug-in opens its pattern manager from its pad only.
    auto* button = m_pad ? m_pad->findChild<QAbstractButton*>("m_pBtnPatternExternal") : nullptr;
    if (!button) {
        Warn(tr("No device is connected."));
        return;
    }
    button->click();
}

int MainWindow::CalibrateAutomatically() {
    if (m_session.DeviceName().empty() || m_calibrating) {
        return kExitFailed;
    }
    m_calibrating = true;
    statusBar()->showMessage(tr("Calibrating..."));
    QString detail;
    const int code = m_session.Calibrate(&detail);
    m_session.RecordStep(QStringLiteral("Calibrate automatically and accept"), code, detail);
    const zthost::CameraSetup& planned = m_scenario.Camera().setup;
    zthost::CameraSetup camera = zthost::Camera();
    if (code == kExitDone && planned.roiOn && !camera.roiOn) {
        // An uncalibrated device switched the camera's region off; the user switches it on again.
        camera.roiOn = true;
        camera.roi = planned.roi;
        zthost::SetCamera(camera);
    }
    if (code == kExitDone) {
        HandOverRegions();  // rendered again through the new calibration
    }
    m_calibrating = false;
    statusBar()->showMessage(code == kExitDone ? tr("Calibrated: %1").arg(detail)
                                               : tr("Calibration failed: %1").arg(detail));
    if (m_closeRequested) {
        close();  // the user closed the window while the calibration ran
    }
    return code;
}

void MainWindow::RunProtocol() {
    IZtStimulationDevice* device = m_session.Device();
    if (!device || m_runner.Running()) {
        return;
    }
    m_progress->setRange(0, static_cast<int>(m_scenario.Protocol().stimulations.size()));
    m_progress->setValue(0);
    m_progress->setVisible(true);
    m_runner.Start(device, m_scenario.Protocol().stimulations);
}

void MainWindow::TurnCamera(double degrees, bool mirrored) {
    if (zthost::TurnCamera(degrees, mirrored) != 0) {
        Warn(tr("The camera refused the turn."));
    }
    // The regions were drawn on the image as it was.
    m_tools.Clear();
}

void MainWindow::SetBinning(int binning) {
    zthost::CameraSetup camera = zthost::Camera();
    camera.binningX = camera.binningY = binning;
    if (camera.roiOn) {
        camera.roi = MiddleRegion(camera);
    }
    if (zthost::SetCamera(camera) != 0) {
        Warn(tr("The camera refused binning %1.").arg(binning));
    }
    m_tools.Clear();
}

void MainWindow::SetRegion(bool on) {
    zthost::CameraSetup camera = zthost::Camera();
    camera.roiOn = on;
    camera.roi = MiddleRegion(camera);
    if (zthost::SetCamera(camera) != 0) {
        Warn(tr("The camera refused the region."));
    }
    m_tools.Clear();
}

void MainWindow::Warn(const QString& text) {
    ZT_MessageBox_(this, text.toStdWString().c_str(), L"verove-host", ZT_MB_OK | ZT_MB_ICONERROR);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (m_calibrating) {
        // The calibration's loop runs below this event; it closes the window when it ends.
        m_closeRequested = true;
        event->ignore();
        statusBar()->showMessage(tr("Closing once the calibration ends..."));
        return;
    }
    Shutdown();
    event->accept();
}

void MainWindow::Shutdown() {
    if (m_shutDown) {
        return;
    }
    m_shutDown = true;
    m_deviceTimer.stop();
    m_runner.Cancel();
    m_camera.Stop();
    QString detail;
    if (m_session.Close(&detail) != kExitDone) {
        ZT_DIAG_OUTPUT(L"%s %hs: %s", L"verove-host", "MainWindow::Shutdown",
                       detail.toStdWString().c_str());
    }
    m_pad = nullptr;
}
