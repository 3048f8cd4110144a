// The steps of a headless session, run through the plug-in's exports as the acquisition
// application calls them.
#include "session.h"

#include <QColor>
#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QPen>
#include <algorithm>
#include <cstdio>

#include "simulateddmd.h"
#include "zt/zt_grabber.h"
#include "zt/zt_module.h"
#include "zt/zt_stimulation.h"
#include "zt/zt_util.h"
#include "zthost/registry_store.h"
#include "zthost/settings_store.h"
#include "zthost/zthost.h"

namespace {

using ConnectFn = bool (*)(bool, bool, std::uint32_t, const wchar_t*, wchar_t*, bool*);
using SetTraxPortFn = bool (*)(std::uint32_t, std::uint32_t, bool);

const QColor kGroupColours[] = {QColor(230, 60, 60), QColor(60, 200, 90), QColor(70, 140, 255)};
const char* const kGroupNames[] = {"S1", "S2", "S3"};

void Print(const QString& line) {
    std::printf("%s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);  // progress shows as it happens, also through a pipe
}

// The last line the plug-in's Connect export logged since the capture was cleared.
QString LastConnectLine() {
    const std::wstring prefix = L"Verove Connect: ";
    QString last;
    for (const std::wstring& line : zthost::CapturedLog()) {
        if (line.rfind(prefix, 0) == 0) {
            last = QString::fromStdWString(line.substr(prefix.size()));
        }
    }
    return last;
}

}  // namespace

Session::Session(const Scenario& scenario, const SessionOptions& options, Report* report)
    : m_scenario(scenario), m_options(options), m_report(report) {}

Session::~Session() {
    if (m_module) {
        m_module->Release();
    }
}

std::vector<Session::Step> Session::Steps() const {
    std::vector<Step> steps = {
        {"Build the simulated microscope", &Session::BuildMicroscope},
        {"Load the plug-in", &Session::LoadPlugin},
        {m_scenario.Dmd().simulator ? "Connect the SDK's simulated Verove"
                                    : "Connect the Verove through the SDK",
         &Session::ConnectDevice},
    };
    if (m_scenario.Devices().traxSet) {
        steps.push_back({"Set the TRAX port", &Session::SetTraxPort});
    }
    steps.push_back({"Start up (\"InitSwLifeDeviceOnStartup\")", &Session::StartUp});
    steps.push_back({"Save the settings and disconnect", &Session::SaveAndDisconnect, true});
    return steps;
}

int Session::Run() {
    const std::vector<Step> steps = Steps();
    int exitCode = kExitDone;
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        const int number = static_cast<int>(i) + 1;
        const QString head =
            QStringLiteral("[%1/%2] %3").arg(number).arg(steps.size()).arg(step.title);
        if (exitCode != kExitDone && !(step.cleanup && !m_deviceName.empty())) {
            Print(head + ": skipped");
            m_report->AddStep(number, step.title, Report::Outcome::Skipped, QString());
            continue;
        }
        Print(head);
        const size_t boxesBefore = zthost::MessageBoxes().size();
        QString detail;
        const int code = (this->*step.run)(&detail);
        Report::Outcome outcome = Report::Outcome::Done;
        QString status;
        if (code == kExitRefused) {
            outcome = Report::Outcome::Refused;
            status = "refused: ";
        } else if (code != kExitDone) {
            outcome = Report::Outcome::Failed;
            status = "FAILED: ";
        }
        Print("      " + status + detail);
        // Headless, the host answers message boxes at once; the user reads them here.
        const std::vector<zthost::MessageBoxRecord> boxes = zthost::MessageBoxes();
        for (size_t b = boxesBefore; b < boxes.size(); ++b) {
            const QString box = QStringLiteral("message box \"%1\": %2")
                                    .arg(QString::fromStdWString(boxes[b].title),
                                         QString::fromStdWString(boxes[b].text).replace('\n', ' '));
            Print("      " + box);
            detail += (detail.isEmpty() ? "" : "; ") + box;
        }
        m_report->AddStep(number, step.title, outcome, detail);
        if (exitCode == kExitDone) {
            exitCode = code;
        }
    }
    return exitCode;
}

int Session::BuildMicroscope(QString* detail) {
    // The host's files stay with the report: every session starts from a fresh host.
    const QDir staging(m_report->StagingPath());
    zthost::SetSettingsLocation(staging.filePath("settings").toStdWString());
    zthost::SetRegistryLocation(staging.filePath("registry.ini").toStdWString());
    const int status = m_scenario.Apply();
    if (status != 0) {
        *detail = QStringLiteral("the host refused the microscope (status %1)").arg(status);
        return kExitFailed;
    }
    const ScenarioCamera& camera = m_scenario.Camera();
    m_report->AddPicture("camera-field.png", DrawCameraField(),
                         "The camera image as displayed: the stimulation ROIs as drawn (S1 red, "
                         "S2 green, S3 blue) and, dashed, where the DMD field lands on it.");
    *detail = QStringLiteral(
                  "%1 devices, %2 galvo XY scanners; camera %3 x %4 sensor, image "
                  "%5 x %6 px, %7-bit")
                  .arg(m_scenario.Devices().logical.size())
                  .arg(m_scenario.Devices().galvoXYCount)
                  .arg(camera.setup.sensorWidth)
                  .arg(camera.setup.sensorHeight)
                  .arg(camera.imageWidth)
                  .arg(camera.imageHeight)
                  .arg(camera.setup.bitDepth);
    return kExitDone;
}

int Session::LoadPlugin(QString* detail) {
    std::wstring error;
    const int classes = zthost::LoadPluginLibrary(m_options.pluginPath.toStdWString(), &error);
    if (classes < 0) {
        *detail = QStringLiteral("cannot load %1: %2")
                      .arg(m_options.pluginPath, QString::fromStdWString(error));
        return kExitFailed;
    }
    m_library.setFileName(m_options.pluginPath);
    m_library.load();
    const char* moduleClass = m_scenario.Dmd().simulator ? "CZtModuleVeroveSim" : "CZtModuleVerove";
    m_module = static_cast<IZtModuleQ9*>(CZtRTTI::CreateAndQuery(moduleClass, "IZtModuleQ9"));
    if (!m_module || !m_library.resolve("Connect")) {
        *detail = QStringLiteral("%1 lacks its module %2 or its Connect export")
                      .arg(m_options.pluginPath, moduleClass);
        return kExitFailed;
    }
    m_module->SetHostContext(zthost::HostContext());
    if (m_module->RegisterModuleEvents() != 0) {
        *detail = QStringLiteral("%1 refused to register for its host events").arg(moduleClass);
        return kExitFailed;
    }
    *detail = QStringLiteral("%1: %2 classes; %3 registered for its host events")
                  .arg(m_options.pluginPath)
                  .arg(classes)
                  .arg(moduleClass);
    return kExitDone;
}

int Session::ConnectDevice(QString* detail) {
    const ScenarioDmd& dmd = m_scenario.Dmd();
    if (!dmd.simulator) {
        zthost::PrependSearchFolder(m_options.sdkFolder.toStdWString());
        ConnectSimulatedDmd(m_options.sdkFolder);
    }
    m_report->SetDmdPath(
        dmd.simulator
            ? QStringLiteral("the SDK's simulated unit")
            : QStringLiteral("the SDK library in %1, searched first").arg(m_options.sdkFolder));
    auto connect = reinterpret_cast<ConnectFn>(m_library.resolve("Connect"));
    zthost::ClearCapturedLog();
    wchar_t name[ZT_MAX_PATH] = L"";
    bool conflict = false;
    if (!connect(true, dmd.simulator, dmd.brand, L"Verove", name, &conflict)) {
        if (conflict) {
            *detail = QStringLiteral("the hardware configuration does not allow the Verove");
            return kExitRefused;
        }
        *detail = LastConnectLine();
        return kExitFailed;
    }
    m_deviceName = name;
    CZtStringW displayName;
    if (IZtStimulationDevice* device =
            CZtStimulationDeviceManager::GetInstance()->GetStaticDevice(name)) {
        device->GetDisplayName(&displayName, 0);
    }
    *detail =
        QStringLiteral("connected as %1, shown as \"%2\"")
            .arg(QString::fromWCharArray(name), QString::fromWCharArray(displayName.GetString()));
    return kExitDone;
}

int Session::SetTraxPort(QString* detail) {
    const ScenarioDevices& devices = m_scenario.Devices();
    auto setTraxPort = reinterpret_cast<SetTraxPortFn>(m_library.resolve("SetTraxPort"));
    if (!setTraxPort ||
        !setTraxPort(devices.traxPortA, devices.traxPortB, m_scenario.Dmd().simulator)) {
        *detail = QStringLiteral("the device refused ports %1 and %2")
                      .arg(devices.traxPortA)
                      .arg(devices.traxPortB);
        return kExitFailed;
    }
    *detail = QStringLiteral("ports %1 and %2").arg(devices.traxPortA).arg(devices.traxPortB);
    return kExitDone;
}

int Session::StartUp(QString* detail) {
    const bool existed = QFileInfo::exists(SettingsFile());
    zthost::ClearCapturedLog();
    bool handled = false;
    zthost::PluginManager()->SendModuleEvent(L"InitSwLifeDeviceOnStartup", 0, &handled, nullptr);
    if (!zthost::LogContains(L"CZtStimulationDeviceVerove::ValidateAndApplySettings: Start")) {
        *detail = QStringLiteral("the device did not read its settings");
        return kExitFailed;
    }
    const QString name = QFileInfo(SettingsFile()).fileName();
    *detail = existed ? QStringLiteral("settings read from %1").arg(name)
                      : QStringLiteral("no %1 yet: the device starts from its defaults").arg(name);
    return kExitDone;
}

int Session::SaveAndDisconnect(QString* detail) {
    auto connect = reinterpret_cast<ConnectFn>(m_library.resolve("Connect"));
    std::vector<wchar_t> name(m_deviceName.begin(), m_deviceName.end());
    name.resize(ZT_MAX_PATH, L'\0');
    zthost::ClearCapturedLog();
    const bool disconnected = connect(false, m_scenario.Dmd().simulator, m_scenario.Dmd().brand,
                                      L"", name.data(), nullptr);
    const QString device = QString::fromStdWString(m_deviceName);
    m_deviceName.clear();
    if (!disconnected) {
        *detail = QStringLiteral("%1 not disconnected: %2").arg(device, LastConnectLine());
        return kExitFailed;
    }
    const QFileInfo settings(SettingsFile());
    if (!settings.exists()) {
        *detail =
            QStringLiteral("%1 disconnected without saving %2").arg(device, settings.fileName());
        return kExitFailed;
    }
    *detail = QStringLiteral("settings/%1 saved (%2 bytes); %3 disconnected")
                  .arg(settings.fileName())
                  .arg(settings.size())
                  .arg(device);
    return kExitDone;
}

QString Session::SettingsFile() const {
    // The device's settings file, one per device kind, in the host's settings folder.
    return QDir(QString::fromStdWString(zthost::SettingsLocation()))
        .filePath(m_scenario.Dmd().simulator ? "VeroveSim.bin" : "Verove.bin");
}

QImage Session::DrawCameraField() const {
    const ScenarioCamera& camera = m_scenario.Camera();
    const double scale = std::min(1.0, 1024.0 / std::max(camera.imageWidth, camera.imageHeight));
    QImage image(std::max(1, qRound(camera.imageWidth * scale)),
                 std::max(1, qRound(camera.imageHeight * scale)), QImage::Format_RGB32);
    image.fill(QColor(20, 20, 24));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(scale, scale);
    QFont font = painter.font();
    font.setPixelSize(std::max(8, qRound(16 / scale)));
    painter.setFont(font);

    // The ground truth: the mirror array's corners through the optics onto the sensor, then
    // through the host's own sensor-to-image geometry.
    IZtGrabberProvider* grabber = zthost::HostContext()->GetGrabberProvider();
    SZtGrabberFormatDesc format;
    double radians = 0.0;
    double chipToImage[9] = {};
    if (grabber && grabber->CameraSettingsGet(&format) == 0 &&
        grabber->CameraAngleSWGet(&radians) == 0 &&
        CalcTransformChipToImg(&format, radians, nullptr, nullptr, false, chipToImage) == 0) {
        const std::array<double, 6>& m = m_scenario.Optics().dmdToSensor;
        const double columns = ScenarioDmd::kMirrorColumns;
        const double rows = ScenarioDmd::kMirrorRows;
        QPolygonF field;
        for (const QPointF& mirror :
             {QPointF(0, 0), QPointF(columns, 0), QPointF(columns, rows), QPointF(0, rows)}) {
            const double sx = m[0] * mirror.x() + m[1] * mirror.y() + m[2];
            const double sy = m[3] * mirror.x() + m[4] * mirror.y() + m[5];
            field << QPointF(chipToImage[0] * sx + chipToImage[1] * sy + chipToImage[2],
                             chipToImage[3] * sx + chipToImage[4] * sy + chipToImage[5]);
        }
        painter.setPen(QPen(Qt::white, 2 / scale, Qt::DashLine));
        painter.drawPolygon(field);
        // The first mirror row, so that turns and flips of the field show.
        painter.setPen(QPen(Qt::white, 5 / scale));
        painter.drawLine(field[0], field[1]);
    }

    for (int g = 0; g < 3; ++g) {
        painter.setPen(QPen(kGroupColours[g], 2 / scale));
        for (const ScenarioRoi& roi : m_scenario.Rois()[g]) {
            switch (roi.shape) {
                case ScenarioRoiShape::Rectangle:
                    painter.drawRect(roi.bounds);
                    break;
                case ScenarioRoiShape::Ellipse:
                    painter.drawEllipse(roi.bounds);
                    break;
                case ScenarioRoiShape::Polygon:
                    painter.drawPolygon(roi.polygon);
                    break;
            }
            const QString label = roi.label.empty()
                                      ? QString(kGroupNames[g])
                                      : QStringLiteral("%1 %2").arg(
                                            kGroupNames[g], QString::fromStdWString(roi.label));
            painter.drawText(roi.bounds.topLeft() + QPointF(0, -4 / scale), label);
        }
    }
    return image;
}
