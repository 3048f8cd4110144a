// The steps of a headless session, run through the plug-in's exports as the acquisition
// application calls them.
#include "session.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <future>
#include <iterator>
#include <thread>

#include "calibrationwatch.h"
#include "configurationtext.h"
#include "measures.h"
#include "opticscheck.h"
#include "reportpictures.h"
#include "simulateddmd.h"
#include "terminal.h"
#include "zt/zt_acquisition.h"
#include "zt/zt_devices.h"
#include "zt/zt_dmd.h"
#include "zt/zt_experiment.h"
#include "zt/zt_grabber.h"
#include "zt/zt_laserpower.h"
#include "zt/zt_module.h"
#include "zt/zt_roi.h"
#include "zt/zt_settings.h"
#include "zt/zt_stimulation.h"
#include "zt/zt_util.h"
#include "zt/zt_verovedevice.h"
#include "zthost/microscope.h"
#include "zthost/registry_store.h"
#include "zthost/settings_store.h"
#include "zthost/zthost.h"

namespace {

using ConnectFn = bool (*)(bool, bool, std::uint32_t, const wchar_t*, wchar_t*, bool*);
using SetTraxPortFn = bool (*)(std::uint32_t, std::uint32_t, bool);

const char* const kGroupNames[] = {"S1", "S2", "S3"};

// The device's log lines the session follows it by, as the plug-in writes them.
const wchar_t kSettingsApplied[] =
    L"Verove CZtStimulationDeviceVerove::ValidateAndApplySettings: Start";
const wchar_t kCalibrationComputing[] =
    L"Verove CZtStimulationDeviceVerove::AutocalibrationThreadProc: Computing calibration matrices";
const wchar_t kCalibrationDone[] =
    L"Verove CZtStimulationDeviceVerove::AutocalibrationThreadProc: Done";
const wchar_t kCalibrationAborted[] =
    L"Verove CZtStimulationDeviceVerove::AutocalibrationThreadProc: Autocalibration aborted due "
    L"to invalid device / driver pointer.";
// The line goes on with " (<duration> ms)."
const wchar_t kFreezing[] =
    L"Verove CZtStimulationDeviceVerove::StimulationBegin: Work Thread: Freezing until "
    L"stimulation is finished";

void Print(const QString& line) {
    terminal::Line(line);
}

// "S1", "S1+S2", ...: the groups of mask (bit g: group g).
QString GroupsText(std::uint32_t mask) {
    QStringList groups;
    for (int g = 0; g < 3; ++g) {
        if (mask & (1u << g)) {
            groups << kGroupNames[g];
        }
    }
    return groups.join('+');
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
         : Units() > 1 ? QStringLiteral("Connect %1 Verove units through the SDK").arg(Units())
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
    // The simulated unit's mirrors do not reach the simulated camera.
    if (!m_scenario.Dmd().simulator) {
        steps.push_back({"Show the DMD field to the camera", &Session::ShowDmdField});
    }
    // The manual calibration goes first: the automatic one then stores over it, and the protocol
    // runs with the automatic calibration as before.
    if (!m_scenario.Dmd().simulator && Units() == 1) {
        steps.push_back({"Calibrate manually and accept", &Session::CalibrateManually});
    }
    if (Units() == 1) {
        steps.push_back({"Calibrate automatically and accept", &Session::Calibrate});
    } else {
        steps.push_back({"Calibrate each unit automatically and accept", &Session::CalibrateUnits});
        steps.push_back({"Aggregate the units (\"CZtVeroveAggregator\")", &Session::Aggregate});
    }
    if (m_scenario.TurnsCameraAfterCalibration()) {
        steps.push_back({"Turn the camera image", &Session::TurnCamera});
    }
    const ScenarioProtocol& protocol = m_scenario.Protocol();
    const auto& rois = m_scenario.Rois();
    if (!rois[0].empty() || !rois[1].empty() || !rois[2].empty()) {
        steps.push_back({"Draw the stimulation ROIs in S1-S3", &Session::DrawRois});
    }
    if (!protocol.stimulations.empty()) {
        steps.push_back({"Run the stimulation protocol", &Session::RunProtocol});
    }
    if (Units() > 1) {
        steps.push_back({"Validate S1 and S3 in parallel", &Session::ValidateParallelGroups});
    }
    if (!protocol.bitDepths.empty()) {
        steps.push_back({"Step through the bit depths and back", &Session::StepBitDepths});
    }
    if (!protocol.illuminationSequence.empty()) {
        steps.push_back({"Program an illumination sequence and leave it",
                         &Session::ProgramIlluminationSequence});
    }
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
        const double start = ZT_GetTimeCounter();
        const int code = (this->*step.run)(&detail);
        const double seconds = (ZT_GetTimeCounter() - start) / 1000.0;
        if (seconds > 1.0) {
            detail += QStringLiteral(" (%1 s)").arg(seconds, 0, 'f', 1);
        }
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

int Session::Open(QString* detail) {
    const StepFunction opening[] = {&Session::BuildMicroscope, &Session::LoadPlugin,
                                    &Session::ConnectDevice,   &Session::SetTraxPort,
                                    &Session::StoreLightPath,  &Session::StartUp};
    for (const Step& step : Steps()) {
        if (std::find(std::begin(opening), std::end(opening), step.run) == std::end(opening)) {
            continue;
        }
        QString stepDetail;
        const int code = (this->*step.run)(&stepDetail);
        RecordStep(step.title, code, stepDetail);
        if (code != kExitDone) {
            *detail = step.title + ": " + stepDetail;
            return code;
        }
    }
    *detail = QStringLiteral("%1 connected and started").arg(QString::fromStdWString(m_deviceName));
    return kExitDone;
}

int Session::Close(QString* detail) {
    if (m_deviceName.empty()) {
        return kExitDone;
    }
    const int code = SaveAndDisconnect(detail);
    RecordStep(QStringLiteral("Save the settings and disconnect"), code, *detail);
    return code;
}

void Session::RecordStep(const QString& title, int code, const QString& detail) {
    const Report::Outcome outcome = code == kExitDone      ? Report::Outcome::Done
                                    : code == kExitRefused ? Report::Outcome::Refused
                                                           : Report::Outcome::Failed;
    m_report->AddStep(++m_recordedSteps, title, outcome, detail);
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
        if (Units() > 1 && !m_simulatedDmd.OfferUnits(Units())) {
            *detail = QStringLiteral("the SDK library in %1 cannot offer %2 units")
                          .arg(m_options.sdkFolder)
                          .arg(Units());
            return kExitFailed;
        }
        m_simulatedDmd.ConnectCamera(dmd.furtherUnits);
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
    if (IZtStimulationDevice* device = Device()) {
        device->GetDisplayName(&displayName, 0);
    }
    *detail =
        QStringLiteral("connected as %1, shown as \"%2\"")
            .arg(QString::fromWCharArray(name), QString::fromWCharArray(displayName.GetString()));
    if (Units() > 1) {
        // The Connect export admits one device: the host connects the further units itself.
        QString failure;
        if (!m_aggregation.ConnectFurther(Units(), dmd.brand, &failure)) {
            *detail += "; " + failure;
            return kExitFailed;
        }
        QStringList names;
        for (const std::wstring& further : m_aggregation.FurtherNames()) {
            names << QString::fromStdWString(further);
        }
        *detail += "; further units " + names.join(", ");
    }
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
    // Every unit finds the same light path under its own name.
    std::vector<std::wstring> devices = {m_deviceName};
    devices.insert(devices.end(), m_aggregation.FurtherNames().begin(),
                   m_aggregation.FurtherNames().end());
    for (const std::wstring& device : devices) {
        tree.OpenLevel(device.c_str());
        tree.OpenLevel(L"Definition");
        tree.OpenLevel(L"Illumination");
        tree.AddString(L"LaserLaunch", light.source.c_str());
        tree.AddString(L"LaserLaunchType",
                       light.multiLaser ? L"IDeviceMultiLaser" : L"IDeviceLight");
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
        tree.CloseLevel();
        // Illumination sequences run on external triggers, which the user has set up then.
        tree.AddBool(L"ExternalTriggerSet", !m_scenario.Protocol().illuminationSequence.empty());
        tree.CloseLevel();
        tree.CloseLevel();
        tree.CloseLevel();
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
    if (!zthost::LogContains(kSettingsApplied)) {
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
    IZtDeviceDMD* dmd = DeviceDmd();
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
    // The light is told from the dark by the frame the camera takes of "Full OFF": that holds
    // when the field fills the image, where one frame's histogram has no dark class.
    CZtGrabberSample dark;
    CZtGrabberSample sample;
    if (!ShowPattern(L"Full OFF") || dark.Capture() != 0 || !ShowPattern(L"Full ON")) {
        *detail = "the device does not show \"Full OFF\" and \"Full ON\"";
        return kExitFailed;
    }
    const int captured = sample.Capture();
    ShowPattern(L"Full OFF");
    Matrix3 sensorToImage{};
    if (captured != 0 || !SensorToImage(&sensorToImage)) {
        *detail = QStringLiteral("the camera took no frame (status %1)").arg(captured);
        return kExitFailed;
    }
    // The light of every mirror must land inside the field the optics give, and fill the part of
    // it the image shows.
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
    const double step = ExpectedLevels(m_scenario.Optics(), m_scenario.Camera()).Step();
    const double overlap = FieldCoverage(frame, dark.GetPicture(), step, mask);
    CameraPictureParts parts;
    parts.frame = FrameImage(frame);
    parts.truthOutline = true;
    m_report->AddPicture("dmd-field.png", CameraPicture(m_scenario, parts),
                         "\"Full ON\" as the camera sees it, and, dashed, where the optics put "
                         "the DMD field.");
    m_report->AddCheck("\"Full ON\" overlap with the DMD field the optics give",
                       QStringLiteral("%1 %").arg(overlap * 100.0, 0, 'f', 1),
                       QStringLiteral("at least 90 %"), overlap >= 0.9);
    *detail =
        QStringLiteral("\"Full ON\" covers the field the optics give: overlap %1 % (%2 x %3 image)")
            .arg(overlap * 100.0, 0, 'f', 1)
            .arg(frame.width)
            .arg(frame.height);
    return overlap >= 0.9 ? kExitDone : kExitFailed;
}

int Session::CalibrateManually(QString* detail) {
    IZtStimulationDevice* device = Device();
    if (!device) {
        *detail = "no device";
        return kExitFailed;
    }
    // The manual calibration dialog's steps, through the device's own operations: each square is
    // lit, found in the live picture as a user finds it by eye, and paired; then validation and
    // OK.
    auto* operations = static_cast<IZtVeroveDeviceOperations*>(device);
    const int started = operations->OnManualCalibrationInit();
    if (started != 0) {
        *detail = QStringLiteral("the device did not start its manual calibration (status %1)")
                      .arg(started);
        return kExitFailed;
    }
    const int columns = ScenarioDmd::kMirrorColumns;
    const int rows = ScenarioDmd::kMirrorRows;
    constexpr int kHalfSize = 7;
    // Six points over the field, not on one line.
    const std::array<QPointF, 6> fractions = {QPointF(0.125, 0.15), QPointF(0.875, 0.18),
                                              QPointF(0.5, 0.5),    QPointF(0.15, 0.85),
                                              QPointF(0.85, 0.83),  QPointF(0.33, 0.68)};
    int paired = 0;
    for (const QPointF& fraction : fractions) {
        const auto x = static_cast<std::int32_t>(fraction.x() * columns);
        const auto y = static_cast<std::int32_t>(fraction.y() * rows);
        CZtGrabberSample sample;
        QPointF camera;
        if (operations->DisplayRectangleAtPos(x, y, kHalfSize) == 0 && sample.Capture() == 0 &&
            LitSpotCentre(sample.GetPicture(), &camera) &&
            operations->AddManualCalibrationPair(x, y, camera.x(), camera.y()) == 0) {
            ++paired;
        }
    }
    const int validated = operations->OnManualcalibrationValidationPhase();
    operations->OnManualCalibrationEnd(true);
    Matrix3 fitted{};
    Matrix3 sensorToImage{};
    QString key;
    if (validated != 0 || paired < 3 || !StoredCalibration(&fitted, &key) ||
        !SensorToImage(&sensorToImage)) {
        *detail = QStringLiteral(
                      "the manual calibration stored nothing (%1 of 6 squares paired, "
                      "validation %2)")
                      .arg(paired)
                      .arg(validated);
        return kExitFailed;
    }
    const zthost::CameraSetup& camera = m_scenario.Camera().setup;
    const SZtRect region =
        camera.roiOn ? camera.roi : SZtRect{0, 0, camera.sensorWidth, camera.sensorHeight};
    const CalibrationResidual residual = MeasureCalibrationResidual(
        AffineMatrix(m_scenario.Optics().dmdToSensor), fitted, sensorToImage, columns, rows,
        QRectF(QPointF(region.left, region.top), QPointF(region.right, region.bottom)));
    m_report->SetManualCalibrationResidual(residual.rms, residual.max);
    *detail = QStringLiteral(
                  "%1 of 6 squares paired by eye; stored for %2; residual %3 px rms, "
                  "%4 px at most")
                  .arg(paired)
                  .arg(ConfigurationText(key))
                  .arg(residual.rms, 0, 'f', 3)
                  .arg(residual.max, 0, 'f', 3);
    return kExitDone;
}

int Session::Calibrate(QString* detail) {
    IZtStimulationDevice* device = Device();
    if (!device) {
        *detail = "no device";
        return kExitFailed;
    }
    // The auto-calibration dialog's steps, through the device's own operations: the grid shows,
    // the run collects squares on a work thread of the device, validation applies the result and
    // OK stores it for the optical configuration.
    auto* operations = static_cast<IZtVeroveDeviceOperations*>(device);
    zthost::ClearCapturedLog();
    const int started = operations->OnAutocalibrationInit();
    if (started != 0) {
        *detail =
            QStringLiteral("the device did not start its calibration (status %1)").arg(started);
        return kExitFailed;
    }
    CalibrationWatch watch(kCalibrationSquaresAsked);
    watch.Start();
    const int run = operations->AutocalibrationRun();
    bool done = false;
    if (run == 0) {
        // The worker reports to the dialog; headless, its log lines and its progress tell where
        // it is. A slow machine takes long per square: the wait goes on while squares come.
        double progress = 0.0;
        double lastChange = ZT_GetTimeCounter();
        double computing = -1.0;
        for (;;) {
            QCoreApplication::processEvents();
            watch.Poll();
            done = zthost::LogContains(kCalibrationDone);
            if (done || zthost::LogContains(kCalibrationAborted)) {
                break;
            }
            const double now = ZT_GetTimeCounter();
            if (computing < 0.0 && zthost::LogContains(kCalibrationComputing)) {
                computing = now;
            }
            const double reached = operations->GetAutocalibrationProgress();
            if (reached != progress) {
                progress = reached;
                lastChange = now;
            }
            // A fit logs "Done" at once; a failed one logs nothing more.
            if ((computing >= 0.0 && now - computing > 30000.0) || now - lastChange > 120000.0) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    watch.Poll();
    const size_t found = watch.Squares().size();
    // With several units the report holds the fewest squares any unit found.
    m_unitSquares.push_back(static_cast<int>(found));
    m_report->SetCalibrationSquares(
        Units() > 1 ? *std::min_element(m_unitSquares.begin(), m_unitSquares.end())
                    : static_cast<int>(found));
    const QString quality = CalibrationQuality();
    const int validated = done ? operations->OnAutocalibrationValidationPhase() : 0;
    // OK stores a good result; after a failed run it only ends the calibration.
    const int ended = operations->OnAutocalibrationEnd(true);
    if (run != 0 || !done || validated != 0) {
        *detail =
            QStringLiteral("the calibration failed (run %1, %2 of %3 squares found, validation %4)")
                .arg(run)
                .arg(found)
                .arg(kCalibrationSquaresAsked)
                .arg(validated) +
            quality;
        return kExitFailed;
    }
    const bool calibrated = DeviceCalibrated();
    // The device keeps its calibration for the unturned camera: DMD to sensor pixels.
    Matrix3 fitted{};
    Matrix3 sensorToImage{};
    QString key;
    const bool simulator = m_scenario.Dmd().simulator;
    if (!calibrated || !StoredCalibration(&fitted, &key) || !SensorToImage(&sensorToImage)) {
        *detail = QStringLiteral("the device kept no calibration (end %1, calibrated %2)")
                      .arg(ended)
                      .arg(calibrated ? "yes" : "no");
        return kExitFailed;
    }
    CameraPictureParts parts;
    parts.frame = FrameImage(watch.Combined());
    if (simulator) {
        parts.frame.fill(Qt::black);  // its squares never reach the camera: the frames hold noise
    }
    parts.truthOutline = !simulator;
    parts.fittedOutline = true;
    parts.fittedDmdToSensor = fitted;
    for (const CalibrationWatch::Square& square : watch.Squares()) {
        parts.spots.push_back(square.camera);
        parts.spotsDmd.push_back(square.dmd);
    }
    m_report->AddPicture(m_unit == 0 ? QStringLiteral("calibration.png")
                                     : QStringLiteral("calibration-unit%1.png").arg(m_unit + 1),
                         CameraPicture(m_scenario, parts),
                         CalibrationCaption(watch.FramesCombined(), found, simulator));
    QString residualText;
    if (!simulator) {
        // Over the mirrors the camera's region shows: the ROIs are drawn there.
        const zthost::CameraSetup& camera = m_scenario.Camera().setup;
        const SZtRect region =
            camera.roiOn ? camera.roi : SZtRect{0, 0, camera.sensorWidth, camera.sensorHeight};
        const std::array<double, 6>& truth = m_unit == 0
                                                 ? m_scenario.Optics().dmdToSensor
                                                 : m_scenario.Dmd().furtherUnits[m_unit - 1];
        const CalibrationResidual residual = MeasureCalibrationResidual(
            AffineMatrix(truth), fitted, sensorToImage, ScenarioDmd::kMirrorColumns,
            ScenarioDmd::kMirrorRows,
            QRectF(QPointF(region.left, region.top), QPointF(region.right, region.bottom)));
        // With several units the report holds the worst unit's residual.
        m_unitResiduals.push_back(residual);
        CalibrationResidual worst = residual;
        for (const CalibrationResidual& unit : m_unitResiduals) {
            worst.rms = Units() > 1 ? std::max(worst.rms, unit.rms) : residual.rms;
            worst.max = Units() > 1 ? std::max(worst.max, unit.max) : residual.max;
        }
        m_report->SetCalibrationResidual(worst.rms, worst.max);
        residualText = QStringLiteral("; residual %1 px rms, %2 px at most")
                           .arg(residual.rms, 0, 'f', 3)
                           .arg(residual.max, 0, 'f', 3);
    } else {
        // The simulated unit finds squares it draws itself, not the optics' light.
        residualText = "; no residual: the simulated unit draws its own squares";
    }
    *detail = QStringLiteral("%1 of %2 squares found; stored for %3%4%5")
                  .arg(found)
                  .arg(kCalibrationSquaresAsked)
                  .arg(ConfigurationText(key), residualText, quality);
    return kExitDone;
}

int Session::CalibrateUnits(QString* detail) {
    // One unit at a time: the others stay dark, so the camera sees only the squares of the unit
    // that calibrates.
    QStringList units;
    int exitCode = kExitDone;
    for (m_unit = 0; m_unit < Units() && exitCode == kExitDone; ++m_unit) {
        QString unitDetail;
        exitCode = Calibrate(&unitDetail);
        terminal::Progress(QStringLiteral("      unit %1 (%2): %3")
                               .arg(m_unit + 1)
                               .arg(QString::fromStdWString(UnitName()), unitDetail));
        if (exitCode != kExitDone) {
            units << QStringLiteral("unit %1: %2").arg(m_unit + 1).arg(unitDetail);
        } else if (m_unit < static_cast<int>(m_unitResiduals.size())) {
            units << QStringLiteral("unit %1: %2 squares, residual %3 px rms, %4 px at most")
                         .arg(m_unit + 1)
                         .arg(m_unitSquares[m_unit])
                         .arg(m_unitResiduals[m_unit].rms, 0, 'f', 3)
                         .arg(m_unitResiduals[m_unit].max, 0, 'f', 3);
        }
    }
    m_unit = 0;
    *detail = units.join("; ");
    return exitCode;
}

int Session::Aggregate(QString* detail) {
    // The host runs the creation protocol: the module's Connect never makes an aggregator.
    const int status = m_aggregation.Create(L"CZtStimulationDeviceVerove");
    if (status != 0 && status != -9) {
        *detail = QStringLiteral("no aggregator over the units (status %1)").arg(status);
        return kExitFailed;
    }
    IZtStimulationDevice* aggregator = m_aggregation.Aggregator();
    CZtStringW shown;
    aggregator->GetDisplayName(&shown, 0);
    *detail = QStringLiteral(
                  "\"%1\" registered over %2 units, shown as \"%3\" (Initialize answered %4: "
                  "the default group assignment stands)")
                  .arg(QString::fromWCharArray(aggregator->GetUniqueName().GetString()))
                  .arg(Units())
                  .arg(QString::fromWCharArray(shown.GetString()))
                  .arg(status);
    return kExitDone;
}

int Session::ValidateParallelGroups(QString* detail) {
    IZtStimulationDevice* aggregator = m_aggregation.Aggregator();
    if (!aggregator) {
        *detail = "no aggregator";
        return kExitFailed;
    }
    // An experiment whose one stimulation phase fires S1 and S3 together.
    SZtExperiment experiment;
    experiment.type = 8;
    experiment.phases.push_back({1u | (0x5u << ZT_STIMULATION_GROUP_SHIFT), 100.0});
    CZtStringW error;
    const int status = aggregator->StimulationValidate(&experiment, &error);
    const QString text = QString::fromWCharArray(error.GetString());
    // Refused only when one unit owns both groups.
    const bool oneUnit = std::any_of(m_unitGroups.begin(), m_unitGroups.end(),
                                     [](std::uint32_t groups) { return (groups & 0x5) == 0x5; });
    const QString conflict = "Can not stimulate groups S1, S3 on the same device in parallel.";
    if (oneUnit ? status != -9 || text != conflict : status != 0) {
        *detail = QStringLiteral("S1 and S3 %1 one unit; the aggregator answered %2 \"%3\"")
                      .arg(oneUnit ? "on" : "not on")
                      .arg(status)
                      .arg(text);
        return kExitFailed;
    }
    *detail = oneUnit ? QStringLiteral("refused (status %1): \"%2\"").arg(status).arg(text)
                      : QStringLiteral("accepted: S1 and S3 are on different units");
    return kExitDone;
}

QString Session::CalibrationQuality() {
    const DeviceCalibrationFit fit = ReadCalibrationFit(zthost::CapturedLog());
    QString text;
    if (fit.pairs > 0) {
        const QString figures = QStringLiteral("%1 pairs, %2 px rms, %3 px max")
                                    .arg(fit.pairs)
                                    .arg(fit.rms, 0, 'f', 3)
                                    .arg(fit.max, 0, 'f', 3);
        m_report->SetCalibrationFit(figures);
        text += "; the device's fit on its own pairs: " + figures;
    }
    if (!fit.warnings.isEmpty()) {
        text += "; the device warns: " + fit.warnings.join("; ");
    }
    return text;
}

bool Session::StoredCalibration(Matrix3* dmdToSensor, QString* key) const {
    CZtLoadSettingsManager manager;
    const QString file = QFileInfo(SettingsFile()).fileName();
    if (manager.PrepareLoading(file.toStdWString().c_str(), 1, nullptr) != 1) {
        return false;
    }
    CZtLiteVariantR* reader = manager.GetLiteVariant(0);
    if (reader->OpenLevel(L"Verove") != 0 || reader->OpenLevel(UnitName().c_str()) != 0 ||
        reader->OpenLevel(L"Definition") != 0 || reader->OpenLevel(L"Calibration") != 0) {
        return false;
    }
    int more = reader->FirstChild();
    while (more == 0 && reader->GetChildType() != EZtVariantType::Level) {
        more = reader->NextChild();
    }
    if (more != 0) {
        return false;
    }
    // The calibration saved last comes first; it holds the first two rows, one level each.
    *key = QString::fromWCharArray(reader->GetChildName().GetString());
    reader->OpenChild();
    *dmdToSensor = {0, 0, 0, 0, 0, 0, 0, 0, 1};
    int element = 0;
    for (more = reader->FirstChild(); more == 0 && element < 6; more = reader->NextChild()) {
        if (reader->OpenChild() == 0) {
            (*dmdToSensor)[element++] = reader->GetDouble(L"m_pdCalibrationMatrixDMDToCam", 0.0);
            reader->CloseLevel();
        }
    }
    return element == 6;
}

bool Session::DeviceCalibrated() const {
    bool calibrated = false;
    if (IZtDeviceDMD* dmd = DeviceDmd()) {
        dmd->IsCalibrated(&calibrated);
        dmd->Release();
    }
    return calibrated;
}

int Session::TurnCamera(QString* detail) {
    const zthost::CameraSetup& turned = m_scenario.CameraAfterCalibration().setup;
    const bool mirrored = turned.angleParams[0] != turned.angleParams[3];
    const int status = zthost::TurnCamera(turned.rotationDegrees, mirrored);
    if (status != 0) {
        *detail = QStringLiteral("the camera refused the turn (status %1)").arg(status);
        return kExitFailed;
    }
    // The calibration was measured for the unturned camera: the device keeps it and turns it
    // with the camera.
    const bool calibrated = DeviceCalibrated();
    *detail = QStringLiteral("turned to %1 degrees%2; the device calls itself %3")
                  .arg(turned.rotationDegrees)
                  .arg(mirrored ? ", mirrored top to bottom" : "")
                  .arg(calibrated ? "calibrated" : "not calibrated for this rotation");
    return kExitDone;
}

int Session::DrawRois(QString* detail) {
    IZtStimulationDevice* device = Target();
    IZtGrabberProvider* grabber = zthost::HostContext()->GetGrabberProvider();
    SZtGrabberFormatDesc format;
    if (!device || !grabber) {
        *detail = "no device or no camera";
        return kExitFailed;
    }
    // An uncalibrated device switches the camera region off; the user draws on the image of the
    // region, so it goes back on first, as the user would set it.
    const ScenarioCamera& camera = m_scenario.CameraAfterCalibration();
    QStringList done;
    bool regionOn = false;
    grabber->CameraRoiIsOn(&regionOn);
    if (camera.setup.roiOn && !regionOn) {
        if (grabber->CameraRoiSet(&camera.setup.roi) != 0 || grabber->CameraRoiEnable(true) != 0) {
            *detail = "the camera refused its region";
            return kExitFailed;
        }
        done << "camera region on again";
    }
    grabber->CameraSettingsGet(&format);
    const SZtRect rect{0, 0, camera.imageWidth, camera.imageHeight};
    // Group by group, as a user draws them: each call renders the group just drawn.
    std::uint32_t groups = 0;
    for (int g = 0; g < 3; ++g) {
        const size_t count = m_scenario.Rois()[g].size();
        if (count == 0) {
            continue;
        }
        groups |= 1u << g;
        const CZtRoiObjectList areas = m_scenario.RoiObjects(groups);
        SZtRLEPicBuf masks;
        ZT_RoiListToRLE(&areas, static_cast<std::uint32_t>(camera.imageWidth),
                        static_cast<std::uint32_t>(camera.imageHeight), &masks);
        const double start = ZT_GetTimeCounter();
        const int status = device->StimulationAreaSet(&areas, &masks, nullptr, &format, &rect);
        const double milliseconds = ZT_GetTimeCounter() - start;
        if (status != 0) {
            *detail = QStringLiteral("the device refused the ROIs of %1 (status %2)")
                          .arg(kGroupNames[g])
                          .arg(status);
            return kExitFailed;
        }
        m_report->SetRenderTime(g, milliseconds);
        done << QStringLiteral("%1: %2 ROI%3, set and rendered in %4 ms")
                    .arg(kGroupNames[g])
                    .arg(count)
                    .arg(count == 1 ? "" : "s")
                    .arg(milliseconds, 0, 'f', 2);
    }
    std::uint64_t stored = 0;
    device->StimulationAreaGet(nullptr, nullptr, nullptr, nullptr, nullptr, &stored);
    if (stored != groups) {
        *detail = QStringLiteral("the device keeps the groups 0x%1 instead of 0x%2")
                      .arg(stored, 0, 16)
                      .arg(groups, 0, 16);
        return kExitFailed;
    }
    if (m_aggregation.Aggregator()) {
        // Where the aggregator put each group: what the units hold now.
        m_unitGroups.clear();
        QStringList units;
        for (m_unit = 0; m_unit < Units(); ++m_unit) {
            std::uint64_t held = 0;
            Device()->StimulationAreaGet(nullptr, nullptr, nullptr, nullptr, nullptr, &held);
            m_unitGroups.push_back(static_cast<std::uint32_t>(held));
            units << QStringLiteral("unit %1 %2")
                         .arg(m_unit + 1)
                         .arg(held ? GroupsText(static_cast<std::uint32_t>(held)) : "none");
        }
        m_unit = 0;
        done << "through the aggregator: " + units.join(", ");
    }
    *detail = done.join("; ");
    return kExitDone;
}

int Session::RunProtocol(QString* detail) {
    const std::vector<ScenarioStimulationRun>& runs = m_scenario.Protocol().stimulations;
    int exitCode = kExitDone;
    std::array<bool, 8> pictured{};  // by group mask
    const double start = ZT_GetTimeCounter();
    for (size_t i = 0; i < runs.size(); ++i) {
        const ScenarioStimulationRun& run = runs[i];
        const RunResult result = RunStimulation(run, !pictured[run.groupMask & 7]);
        pictured[run.groupMask & 7] = true;
        QString line = QStringLiteral("stimulation %1/%2, %3 s: %4, %5 ms, run mode %6: ")
                           .arg(i + 1)
                           .arg(runs.size())
                           .arg((ZT_GetTimeCounter() - start) / 1000.0, 0, 'f', 1)
                           .arg(GroupsText(run.groupMask))
                           .arg(run.durationMs)
                           .arg(run.runMode);
        if (result.status != 0) {
            Print("      " + line + QStringLiteral("refused (status %1)").arg(result.status));
            exitCode = kExitFailed;
            continue;
        }
        if (result.dark) {
            Print("      " + line +
                  QStringLiteral("the group's light did not show: the mirrors "
                                 "stayed dark"));
            exitCode = kExitFailed;
            continue;
        }
        line += result.overlap < 0.0 ? QStringLiteral("overlap not measured")
                : !result.groupOverlaps.isEmpty()
                    ? "overlap " + result.groupOverlaps
                    : QStringLiteral("overlap %1 %").arg(result.overlap * 100.0, 0, 'f', 1);
        line += result.latencyMs < 0.0
                    ? QStringLiteral(", latency not measured")
                    : QStringLiteral(", latency %1 ms").arg(result.latencyMs, 0, 'f', 2);
        terminal::Progress("      " + line);
    }
    QStringList overlaps;
    for (int g = 0; g < 3; ++g) {
        if (!m_overlaps[g].empty()) {
            const double worst = *std::min_element(m_overlaps[g].begin(), m_overlaps[g].end());
            m_report->SetPlacementOverlap(g, worst);
            overlaps << QStringLiteral("%1 %2 %").arg(kGroupNames[g]).arg(worst * 100, 0, 'f', 1);
        }
        if (!m_latencies[g].empty()) {
            double sum = 0.0;
            for (double latency : m_latencies[g]) {
                sum += latency;
            }
            m_report->SetStimulationLatency(g, sum / m_latencies[g].size());
        }
    }
    *detail = QStringLiteral("%1 stimulations").arg(runs.size());
    if (!overlaps.isEmpty()) {
        *detail += "; lowest overlap " + overlaps.join(", ");
    }
    if (exitCode != kExitDone) {
        *detail += "; some did not run or showed no light (lines above)";
    }
    return exitCode;
}

Session::RunResult Session::RunStimulation(const ScenarioStimulationRun& run, bool pictures) {
    RunResult result;
    IZtStimulationDevice* device = Target();
    if (!device) {
        result.status = -12;
        return result;
    }
    SZtStimulationRequest request;
    request.runMode = run.runMode;
    request.durationMs = run.durationMs;
    request.groupMask = run.groupMask;
    std::atomic<bool> refused{false};
    std::atomic<bool> returned{false};
    std::promise<void> captured;
    std::shared_future<void> capturedFuture = captured.get_future().share();
    double begun = 0.0;
    double startTime = -1.0;
    double endTime = -1.0;
    int endStatus = 0;
    zthost::ClearCapturedLog();
    // The host's experiment runs stimulations on a work thread; run mode 2 holds it in
    // StimulationBegin for the duration. Either way the light stays on until the camera's frame
    // is taken.
    std::thread worker([&] {
        begun = ZT_GetTimeCounter();
        const int status = device->StimulationBegin(&request);
        if (status != 0) {
            result.status = status;
            refused = true;
            return;
        }
        returned = true;
        capturedFuture.wait();
        if (run.runMode == 1) {
            const double left = begun + run.durationMs - ZT_GetTimeCounter();
            if (left > 0.0) {
                std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(left));
            }
        }
        endStatus = device->StimulationEnd(&startTime, &endTime, 1);
    });
    // The group's frame is on the mirrors once StimulationBegin returns (run mode 1) or holds
    // the work thread (run mode 2).
    const double deadline = ZT_GetTimeCounter() + 10000.0;
    while (!refused && !returned && ZT_GetTimeCounter() < deadline &&
           !zthost::LogContains(kFreezing)) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    // On the SDK path the camera sees the simulated DMD; the simulated unit's mirrors stay unseen.
    CZtGrabberSample sample;
    zthost::MirrorFrame shown;
    std::uint64_t counter = 0;
    double exposed = -1.0;
    bool frameRead = false;
    // Each group shows on the unit that holds its ROIs; unit 0 without an aggregator.
    auto unitOf = [this](int group) {
        for (size_t u = 0; u < m_unitGroups.size(); ++u) {
            if (m_unitGroups[u] & (1u << group)) {
                return static_cast<int>(u);
            }
        }
        return 0;
    };
    bool otherUnitDark = false;
    if (!m_scenario.Dmd().simulator && !refused &&
        m_simulatedDmd.ShownFrame(&shown, &counter, unitOf(run.group))) {
        frameRead = true;
        exposed = m_simulatedDmd.LastExposeTime();
        for (int g = run.group + 1; g < 3; ++g) {
            zthost::MirrorFrame other;
            std::uint64_t otherCounter = 0;
            if ((run.groupMask & (1u << g)) && unitOf(g) != unitOf(run.group) &&
                m_simulatedDmd.ShownFrame(&other, &otherCounter, unitOf(g))) {
                otherUnitDark = otherUnitDark || other.levels.empty();
            }
        }
        sample.Capture();
    }
    captured.set_value();
    worker.join();
    if (result.status != 0) {
        return result;
    }
    result.status = endStatus;
    // To the "Expose" that put the group's frame on the mirrors; without the simulated SDK, to
    // the start the device reports. An "Expose" before the call, or no start at all, measured
    // nothing: a failed exposure leaves the last one of an earlier step.
    const double shownAt = m_scenario.Dmd().simulator ? startTime : exposed;
    if (shownAt >= begun) {
        result.latencyMs = shownAt - begun;
        m_latencies[run.group].push_back(result.latencyMs);
    }
    // No levels: the mirrors were not exposing at all.
    result.dark =
        frameRead && (otherUnitDark || std::all_of(shown.levels.begin(), shown.levels.end(),
                                                   [](std::uint8_t level) { return level == 0; }));
    if (result.dark && pictures) {
        // Nothing on the mirrors is a black picture of the array, not a missing one.
        m_report->AddPicture(
            QStringLiteral("dmd-%1.png").arg(GroupsText(run.groupMask)),
            MirrorPicture(ScenarioDmd::kMirrorColumns, ScenarioDmd::kMirrorRows,
                          std::vector<std::uint8_t>(
                              ScenarioDmd::kMirrorColumns * ScenarioDmd::kMirrorRows, 0)),
            QStringLiteral("%1: the mirrors stayed dark.").arg(GroupsText(run.groupMask)));
    }
    if (result.dark) {
        return result;
    }

    const SZtPicBuf& frame = sample.GetPicture();
    const ScenarioCamera& camera = m_scenario.CameraAfterCalibration();
    if (sample.IsEmpty() || static_cast<int>(frame.width) != camera.imageWidth ||
        static_cast<int>(frame.height) != camera.imageHeight) {
        return result;
    }
    const std::uint32_t threshold = LitThreshold(frame);
    auto placementOf = [&](std::uint32_t groups) {
        const CZtRoiObjectList areas = m_scenario.RoiObjects(groups);
        SZtRLEPicBuf masks;
        ZT_RoiListToRLE(&areas, frame.width, frame.height, &masks);
        return MapPlacement(frame, threshold, masks);
    };
    const PlacementMap placement = placementOf(run.groupMask);
    // Groups in parallel: each group's light against its own ROIs, the others' light aside.
    QStringList overlaps;
    for (int g = 0; g < 3; ++g) {
        if ((run.groupMask & (1u << g)) == 0) {
            continue;
        }
        const std::uint32_t others = run.groupMask & ~(1u << g);
        const double overlap = others == 0
                                   ? placement.Overlap()
                                   : OverlapBeside(placementOf(1u << g), placementOf(others));
        m_overlaps[g].push_back(overlap);
        result.overlap = result.overlap < 0.0 ? overlap : std::min(result.overlap, overlap);
        overlaps << QStringLiteral("%1 %2 %").arg(kGroupNames[g]).arg(overlap * 100.0, 0, 'f', 1);
    }
    if (overlaps.size() > 1) {
        result.groupOverlaps = overlaps.join(", ");
    }
    if (pictures) {
        const QString group = GroupsText(run.groupMask);
        m_report->AddPicture(
            QStringLiteral("stimulation-%1.png").arg(group),
            PlacementPicture(m_scenario, placement, run.groupMask),
            QStringLiteral("%1: where the light landed on the camera against the ROIs as drawn: "
                           "lit inside them (white), lit outside them (red), ROI not lit (blue).")
                .arg(group));
        m_report->AddPicture(QStringLiteral("dmd-%1.png").arg(group),
                             MirrorPicture(shown.width, shown.height, shown.levels),
                             QStringLiteral("%1: the frame on the DMD's mirrors.").arg(group));
    }
    return result;
}

int Session::StepBitDepths(QString* detail) {
    IZtStimulationDevice* device = Device();
    auto* extension =
        device
            ? static_cast<IZtStimulationDeviceEx*>(device->QueryInterface("IZtStimulationDeviceEx"))
            : nullptr;
    if (!extension) {
        *detail = "the device does not answer \"IZtStimulationDeviceEx\"";
        return kExitFailed;
    }
    // The pad sets the depth through the device's own operation; the host reaches it by its slot.
    auto* operations = static_cast<IZtVeroveDeviceOperations*>(device);
    std::vector<int> depths = m_scenario.Protocol().bitDepths;
    depths.push_back(1);
    QStringList steps;
    int exitCode = kExitDone;
    for (int depth : depths) {
        const int status = operations->SetBitDepth(depth, false);
        const int now = extension->GetBitDepth();
        steps << QString::number(now);
        if (status != 0 || now != depth) {
            *detail = QStringLiteral("the device refused bit depth %1 (status %2, depth %3)")
                          .arg(depth)
                          .arg(status)
                          .arg(now);
            exitCode = kExitFailed;
            break;
        }
    }
    extension->Release();
    if (exitCode == kExitDone) {
        *detail = "bit depths " + steps.join(" -> ");
    }
    return exitCode;
}

int Session::ProgramIlluminationSequence(QString* detail) {
    SZtIlluminationSequence sequence;
    QStringList events;
    for (const ScenarioSequenceEvent& event : m_scenario.Protocol().illuminationSequence) {
        SZtIlluminationSequenceStep step;
        if (!PatternId(event.pattern.c_str(), &step.patternId)) {
            *detail = QStringLiteral("the device has no pattern \"%1\"")
                          .arg(QString::fromStdWString(event.pattern));
            return kExitFailed;
        }
        // The device shows each step's pattern for one frame per trigger.
        step.frameCycleCount = event.frames * event.cycles;
        step.exposureMs = event.exposureMs;
        step.gapMs = event.gapMs;
        sequence.steps.push_back(step);
        events << QStringLiteral("%1 x%2")
                      .arg(QString::fromStdWString(event.pattern))
                      .arg(step.frameCycleCount);
    }
    IZtDeviceDMD* dmd = DeviceDmd();
    if (!dmd) {
        *detail = "the device does not answer \"IZtDeviceDMD\"";
        return kExitFailed;
    }
    const int programmed = dmd->SetIlluminationSequence(&sequence);
    const int entered = programmed == 0 ? dmd->SetOperationMode(5) : programmed;
    std::int32_t inSequence = 0;
    dmd->GetIlluminationSequenceState(&inSequence);
    const int left = dmd->SetOperationMode(0);
    std::int32_t after = -1;
    dmd->GetIlluminationSequenceState(&after);
    dmd->Release();
    if (programmed != 0 || entered != 0 || inSequence != 5) {
        *detail = QStringLiteral("the device refused the sequence (status %1, then %2)")
                      .arg(programmed)
                      .arg(entered);
        return kExitFailed;
    }
    if (left != 0 || after != 0) {
        *detail = QStringLiteral("the device did not leave the sequence (status %1)").arg(left);
        return kExitFailed;
    }
    *detail = QStringLiteral("%1 events (%2) programmed and run mode 5 entered; left again")
                  .arg(sequence.steps.size())
                  .arg(events.join(", "));
    return kExitDone;
}

int Session::SaveAndDisconnect(QString* detail) {
    // The aggregator goes first: letting it go saves the group assignment into the settings
    // file, which the units' own saves must keep.
    std::vector<StoredUnitGroups> assignment;
    if (m_aggregation.Aggregator()) {
        m_aggregation.Release();
        assignment = UnitAggregation::StoredAssignment(SettingsFile());
    }
    const bool furtherDisconnected = m_aggregation.DisconnectFurther(m_scenario.Dmd().brand);
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
    if (!furtherDisconnected) {
        *detail += "; a further unit did not disconnect";
        return kExitFailed;
    }
    if (Units() > 1 && !m_unitGroups.empty()) {
        return CheckStoredAssignment(assignment, detail);
    }
    return kExitDone;
}

int Session::CheckStoredAssignment(const std::vector<StoredUnitGroups>& saved, QString* detail) {
    // What the aggregator wrote must be what the units held, and still be there after the units
    // saved their own settings.
    const std::vector<StoredUnitGroups> kept = UnitAggregation::StoredAssignment(SettingsFile());
    QStringList units;
    bool asHeld = !saved.empty() && saved.size() == m_unitGroups.size();
    for (const StoredUnitGroups& unit : saved) {
        const size_t underscore = unit.device.rfind(L'_');
        const size_t number = underscore == std::wstring::npos
                                  ? 0
                                  : std::wcstoul(&unit.device[underscore + 1], nullptr, 10);
        asHeld = asHeld && number < m_unitGroups.size() && m_unitGroups[number] == unit.mask;
        units << QStringLiteral("%1 %2")
                     .arg(QString::fromStdWString(unit.device))
                     .arg(unit.mask ? GroupsText(unit.mask) : "none");
    }
    const bool same = std::equal(saved.begin(), saved.end(), kept.begin(), kept.end(),
                                 [](const StoredUnitGroups& a, const StoredUnitGroups& b) {
                                     return a.device == b.device && a.mask == b.mask;
                                 });
    if (!asHeld || !same) {
        *detail += QStringLiteral("; the group assignment %1 (%2)")
                       .arg(!asHeld ? "stored is not what the units held"
                                    : "was lost when the units saved")
                       .arg(units.isEmpty() ? "none" : units.join(", "));
        return kExitFailed;
    }
    *detail += "; group assignment stored and kept: " + units.join(", ");
    return kExitDone;
}

IZtStimulationDevice* Session::Device() const {
    IZtStimulationDeviceManager* manager = CZtStimulationDeviceManager::GetInstance();
    return manager && !m_deviceName.empty() ? manager->GetStaticDevice(UnitName().c_str())
                                            : nullptr;
}

IZtStimulationDevice* Session::Target() const {
    return m_aggregation.Aggregator() ? m_aggregation.Aggregator() : Device();
}

int Session::Units() const {
    return m_scenario.Dmd().simulator ? 1 : m_scenario.Dmd().Units();
}

const std::wstring& Session::UnitName() const {
    return m_unit == 0 ? m_deviceName : m_aggregation.FurtherNames()[m_unit - 1];
}

IZtDeviceDMD* Session::DeviceDmd() const {
    IZtStimulationDevice* device = Device();
    return device ? static_cast<IZtDeviceDMD*>(device->QueryInterface("IZtDeviceDMD")) : nullptr;
}

bool Session::PatternId(const wchar_t* name, ZT_DWORD* id) const {
    IZtDeviceDMD* dmd = DeviceDmd();
    const bool found = dmd && dmd->GetPatternIdByName(name, id) == 0;
    if (dmd) {
        dmd->Release();
    }
    return found;
}

bool Session::ShowPattern(const wchar_t* name) const {
    ZT_DWORD id = 0;
    IZtDeviceDMD* dmd = PatternId(name, &id) ? DeviceDmd() : nullptr;
    const bool shown = dmd && dmd->SetActivePatternId(id) == 0;
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
