// The calibration steps of a session: the device's manual and automatic calibration through its
// own operations, measured against the scenario's optics into the report.
#include "unitcalibration.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <algorithm>
#include <chrono>
#include <thread>

#include "calibrationwatch.h"
#include "configurationtext.h"
#include "devicedmd.h"
#include "opticscheck.h"
#include "report.h"
#include "reportpictures.h"
#include "sessionexit.h"
#include "zt/zt_acquisition.h"
#include "zt/zt_dmd.h"
#include "zt/zt_grabber.h"
#include "zt/zt_settings.h"
#include "zt/zt_stimulation.h"
#include "zt/zt_util.h"
#include "zt/zt_verovedevice.h"
#include "zthost/microscope.h"
#include "zthost/zthost.h"

namespace {

// The device's log lines the calibration is followed by, as the plug-in writes them.
const wchar_t kCalibrationComputing[] =
    L"Verove CZtStimulationDeviceVerove::AutocalibrationThreadProc: Computing calibration matrices";
const wchar_t kCalibrationDone[] =
    L"Verove CZtStimulationDeviceVerove::AutocalibrationThreadProc: Done";
const wchar_t kCalibrationAborted[] =
    L"Verove CZtStimulationDeviceVerove::AutocalibrationThreadProc: Autocalibration aborted due "
    L"to invalid device / driver pointer.";

}  // namespace

UnitCalibration::UnitCalibration(const Scenario& scenario, Report* report)
    : m_scenario(scenario), m_report(report) {}

QString UnitCalibration::UnitFigures(int unit) const {
    if (unit < 0 || unit >= static_cast<int>(m_unitResiduals.size())) {
        return QString();
    }
    return QStringLiteral("%1 squares, residual %2 px rms, %3 px at most")
        .arg(m_unitSquares[unit])
        .arg(m_unitResiduals[unit].rms, 0, 'f', 3)
        .arg(m_unitResiduals[unit].max, 0, 'f', 3);
}

int UnitCalibration::Manual(const CalibrationUnit& unit, QString* detail) {
    IZtStimulationDevice* device = unit.device;
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
    if (validated != 0 || paired < 3 || !StoredCalibration(unit, &fitted, &key) ||
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

int UnitCalibration::Automatic(const CalibrationUnit& unit, QString* detail) {
    IZtStimulationDevice* device = unit.device;
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
        unit.count > 1 ? *std::min_element(m_unitSquares.begin(), m_unitSquares.end())
                       : static_cast<int>(found));
    const QString quality = Quality();
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
    const bool calibrated = IsCalibrated(device);
    // The device keeps its calibration for the unturned camera: DMD to sensor pixels.
    Matrix3 fitted{};
    Matrix3 sensorToImage{};
    QString key;
    const bool simulator = m_scenario.Dmd().simulator;
    if (!calibrated || !StoredCalibration(unit, &fitted, &key) || !SensorToImage(&sensorToImage)) {
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
    m_report->AddPicture(unit.index == 0
                             ? QStringLiteral("calibration.png")
                             : QStringLiteral("calibration-unit%1.png").arg(unit.index + 1),
                         CameraPicture(m_scenario, parts),
                         CalibrationCaption(watch.FramesCombined(), found, simulator));
    QString residualText;
    if (!simulator) {
        // Over the mirrors the camera's region shows: the ROIs are drawn there.
        const zthost::CameraSetup& camera = m_scenario.Camera().setup;
        const SZtRect region =
            camera.roiOn ? camera.roi : SZtRect{0, 0, camera.sensorWidth, camera.sensorHeight};
        const std::array<double, 6>& truth = unit.index == 0
                                                 ? m_scenario.Optics().dmdToSensor
                                                 : m_scenario.Dmd().furtherUnits[unit.index - 1];
        const CalibrationResidual residual = MeasureCalibrationResidual(
            AffineMatrix(truth), fitted, sensorToImage, ScenarioDmd::kMirrorColumns,
            ScenarioDmd::kMirrorRows,
            QRectF(QPointF(region.left, region.top), QPointF(region.right, region.bottom)));
        // With several units the report holds the worst unit's residual.
        m_unitResiduals.push_back(residual);
        CalibrationResidual worst = residual;
        for (const CalibrationResidual& other : m_unitResiduals) {
            worst.rms = unit.count > 1 ? std::max(worst.rms, other.rms) : residual.rms;
            worst.max = unit.count > 1 ? std::max(worst.max, other.max) : residual.max;
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

QString UnitCalibration::Quality() {
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

bool UnitCalibration::StoredCalibration(const CalibrationUnit& unit, Matrix3* dmdToSensor,
                                        QString* key) {
    CZtLoadSettingsManager manager;
    const QString file = QFileInfo(unit.settingsFile).fileName();
    if (manager.PrepareLoading(file.toStdWString().c_str(), 1, nullptr) != 1) {
        return false;
    }
    CZtLiteVariantR* reader = manager.GetLiteVariant(0);
    if (reader->OpenLevel(L"Verove") != 0 || reader->OpenLevel(unit.name.c_str()) != 0 ||
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

bool UnitCalibration::IsCalibrated(IZtStimulationDevice* device) {
    bool calibrated = false;
    if (IZtDeviceDMD* dmd = DmdOf(device)) {
        dmd->IsCalibrated(&calibrated);
        dmd->Release();
    }
    return calibrated;
}
