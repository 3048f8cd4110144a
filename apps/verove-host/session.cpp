// The steps of a headless session, run through the plug-in's exports as the acquisition
// application calls them.
#include "session.h"

#include <QColor>
#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QPen>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "measures.h"
#include "reportpictures.h"
#include "simulateddmd.h"
#include "zt/zt_acquisition.h"
#include "zt/zt_devices.h"
#include "zt/zt_dmd.h"
#include "zt/zt_grabber.h"
#include "zt/zt_laserpower.h"
#include "zt/zt_module.h"
#include "zt/zt_settings.h"
#include "zt/zt_stimulation.h"
#include "zt/zt_util.h"
#include "zthost/microscope.h"
#include "zthost/registry_store.h"
#include "zthost/settings_store.h"
#include "zthost/zthost.h"

namespace {

using ConnectFn = bool (*)(bool, bool, std::uint32_t, const wchar_t*, wchar_t*, bool*);
using SetTraxPortFn = bool (*)(std::uint32_t, std::uint32_t, bool);

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
    : m_scenario(scenario),
      m_options(options),
      m_report(report),
      m_simulatedDmd(options.sdkFolder) {}

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
    steps.push_back(
        {"Store the light path in the device's settings file", &Session::StoreLightPath});
    steps.push_back({"Start up (\"InitSwLifeDeviceOnStartup\")", &Session::StartUp});
    steps.push_back({"Check the light path association", &Session::CheckLightPath});
    steps.push_back({"Show the DMD field to the camera", &Session::ShowDmdField});
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
    CameraPictureParts field;
    field.groupMask = 7;
    field.truthOutline = true;
    m_report->AddPicture("camera-field.png", CameraPicture(m_scenario, field),
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
        m_simulatedDmd.ConnectCamera();
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

int Session::StoreLightPath(QString* detail) {
    // What a user's earlier session left in the device's settings file: the device finds its
    // light, switcher and shutters there when it starts up, through the host's device manager.
    const ScenarioLight& light = m_scenario.Light();
    zthost::LogicalDeviceSetup source;
    if (!zthost::FindLogicalDevice(light.sourceId, &source)) {
        *detail = QStringLiteral("the host has no device %1").arg(light.sourceId);
        return kExitFailed;
    }
    const size_t lineCount = light.multiLaser ? source.lines.size() : 1;
    CZtLiteVariantW tree;
    tree.OpenLevel(L"Verove");
    tree.AddInt(L"FileVersion", 8);
    tree.OpenLevel(m_deviceName.c_str());
    tree.OpenLevel(L"Definition");
    tree.OpenLevel(L"Illumination");
    tree.AddString(L"LaserLaunch", light.source.c_str());
    tree.AddString(L"LaserLaunchType", light.multiLaser ? L"IDeviceMultiLaser" : L"IDeviceLight");
    tree.OpenLevel(L"LaserSwitcher");
    tree.AddString(L"LaserSwitcherKey", light.switcher.c_str());
    tree.AddUInt(L"LaserSwitcherPort", static_cast<std::uint32_t>(light.switcherPort));
    tree.CloseLevel();
    tree.OpenLevel(L"StimulationGrups");
    for (std::uint32_t g = 0; g < 3; ++g) {
        tree.OpenLevel(L"Group");
        tree.AddUInt(L"Id", g);
        tree.OpenLevel(L"LaserLines");
        for (size_t l = 0; l < lineCount; ++l) {
            const ScenarioLine line =
                l < light.groups[g].size() ? light.groups[g][l] : ScenarioLine();
            tree.OpenLevel(L"LaserLine");
            tree.AddUInt(L"Id", static_cast<std::uint32_t>(l));
            tree.AddDouble(L"Power", line.power);
            tree.AddBool(L"Used", line.used);
            tree.AddBool(L"Visible", true);
            tree.CloseLevel();
        }
        tree.CloseLevel();
        tree.CloseLevel();
    }
    tree.CloseLevel();
    tree.OpenLevel(L"ShutterChain");
    for (const std::wstring& key : light.shutters) {
        tree.AddString(L"Shutter", key.c_str());
    }
    tree.Finalize();
    const QString name = QFileInfo(SettingsFile()).fileName();
    const int status = ZT_SaveSettingsFile(name.toStdWString().c_str(), tree);
    if (status != 0) {
        *detail = QStringLiteral("cannot write %1 (status %2)").arg(name).arg(status);
        return kExitFailed;
    }
    QStringList keys;
    for (const std::wstring& key : light.shutters) {
        keys << '"' + QString::fromStdWString(key) + '"';
    }
    *detail = QStringLiteral("%1: light \"%2\" with %3 lines per group, %4, shutter chain %5")
                  .arg(name, QString::fromStdWString(light.source))
                  .arg(lineCount)
                  .arg(light.switcher.empty() ? QStringLiteral("no switcher")
                                              : QStringLiteral("switcher \"%1\" port %2")
                                                    .arg(QString::fromStdWString(light.switcher))
                                                    .arg(light.switcherPort))
                  .arg(keys.isEmpty() ? QStringLiteral("empty") : keys.join(", "));
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

int Session::CheckLightPath(QString* detail) {
    const ScenarioLight& light = m_scenario.Light();
    IZtStimulationDevice* device = Device();
    auto* dmd =
        device ? static_cast<IZtDeviceDMD*>(device->QueryInterface("IZtDeviceDMD")) : nullptr;
    if (!dmd) {
        *detail = QStringLiteral("the device does not answer \"IZtDeviceDMD\"");
        return kExitFailed;
    }
    ZT_DWORD lightId = 0;
    ZT_DWORD switcherId = 0;
    ZT_DWORD port = 0;
    ZT_DWORD shutterCount = 0;
    dmd->GetAssociatedLightId(&lightId);
    dmd->GetAssociatedSwitcherId(&switcherId);
    dmd->GetAssociatedSwitcherPort(&port);
    dmd->GetAssociatedShutterCount(&shutterCount);
    std::vector<ZT_DWORD> shutterIds(shutterCount);
    for (ZT_DWORD i = 0; i < shutterCount; ++i) {
        dmd->GetAssociatedShutterId(static_cast<int>(i), &shutterIds[i]);
    }
    dmd->Release();

    // The ids the device reports must be the scenario's devices in the host's device manager.
    QStringList wrong;
    auto keyOf = [](ZT_DWORD id, int type) {
        zthost::LogicalDeviceSetup setup;
        return zthost::FindLogicalDevice(id, &setup) && setup.type == type ? setup.key
                                                                           : std::wstring();
    };
    if (keyOf(lightId, light.multiLaser ? ZT_LOGDEV_MULTILASER : ZT_LOGDEV_LIGHT) != light.source) {
        wrong << QStringLiteral("light id %1").arg(lightId);
    }
    if (keyOf(switcherId, ZT_LOGDEV_LASEROUTPUT) != light.switcher ||
        (!light.switcher.empty() && port != static_cast<ZT_DWORD>(light.switcherPort))) {
        wrong << QStringLiteral("switcher id %1 port %2").arg(switcherId).arg(port);
    }
    bool shuttersRight = shutterIds.size() == light.shutters.size();
    for (size_t i = 0; shuttersRight && i < shutterIds.size(); ++i) {
        shuttersRight = keyOf(shutterIds[i], ZT_LOGDEV_SHUTTER) == light.shutters[i];
    }
    if (!shuttersRight) {
        wrong << QStringLiteral("%1 shutters").arg(shutterCount);
    }
    // The group settings as the pad shows them.
    IZtLaserPowerControl* power = device->GetLaserPowerControl();
    for (int g = 0; g < 3 && power; ++g) {
        for (int l = 0; l < static_cast<int>(light.groups[g].size()); ++l) {
            const ScenarioLine& line = light.groups[g][l];
            if (std::abs(power->GetLinePower(l, g) - line.power) > 1e-9 ||
                power->GetLineUsed(l, g) != line.used) {
                wrong << QStringLiteral("%1 line %2").arg(kGroupNames[g]).arg(l + 1);
            }
        }
    }
    if (!wrong.isEmpty()) {
        *detail = "the device is associated otherwise: " + wrong.join(", ");
        return kExitFailed;
    }
    QStringList ids;
    for (ZT_DWORD id : shutterIds) {
        ids << QString::number(id);
    }
    *detail = QStringLiteral("light %1 (%2), %3, shutters %4; group settings as stored")
                  .arg(lightId)
                  .arg(QString::fromStdWString(zthost::DeviceStateText(lightId)))
                  .arg(switcherId == 0
                           ? QStringLiteral("no switcher")
                           : QStringLiteral("switcher %1 at port %2").arg(switcherId).arg(port))
                  .arg(ids.isEmpty() ? QStringLiteral("none") : ids.join(", "));
    return kExitDone;
}

int Session::ShowDmdField(QString* detail) {
    if (m_scenario.Dmd().simulator) {
        *detail = "the simulated unit's mirrors do not reach the simulated camera";
        return kExitDone;
    }
    if (!ShowPattern(L"Full ON")) {
        *detail = "the device does not show \"Full ON\"";
        return kExitFailed;
    }
    CZtGrabberSample sample;
    const int captured = sample.Capture();
    ShowPattern(L"Full OFF");
    Matrix3 sensorToImage{};
    if (captured != 0 || !SensorToImage(&sensorToImage)) {
        *detail = QStringLiteral("the camera took no frame (status %1)").arg(captured);
        return kExitFailed;
    }
    // The light of every mirror must land inside the field the optics give, and fill it.
    const QPolygonF field =
        DmdOutline(AffineMatrix(m_scenario.Optics().dmdToSensor), sensorToImage);
    std::vector<double> corners;
    for (const QPointF& corner : field) {
        corners.push_back(corner.x());
        corners.push_back(corner.y());
    }
    const SZtPicBuf& frame = sample.GetPicture();
    SZtRLEPicBuf mask;
    CZtRLEPicBufAPI::Alloc(&mask, frame.width, frame.height, frame.bitsPerComponent);
    CZtRLEPicBufAPI::AddPolygon(&mask, 1, corners.data(), 4);
    const double overlap = PlacementOverlap(frame, LitThreshold(frame), mask);
    CameraPictureParts parts;
    parts.frame = FrameImage(frame);
    parts.truthOutline = true;
    m_report->AddPicture("dmd-field.png", CameraPicture(m_scenario, parts),
                         "\"Full ON\" as the camera sees it, and, dashed, where the optics put "
                         "the DMD field.");
    *detail =
        QStringLiteral("\"Full ON\" covers the field the optics give: overlap %1 % (%2 x %3 image)")
            .arg(overlap * 100.0, 0, 'f', 1)
            .arg(frame.width)
            .arg(frame.height);
    return overlap >= 0.9 ? kExitDone : kExitFailed;
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

IZtStimulationDevice* Session::Device() const {
    IZtStimulationDeviceManager* manager = CZtStimulationDeviceManager::GetInstance();
    return manager && !m_deviceName.empty() ? manager->GetStaticDevice(m_deviceName.c_str())
                                            : nullptr;
}

IZtDeviceDMD* Session::DeviceDmd() const {
    IZtStimulationDevice* device = Device();
    return device ? static_cast<IZtDeviceDMD*>(device->QueryInterface("IZtDeviceDMD")) : nullptr;
}

bool Session::ShowPattern(const wchar_t* name) const {
    IZtDeviceDMD* dmd = DeviceDmd();
    ZT_DWORD id = 0;
    const bool shown =
        dmd && dmd->GetPatternIdByName(name, &id) == 0 && dmd->SetActivePatternId(id) == 0;
    if (dmd) {
        dmd->Release();
    }
    return shown;
}

QString Session::SettingsFile() const {
    // The device's settings file, one per device kind, in the host's settings folder.
    return QDir(QString::fromStdWString(zthost::SettingsLocation()))
        .filePath(m_scenario.Dmd().simulator ? "VeroveSim.bin" : "Verove.bin");
}
