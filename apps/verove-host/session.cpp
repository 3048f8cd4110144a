// The steps of a headless session, run through the plug-in's exports as the acquisition
// application calls them.
#include "session.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <iterator>

#include "devicedmd.h"
#include "measures.h"
#include "opticscheck.h"
#include "reportpictures.h"
#include "simulateddmd.h"
#include "storedlightpath.h"
#include "terminal.h"
#include "zt/zt_acquisition.h"
#include "zt/zt_dmd.h"
#include "zt/zt_experiment.h"
#include "zt/zt_grabber.h"
#include "zt/zt_module.h"
#include "zt/zt_roi.h"
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

// The device's log lines the session follows it by, as the plug-in writes them.
const wchar_t kSettingsApplied[] =
    L"Verove CZtStimulationDeviceVerove::ValidateAndApplySettings: Start";

void Print(const QString& line) {
    terminal::Line(line);
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
      m_simulatedDmd(options.sdkFolder),
      m_calibration(scenario, report),
      m_protocol(scenario, report, m_simulatedDmd) {}

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
    std::vector<std::wstring> units = {m_deviceName};
    units.insert(units.end(), m_aggregation.FurtherNames().begin(),
                 m_aggregation.FurtherNames().end());
    return WriteLightPathSettings(m_scenario, units, SettingsFile(), detail);
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
    return CheckLightPathAssociation(m_scenario.Light(), Device(), detail);
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
    return m_calibration.Manual(CurrentUnit(), detail);
}

int Session::Calibrate(QString* detail) {
    return m_calibration.Automatic(CurrentUnit(), detail);
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
        } else if (const QString figures = m_calibration.UnitFigures(m_unit); !figures.isEmpty()) {
            units << QStringLiteral("unit %1: %2").arg(m_unit + 1).arg(figures);
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
    const bool calibrated = UnitCalibration::IsCalibrated(Device());
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
                          .arg(GroupsText(1u << g))
                          .arg(status);
            return kExitFailed;
        }
        m_report->SetRenderTime(g, milliseconds);
        done << QStringLiteral("%1: %2 ROI%3, set and rendered in %4 ms")
                    .arg(GroupsText(1u << g))
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
    return m_protocol.Run(Target(), m_unitGroups, detail);
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
        *detail = kNoDmdInterface;
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

CalibrationUnit Session::CurrentUnit() const {
    CalibrationUnit unit;
    unit.device = Device();
    unit.index = m_unit;
    unit.count = Units();
    unit.name = UnitName();
    unit.settingsFile = SettingsFile();
    return unit;
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
    return DmdOf(Device());
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
