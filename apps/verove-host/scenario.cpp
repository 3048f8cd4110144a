// Reading and checking scenario files, and building the simulated microscope they describe.
#include "scenario.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QStringList>
#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>

#include "opticscheck.h"
#include "scenariodevices.h"
#include "scenariofields.h"
#include "zt/zt_devices.h"
#include "zthost/camera_control.h"
#include "zthost/layout.h"
#include "zthost/optics.h"

namespace {

using namespace scenariofields;

const QStringList kGroupNames = {"S1", "S2", "S3"};

// Beyond these a value is no microscope's: sensor pixels per mirror, the point spread in sensor
// pixels, photoelectrons per pixel, grey values per photoelectron.
constexpr double kMaxScale = 100.0;
constexpr double kMaxBlurSigma = 20.0;
constexpr double kMaxElectrons = 1e6;
constexpr double kMaxGain = 1000.0;
// The simulated camera renders whole frames of this size in memory.
constexpr double kMinSensorSide = 16.0;
constexpr double kMaxSensorSide = 16384.0;
constexpr double kMaxSensorPixels = 67108864.0;
constexpr double kMaxPixelSizeUm = 1000.0;
// Stimulations, exposures and gaps: ten minutes at most; frames and cycles of a sequence event.
constexpr double kMaxTimeMs = 600000.0;
constexpr long long kMaxRepeats = 10000;
// A session's residual bar: beyond this many pixels a residual says nothing.
constexpr double kMaxResidualPx = 100.0;

// A software rotation of the displayed image: 0, 90, 180 or 270 degrees; 0 when absent.
int ReadTurn(Problems& p, const QJsonObject& object, const QString& path) {
    if (!object.contains("rotation")) {
        return 0;
    }
    const QJsonValue turn = object.value("rotation");
    const int rotation = turn.toInt(-1);
    if (p.Ok() && (!turn.isDouble() || turn.toDouble() != rotation || rotation % 90 != 0 ||
                   rotation < 0 || rotation > 270)) {
        p.Fail(Field(path, "rotation"), "expected 0, 90, 180 or 270");
        return 0;
    }
    return rotation;
}

// The displayed image's size: the region, binned, turned.
void SetImageSize(ScenarioCamera* camera) {
    const zthost::CameraSetup& setup = camera->setup;
    const SZtRect region =
        setup.roiOn ? setup.roi : SZtRect{0, 0, setup.sensorWidth, setup.sensorHeight};
    const int width = (region.right - region.left) / static_cast<int>(setup.binningX);
    const int height = (region.bottom - region.top) / static_cast<int>(setup.binningY);
    const bool turned = static_cast<int>(setup.rotationDegrees) % 180 != 0;
    camera->imageWidth = turned ? height : width;
    camera->imageHeight = turned ? width : height;
}

void ReadCamera(Problems& p, const QJsonValue& value, ScenarioCamera* camera,
                ScenarioCamera* turnedCamera) {
    const QString path = "camera";
    const QJsonObject object = Object(p, value, path,
                                      {"name", "sensor", "bitDepth", "binning", "roi", "rotation",
                                       "flip", "pixelSizeUm", "turnAfterCalibration"});
    zthost::CameraSetup& setup = camera->setup;
    if (object.contains("name")) {
        setup.name = String(p, object.value("name"), Field(path, "name"));
    }
    const std::vector<double> sensor =
        Reals(p, object.value("sensor"), Field(path, "sensor"), 2, "[width, height]");
    if (p.Ok() &&
        (sensor[0] < kMinSensorSide || sensor[1] < kMinSensorSide || sensor[0] > kMaxSensorSide ||
         sensor[1] > kMaxSensorSide || sensor[0] * sensor[1] > kMaxSensorPixels ||
         sensor[0] != std::floor(sensor[0]) || sensor[1] != std::floor(sensor[1]))) {
        p.Fail(Field(path, "sensor"),
               QStringLiteral("expected [width, height] in whole pixels from %1 to %2, at most "
                              "%3 pixels in all")
                   .arg(Text(kMinSensorSide), Text(kMaxSensorSide), Text(kMaxSensorPixels)));
    }
    setup.sensorWidth = static_cast<std::int32_t>(sensor[0]);
    setup.sensorHeight = static_cast<std::int32_t>(sensor[1]);
    setup.bitDepth = static_cast<std::int32_t>(
        Integer(p, object.value("bitDepth"), Field(path, "bitDepth"), 8, 16));
    const int binning =
        object.contains("binning")
            ? static_cast<int>(Integer(p, object.value("binning"), Field(path, "binning"), 1, 8))
            : 1;
    setup.binningX = setup.binningY = binning;

    SZtRect region{0, 0, setup.sensorWidth, setup.sensorHeight};
    if (object.contains("roi")) {
        const QString roiPath = Field(path, "roi");
        const std::vector<double> roi =
            Reals(p, object.value("roi"), roiPath, 4, "[left, top, right, bottom]");
        const bool inside =
            std::all_of(roi.begin(), roi.end(), [](double v) { return v == std::floor(v); }) &&
            roi[0] >= 0 && roi[1] >= 0 && roi[0] < roi[2] && roi[1] < roi[3] &&
            roi[2] <= setup.sensorWidth && roi[3] <= setup.sensorHeight;
        if (p.Ok() && !inside) {
            p.Fail(roiPath, QStringLiteral("expected [left, top, right, bottom] in whole pixels "
                                           "inside the %1 x %2 sensor")
                                .arg(setup.sensorWidth)
                                .arg(setup.sensorHeight));
        }
        region = {static_cast<std::int32_t>(roi[0]), static_cast<std::int32_t>(roi[1]),
                  static_cast<std::int32_t>(roi[2]), static_cast<std::int32_t>(roi[3])};
        if (p.Ok() &&
            (region.left % binning || region.top % binning ||
             (region.right - region.left) % binning || (region.bottom - region.top) % binning)) {
            p.Fail(
                roiPath,
                QStringLiteral("expected a rectangle on the %1-pixel binning grid").arg(binning));
        }
        setup.roiOn = true;
        setup.roi = region;
    }
    setup.rotationDegrees = ReadTurn(p, object, path);
    if (object.contains("flip") && Boolean(p, object.value("flip"), Field(path, "flip"))) {
        setup.angleParams = {1.0, 0.0, 0.0, -1.0};
    }
    camera->pixelSizeUm = Real(p, object.value("pixelSizeUm"), Field(path, "pixelSizeUm"), 0.0,
                               kMaxPixelSizeUm, true);
    setup.formatName = setup.roiOn ? L"ROI" : L"Full sensor";
    SetImageSize(camera);

    *turnedCamera = *camera;
    if (object.contains("turnAfterCalibration")) {
        const QString turnPath = Field(path, "turnAfterCalibration");
        const QJsonObject turn =
            Object(p, object.value("turnAfterCalibration"), turnPath, {"rotation", "flip"});
        zthost::CameraSetup& turned = turnedCamera->setup;
        turned.rotationDegrees = ReadTurn(p, turn, turnPath);
        const bool flip =
            turn.contains("flip") && Boolean(p, turn.value("flip"), Field(turnPath, "flip"));
        turned.angleParams = {1.0, 0.0, 0.0, flip ? -1.0 : 1.0};
        SetImageSize(turnedCamera);
    }
}

// True when the mirror array, mapped onto the sensor, covers part of the region the camera images.
bool FieldReachesImage(const std::array<double, 6>& m, const zthost::CameraSetup& camera) {
    const zthost::Box field = zthost::MapBox(
        m, {0.0, 0.0, double(ScenarioDmd::kMirrorColumns), double(ScenarioDmd::kMirrorRows)});
    const SZtRect region =
        camera.roiOn ? camera.roi : SZtRect{0, 0, camera.sensorWidth, camera.sensorHeight};
    return field.left < region.right && field.right > region.left && field.top < region.bottom &&
           field.bottom > region.top;
}

// The map from mirrors to sensor pixels at path: a matrix, or scale, rotation, flip and centre.
// Returns the path of the field a refusal of the map names.
QString ReadMap(Problems& p, const QJsonObject& object, const QString& path,
                const ScenarioCamera& camera, std::array<double, 6>* map) {
    const bool parts = object.contains("scale") || object.contains("rotation") ||
                       object.contains("flip") || object.contains("centre");
    std::array<double, 6>& m = *map;
    QString mapPath;
    if (object.contains("matrix")) {
        mapPath = Field(path, "matrix");
        if (parts) {
            p.Fail(mapPath, "give either a matrix or scale, rotation, flip and centre");
        }
        const QString expected = "[[a, b, c], [d, e, f]]";
        const QJsonArray rows = object.value("matrix").toArray();
        if (p.Ok() && (!object.value("matrix").isArray() || rows.size() != 2)) {
            p.Fail(mapPath, "expected " + expected);
        }
        const std::vector<double> first = Reals(p, rows.at(0), mapPath, 3, expected);
        const std::vector<double> second = Reals(p, rows.at(1), mapPath, 3, expected);
        m = {first[0], first[1], first[2], second[0], second[1], second[2]};
        const double determinant = m[0] * m[4] - m[1] * m[3];
        // Mirrors a thousandth of a pixel wide would be no camera image of a DMD either.
        if (p.Ok() && std::abs(determinant) < 1e-6) {
            p.Fail(mapPath, QStringLiteral("singular map (determinant %1)").arg(Text(determinant)));
        }
    } else {
        mapPath = Field(path, "centre");
        const double scale =
            Real(p, object.value("scale"), Field(path, "scale"), 0.0, kMaxScale, true);
        const double degrees =
            object.contains("rotation")
                ? Real(p, object.value("rotation"), Field(path, "rotation"), -360.0, 360.0)
                : 0.0;
        const bool flip =
            object.contains("flip") && Boolean(p, object.value("flip"), Field(path, "flip"));
        const std::vector<double> centre = Reals(p, object.value("centre"), mapPath, 2, "[x, y]");
        // sensor = centre + scale R(rotation) F (mirror - array centre): flipped, then turned.
        const double c = std::cos(degrees * std::numbers::pi / 180.0) * scale;
        const double s = std::sin(degrees * std::numbers::pi / 180.0) * scale;
        const double f = flip ? -1.0 : 1.0;
        const double cx = ScenarioDmd::kMirrorColumns / 2.0;
        const double cy = ScenarioDmd::kMirrorRows / 2.0;
        m = {c, -s * f, centre[0] - c * cx + s * f * cy, s, c * f, centre[1] - s * cx - c * f * cy};
    }
    if (p.Ok() && std::max(std::hypot(m[0], m[3]), std::hypot(m[1], m[4])) > kMaxScale) {
        p.Fail(mapPath,
               QStringLiteral("expected at most %1 sensor pixels per mirror").arg(Text(kMaxScale)));
    }
    if (p.Ok() && !FieldReachesImage(m, camera.setup)) {
        p.Fail(mapPath, "the DMD field lands outside the camera image");
    }
    return mapPath;
}

// The calibration must be able to work with the map at path under the optics' light.
void CheckCalibration(Problems& p, ScenarioOptics optics, const std::array<double, 6>& map,
                      const ScenarioCamera& camera, const QJsonObject& object, const QString& path,
                      const QString& mapPath) {
    if (!p.Ok()) {
        return;
    }
    optics.dmdToSensor = map;
    const OpticsProblem problem = CalibrationProblem(
        optics, camera, object.contains("matrix") ? mapPath : Field(path, "scale"), mapPath);
    if (!problem.field.isEmpty()) {
        p.Fail(problem.field, problem.what);
    }
}

void ReadOptics(Problems& p, const QJsonValue& value, const ScenarioCamera& camera,
                ScenarioOptics* optics) {
    const QString path = "optics";
    const QJsonObject object =
        Object(p, value, path,
               {"scale", "rotation", "flip", "centre", "matrix", "blurSigma", "signal",
                "background", "gain", "offset", "shotNoise", "readNoise", "seed"});
    const QString mapPath = ReadMap(p, object, path, camera, &optics->dmdToSensor);
    optics->blurSigma =
        Real(p, object.value("blurSigma"), Field(path, "blurSigma"), 0.0, kMaxBlurSigma);
    optics->signal =
        Real(p, object.value("signal"), Field(path, "signal"), 0.0, kMaxElectrons, true);
    optics->background =
        Real(p, object.value("background"), Field(path, "background"), 0.0, kMaxElectrons);
    optics->gain = Real(p, object.value("gain"), Field(path, "gain"), 0.0, kMaxGain, true);
    const double fullScale = std::ldexp(1.0, camera.setup.bitDepth) - 1.0;
    optics->offset = Real(p, object.value("offset"), Field(path, "offset"), 0.0, fullScale - 1.0);
    if (object.contains("shotNoise")) {
        optics->shotNoise = Boolean(p, object.value("shotNoise"), Field(path, "shotNoise"));
    }
    optics->readNoise =
        Real(p, object.value("readNoise"), Field(path, "readNoise"), 0.0, kMaxElectrons);
    if (object.contains("seed")) {
        optics->seed = static_cast<std::uint64_t>(
            Integer(p, object.value("seed"), Field(path, "seed"), 0, 0xFFFFFFFFLL));
    }
    CheckCalibration(p, *optics, optics->dmdToSensor, camera, object, path, mapPath);
}

void ReadDmd(Problems& p, const QJsonValue& value, const ScenarioCamera& camera,
             const ScenarioOptics& optics, ScenarioDmd* dmd) {
    const QString path = "dmd";
    const QJsonObject object = Object(p, value, path, {"device", "brand", "furtherUnits"});
    dmd->simulator =
        Choice(p, object.value("device"), Field(path, "device"), {"sdk", "simulator"}) == 1;
    if (object.contains("brand")) {
        dmd->brand = static_cast<std::uint32_t>(
            Choice(p, object.value("brand"), Field(path, "brand"), {"Andor", "Velmar"}));
    }
    if (!object.contains("furtherUnits")) {
        return;
    }
    const QString listPath = Field(path, "furtherUnits");
    const QJsonArray units = Array(p, object.value("furtherUnits"), listPath, 1);
    if (p.Ok() && dmd->simulator) {
        p.Fail(listPath, "further units need the SDK path (\"device\": \"sdk\")");
    }
    if (p.Ok() && units.size() > ScenarioDmd::kMaxUnits - 1) {
        p.Fail(listPath,
               QStringLiteral("expected at most %1 further units").arg(ScenarioDmd::kMaxUnits - 1));
    }
    for (int i = 0; i < units.size() && p.Ok(); ++i) {
        const QString item = Item(listPath, i);
        const QJsonObject unit =
            Object(p, units[i], item, {"scale", "rotation", "flip", "centre", "matrix"});
        std::array<double, 6> map{};
        const QString mapPath = ReadMap(p, unit, item, camera, &map);
        CheckCalibration(p, optics, map, camera, unit, item, mapPath);
        dmd->furtherUnits.push_back(map);
    }
}

void ReadRois(Problems& p, const QJsonValue& value, const ScenarioCamera& camera,
              std::array<std::vector<ScenarioRoi>, 3>* rois) {
    const QString path = "stimulation";
    const QJsonObject object = Object(p, value, path, kGroupNames);
    const QRectF image(0, 0, camera.imageWidth, camera.imageHeight);
    const QString inside = QStringLiteral("inside the %1 x %2 camera image")
                               .arg(camera.imageWidth)
                               .arg(camera.imageHeight);
    for (int g = 0; g < 3; ++g) {
        if (!object.contains(kGroupNames[g])) {
            continue;
        }
        const QString groupPath = Field(path, kGroupNames[g]);
        const QJsonArray array = Array(p, object.value(kGroupNames[g]), groupPath);
        for (int i = 0; i < array.size() && p.Ok(); ++i) {
            const QString item = Item(groupPath, i);
            const QJsonObject entry =
                Object(p, array[i], item, {"rectangle", "ellipse", "polygon", "label"});
            ScenarioRoi roi;
            if (entry.contains("label")) {
                roi.label = String(p, entry.value("label"), Field(item, "label"));
            }
            const int shapes =
                entry.contains("rectangle") + entry.contains("ellipse") + entry.contains("polygon");
            if (shapes != 1) {
                p.Fail(item, shapes == 0 ? "expected a rectangle, an ellipse or a polygon"
                                         : "expected only one of rectangle, ellipse and polygon");
            } else if (entry.contains("polygon")) {
                roi.shape = ScenarioRoiShape::Polygon;
                const QString polygonPath = Field(item, "polygon");
                const QJsonArray points = Array(p, entry.value("polygon"), polygonPath, 3);
                for (int k = 0; k < points.size() && p.Ok(); ++k) {
                    const std::vector<double> point =
                        Reals(p, points[k], Item(polygonPath, k), 2, "[x, y]");
                    roi.polygon << QPointF(point[0], point[1]);
                }
                double twiceArea = 0.0;
                for (int k = 0; k < roi.polygon.size(); ++k) {
                    const QPointF& a = roi.polygon[k];
                    const QPointF& b = roi.polygon[(k + 1) % roi.polygon.size()];
                    twiceArea += a.x() * b.y() - b.x() * a.y();
                }
                roi.bounds = roi.polygon.boundingRect();
                if (p.Ok() && !image.contains(roi.bounds)) {
                    p.Fail(polygonPath, "expected points " + inside);
                } else if (p.Ok() && std::abs(twiceArea) < 1e-9) {
                    p.Fail(polygonPath, "the polygon encloses no area");
                }
            } else {
                const char* key = entry.contains("rectangle") ? "rectangle" : "ellipse";
                roi.shape = entry.contains("rectangle") ? ScenarioRoiShape::Rectangle
                                                        : ScenarioRoiShape::Ellipse;
                const QString shapePath = Field(item, key);
                const std::vector<double> r =
                    Reals(p, entry.value(key), shapePath, 4, "[left, top, right, bottom]");
                roi.bounds = QRectF(QPointF(r[0], r[1]), QPointF(r[2], r[3]));
                if (p.Ok() && (r[0] >= r[2] || r[1] >= r[3] || !image.contains(roi.bounds))) {
                    p.Fail(shapePath, "expected [left, top, right, bottom] " + inside);
                }
            }
            (*rois)[g].push_back(roi);
        }
    }
}

void ReadProtocol(Problems& p, const QJsonValue& value,
                  const std::array<std::vector<ScenarioRoi>, 3>& rois, int units,
                  ScenarioProtocol* protocol) {
    const QString path = "protocol";
    const QJsonObject object =
        Object(p, value, path, {"stimulations", "bitDepths", "illuminationSequence"});
    auto needsRois = [&](int group, const QString& at) {
        if (p.Ok() && group >= 0 && group < 3 && rois[group].empty()) {
            p.Fail(at, QStringLiteral("%1 has no stimulation ROIs").arg(kGroupNames[group]));
        }
    };
    if (object.contains("stimulations")) {
        const QString listPath = Field(path, "stimulations");
        const QJsonArray array = Array(p, object.value("stimulations"), listPath);
        for (int i = 0; i < array.size() && p.Ok(); ++i) {
            const QString item = Item(listPath, i);
            const QJsonObject entry = Object(p, array[i], item, {"group", "durationMs", "runMode"});
            ScenarioStimulationRun run;
            // Groups in parallel go to different units through the aggregator.
            const QStringList choices =
                units > 1 ? kGroupNames + QStringList{"S1+S2", "S1+S3", "S2+S3"} : kGroupNames;
            const int choice = Choice(p, entry.value("group"), Field(item, "group"), choices);
            run.groupMask = choice < 3 ? 1u << choice : std::array{3u, 5u, 6u}[choice - 3];
            run.group = std::countr_zero(run.groupMask);
            for (int g = 0; g < 3; ++g) {
                if (run.groupMask & (1u << g)) {
                    needsRois(g, Field(item, "group"));
                }
            }
            run.durationMs =
                Real(p, entry.value("durationMs"), Field(item, "durationMs"), 0.0, kMaxTimeMs);
            run.runMode =
                static_cast<int>(Integer(p, entry.value("runMode"), Field(item, "runMode"), 1, 2));
            protocol->stimulations.push_back(run);
        }
    }
    if (object.contains("bitDepths")) {
        const QString listPath = Field(path, "bitDepths");
        const QJsonArray array = Array(p, object.value("bitDepths"), listPath);
        for (int i = 0; i < array.size() && p.Ok(); ++i) {
            const QJsonValue depth = array[i];
            if (!depth.isDouble() || (depth.toDouble() != 1 && depth.toDouble() != 4 &&
                                      depth.toDouble() != 6 && depth.toDouble() != 8)) {
                p.Fail(Item(listPath, i), "expected 1, 4, 6 or 8");
            }
            protocol->bitDepths.push_back(depth.toInt());
        }
    }
    if (object.contains("illuminationSequence")) {
        const QString listPath = Field(path, "illuminationSequence");
        const QJsonArray array = Array(p, object.value("illuminationSequence"), listPath, 1);
        const QStringList patterns = QStringList{"Full OFF", "Full ON", "Grid"} + kGroupNames;
        for (int i = 0; i < array.size() && p.Ok(); ++i) {
            const QString item = Item(listPath, i);
            const QJsonObject entry =
                Object(p, array[i], item, {"pattern", "frames", "cycles", "exposureMs", "gapMs"});
            ScenarioSequenceEvent event;
            const int pattern = Choice(p, entry.value("pattern"), Field(item, "pattern"), patterns);
            event.pattern = patterns[pattern].toStdWString();
            needsRois(pattern - 3, Field(item, "pattern"));
            event.frames = static_cast<int>(
                Integer(p, entry.value("frames"), Field(item, "frames"), 1, kMaxRepeats));
            event.cycles = static_cast<int>(
                Integer(p, entry.value("cycles"), Field(item, "cycles"), 1, kMaxRepeats));
            event.exposureMs = Real(p, entry.value("exposureMs"), Field(item, "exposureMs"), 0.0,
                                    kMaxTimeMs, true);
            event.gapMs = Real(p, entry.value("gapMs"), Field(item, "gapMs"), 0.0, kMaxTimeMs);
            protocol->illuminationSequence.push_back(event);
        }
    }
}

void ReadThresholds(Problems& p, const QJsonValue& value, ScenarioThresholds* thresholds) {
    const QString path = "thresholds";
    const QJsonObject object = Object(
        p, value, path, {"residualRmsPx", "residualMaxPx", "overlapPercent", "squaresFound"});
    for (auto [key, bar] : {std::pair{"residualRmsPx", &thresholds->residualRmsPx},
                            std::pair{"residualMaxPx", &thresholds->residualMaxPx}}) {
        if (object.contains(key)) {
            *bar = Real(p, object.value(key), Field(path, key), 0.0, kMaxResidualPx, true);
        }
    }
    if (object.contains("overlapPercent")) {
        thresholds->overlapPercent =
            Real(p, object.value("overlapPercent"), Field(path, "overlapPercent"), 0.0, 100.0);
    }
    if (object.contains("squaresFound")) {
        thresholds->squaresFound =
            static_cast<int>(Integer(p, object.value("squaresFound"), Field(path, "squaresFound"),
                                     0, kCalibrationSquaresAsked));
    }
}

}  // namespace

bool Scenario::Load(const QString& path, QString* error) {
    QFile file(path);
    const QString tooLarge =
        QStringLiteral("%1: larger than %2 MiB; not a scenario").arg(path).arg(kMaxFileBytes >> 20);
    // Refused before it is read; what does not tell its size (a pipe) is read no further.
    if (file.size() > kMaxFileBytes) {
        *error = tooLarge;
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: cannot read the file (%2)").arg(path, file.errorString());
        return false;
    }
    const QByteArray bytes = file.read(kMaxFileBytes + 1);
    if (bytes.size() > kMaxFileBytes) {
        *error = tooLarge;
        return false;
    }
    QJsonParseError parse;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parse);
    if (parse.error != QJsonParseError::NoError) {
        const QByteArray before = bytes.left(parse.offset);
        const int line = before.count('\n') + 1;
        const int column = parse.offset - (before.lastIndexOf('\n') + 1) + 1;
        *error = QStringLiteral("%1: line %2, column %3: invalid JSON (%4)")
                     .arg(path)
                     .arg(line)
                     .arg(column)
                     .arg(parse.errorString());
        return false;
    }
    if (!document.isObject()) {
        *error = QStringLiteral("%1: expected a JSON object").arg(path);
        return false;
    }

    Scenario scenario;
    scenario.m_path = path;
    Problems p;
    const QJsonObject root = Object(p, document.object(), QString(),
                                    {"description", "devices", "camera", "optics", "dmd",
                                     "stimulation", "light", "protocol", "thresholds"});
    if (root.contains("description")) {
        scenario.m_description =
            QString::fromStdWString(String(p, root.value("description"), "description"));
    }
    ReadDevices(p, root.value("devices"), &scenario.m_devices);
    ReadCamera(p, root.value("camera"), &scenario.m_camera, &scenario.m_turnedCamera);
    ReadOptics(p, root.value("optics"), scenario.m_camera, &scenario.m_optics);
    ReadDmd(p, root.value("dmd"), scenario.m_camera, scenario.m_optics, &scenario.m_dmd);
    // The ROIs are drawn after calibration, on the image as it shows then.
    ReadRois(p, root.value("stimulation"), scenario.m_turnedCamera, &scenario.m_rois);
    ReadLight(p, root.value("light"), scenario.m_devices, &scenario.m_light);
    ReadProtocol(p, root.value("protocol"), scenario.m_rois, scenario.m_dmd.Units(),
                 &scenario.m_protocol);
    if (root.contains("thresholds")) {
        ReadThresholds(p, root.value("thresholds"), &scenario.m_thresholds);
    }
    if (!p.Ok()) {
        *error = path + QStringLiteral(": ") + p.first;
        return false;
    }
    *this = scenario;
    return true;
}

int Scenario::Apply() const {
    for (const zthost::LogicalDeviceSetup& device : m_devices.logical) {
        const int status = zthost::AddLogicalDevice(device);
        if (status != 0) {
            return status;
        }
        // The Verove pad takes over the light's own control, so the host lays one out.
        if (device.type == ZT_LOGDEV_MULTILASER || device.type == ZT_LOGDEV_LIGHT) {
            zthost::AddLayoutElement(device.id);
        }
    }
    zthost::SetGalvoXYCount(m_devices.galvoXYCount);
    int status = zthost::SetCamera(m_camera.setup);
    if (status != 0) {
        return status;
    }
    zthost::OpticsSetup optics;
    optics.dmdToSensor = m_optics.dmdToSensor;
    optics.blurSigma = m_optics.blurSigma;
    optics.signal = m_optics.signal;
    optics.background = m_optics.background;
    optics.gain = m_optics.gain;
    optics.offset = m_optics.offset;
    optics.shotNoise = m_optics.shotNoise;
    optics.readNoise = m_optics.readNoise;
    optics.seed = m_optics.seed;
    status = zthost::SetOptics(optics);
    if (status != 0) {
        return status;
    }
    zthost::OpenCameraDocument();
    return 0;
}

CZtRoiObject Scenario::RoiObject(const ScenarioRoi& roi, std::uint32_t group, std::uint32_t id) {
    const QPointF centre = roi.bounds.center();
    const double halfWidth = roi.bounds.width() / 2;
    const double halfHeight = roi.bounds.height() / 2;
    CZtRoiObject object;
    switch (roi.shape) {
        case ScenarioRoiShape::Rectangle:
            object.SetGeometry(ZT_ROITYPE_RECTANGLE,
                               {centre.x(), centre.y(), halfWidth, halfHeight});
            break;
        case ScenarioRoiShape::Ellipse:
            object.SetGeometry(ZT_ROITYPE_ELLIPSE, {centre.x(), centre.y(), halfWidth, halfHeight});
            break;
        case ScenarioRoiShape::Polygon: {
            std::vector<double> points;
            for (const QPointF& point : roi.polygon) {
                points.push_back(point.x());
                points.push_back(point.y());
            }
            object.SetGeometry(ZT_ROITYPE_POLYGON, points);
            break;
        }
        case ScenarioRoiShape::Point:
            object.SetGeometry(ZT_ROITYPE_POINT, {centre.x(), centre.y()});
            break;
    }
    object.SetId(id);
    object.SetLabel(CZtStringW(roi.label.c_str()));
    object.SetStimulation(true);
    object.SetStimulationGroup(group);
    return object;
}

CZtRoiObjectList Scenario::RoiObjects(std::uint32_t groupMask) const {
    CZtRoiObjectList list;
    std::uint32_t id = 0;
    for (std::uint32_t g = 0; g < 3; ++g) {
        for (const ScenarioRoi& roi : m_rois[g]) {
            ++id;
            if (groupMask & (1u << g)) {
                list.Add(RoiObject(roi, g, id));
            }
        }
    }
    return list;
}
