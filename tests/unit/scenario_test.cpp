// Scenario files of the host program: the shipped ones, the one-line refusal of every kind of
// bad input, the microscope they build in the reference host, and the report folder.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cmath>

#include "configurationtext.h"
#include "report.h"
#include "scenario.h"
#include "zt/zt_devices.h"
#include "zt/zt_grabber.h"
#include "zt/zt_module.h"
#include "zthost/microscope.h"
#include "zthost/zthost.h"

namespace {

const QString kScenarios = QStringLiteral(VEROVE_SOURCE_DIR "/apps/verove-host/scenarios");

QJsonObject DefaultJson() {
    QFile file(kScenarios + "/default.json");
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return QJsonDocument::fromJson(file.readAll()).object();
}

// Sets (or, with an undefined value, removes) the field at a path such as
// "devices.shutters[1].key" inside value.
QJsonValue Edit(const QJsonValue& value, QStringList path, const QJsonValue& replacement) {
    if (path.isEmpty()) {
        return replacement;
    }
    const QRegularExpressionMatch match =
        QRegularExpression(R"(^([^\[]+)(?:\[(\d+)\])?$)").match(path.takeFirst());
    QJsonObject object = value.toObject();
    const QString key = match.captured(1);
    if (match.captured(2).isEmpty()) {
        if (path.isEmpty() && replacement.isUndefined()) {
            object.remove(key);
        } else {
            object[key] = Edit(object.value(key), path, replacement);
        }
    } else {
        QJsonArray array = object.value(key).toArray();
        const int index = match.captured(2).toInt();
        array[index] = Edit(array.at(index), path, replacement);
        object[key] = array;
    }
    return object;
}

class ScenarioFiles : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_folder.isValid()); }

    QString Write(const QByteArray& bytes, const QString& name = "scenario.json") {
        const QString path = m_folder.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }
    QString Write(const QJsonObject& object) { return Write(QJsonDocument(object).toJson()); }
    // The error Load gives for the default scenario with one field changed.
    QString ErrorWith(const QString& field, const QJsonValue& value) {
        const QString path = Write(Edit(DefaultJson(), field.split('.'), value).toObject());
        Scenario scenario;
        QString error;
        EXPECT_FALSE(scenario.Load(path, &error)) << field.toStdString();
        EXPECT_FALSE(error.contains('\n'));
        return error.mid(path.size() + 2);  // after "<file>: "
    }

    QTemporaryDir m_folder;
};

TEST_F(ScenarioFiles, EveryShippedScenarioLoads) {
    const QStringList files = QDir(kScenarios).entryList({"*.json"}, QDir::Files);
    EXPECT_EQ(files, (QStringList{"binning-roi.json", "default.json", "four-units.json",
                                  "galvo-conflict.json", "rotated-flipped.json",
                                  "turned-after-calibration.json", "two-units.json"}));
    for (const QString& file : files) {
        Scenario scenario;
        QString error;
        EXPECT_TRUE(scenario.Load(kScenarios + "/" + file, &error)) << error.toStdString();
    }
}

TEST_F(ScenarioFiles, UnreadableFilesAreNamedWithTheReason) {
    Scenario scenario;
    QString error;
    const QString missing = m_folder.filePath("missing.json");
    EXPECT_FALSE(scenario.Load(missing, &error));
    EXPECT_EQ(error, missing + ": cannot read the file (No such file or directory)");

    const QString broken = Write("{\n  \"devices\": {,\n}");
    EXPECT_FALSE(scenario.Load(broken, &error));
    EXPECT_TRUE(error.startsWith(broken + ": line 2, column 16: invalid JSON ("))
        << error.toStdString();

    const QString list = Write("[1, 2]");
    EXPECT_FALSE(scenario.Load(list, &error));
    EXPECT_EQ(error, list + ": expected a JSON object");
}

// A file far larger than any scenario is refused before it is read: a device that never ends.
TEST_F(ScenarioFiles, FilesLargerThanOneMebibyteAreRefusedUnread) {
    QFile defaultFile(kScenarios + "/default.json");
    ASSERT_TRUE(defaultFile.open(QIODevice::ReadOnly));
    QByteArray padded = defaultFile.readAll();
    padded.append(QByteArray(Scenario::kMaxFileBytes - padded.size(), ' '));
    Scenario scenario;
    QString error;
    EXPECT_TRUE(scenario.Load(Write(padded), &error)) << error.toStdString();

    const QString oneMore = Write(padded + ' ', "one-more.json");
    EXPECT_FALSE(scenario.Load(oneMore, &error));
    EXPECT_EQ(error, oneMore + ": larger than 1 MiB; not a scenario");

    EXPECT_FALSE(scenario.Load("/dev/zero", &error));
    EXPECT_EQ(error, "/dev/zero: larger than 1 MiB; not a scenario");
    EXPECT_EQ(scenario.Path(), Write(padded));  // the scenario loaded first stays
}

// Every kind of bad field the load names by its path, in one line: missing and unknown fields,
// values of the wrong kind or beyond what a microscope can have, references that do not resolve,
// shapes outside the image.
struct SRefusal {
    const char* field;
    QJsonValue value;
    const char* message;             // after "<field>: "
    const char* reported = nullptr;  // the field the message names, where it is another
};

TEST_F(ScenarioFiles, EveryBadFieldIsRefusedNamingItsPath) {
    const char* const kCameraImage =
        "expected [left, top, right, bottom] inside the 2048 x 2048 camera image";
    const std::vector<SRefusal> refusals = {
        {"optics", QJsonValue::Undefined, "missing"},
        {"extra", 1, "unknown field"},
        {"devices.galvos", 1, "unknown device kind"},
        {"devices.shutters[0].colour", "red", "unknown field"},
        {"devices.laserLaunches[0].lines[2].wavelength", QJsonValue::Undefined, "missing"},
        {"stimulation.S4", QJsonArray(), "unknown field"},
        {"camera", QJsonArray(), "expected an object"},
        {"thresholds", QJsonObject{{"overlap", 90}}, "unknown field", "thresholds.overlap"},
        {"optics.scale", "2", "expected a positive number up to 100"},
        {"optics.offset", 65535, "expected a number from 0 to 65534"},
        {"devices.laserLaunches[0].lines[0].power", 120, "expected a number from 0 to 100"},
        {"devices.shutters[0].open", 1, "expected true or false"},
        {"dmd.device", "usb", "expected \"sdk\" or \"simulator\""},
        {"camera.rotation", 45, "expected 0, 90, 180 or 270"},
        {"camera.turnAfterCalibration", QJsonObject{{"rotation", 45}}, "expected 0, 90, 180 or 270",
         "camera.turnAfterCalibration.rotation"},
        {"camera.turnAfterCalibration", QJsonObject{{"angle", 90}}, "unknown field",
         "camera.turnAfterCalibration.angle"},
        {"camera.sensor", QJsonArray{2048}, "expected [width, height]"},
        {"protocol.bitDepths[0]", 3, "expected 1, 4, 6 or 8"},
        {"protocol.stimulations[0].runMode", 3, "expected an integer from 1 to 2"},
        {"protocol.illuminationSequence[0].pattern", "Checkerboard",
         "expected \"Full OFF\", \"Full ON\", \"Grid\", \"S1\", \"S2\" or \"S3\""},
        // Numbers beyond any microscope: a few rows per kind of check, not every field's bounds,
        // which would only restate the loader's table.
        {"optics.rotation", 1e300, "expected a number from -360 to 360"},
        {"camera.binning", 1e300, "expected an integer from 1 to 8"},
        {"protocol.stimulations[0].durationMs", 1e300, "expected a number from 0 to 600000"},
        {"thresholds.residualMaxPx", 0, "expected a positive number up to 100"},
        // Sensors, optics and places.
        {"camera.sensor", QJsonArray{100000, 100000},
         "expected [width, height] in whole pixels from 16 to 16384, at most 67108864 pixels in "
         "all"},
        {"optics.matrix", QJsonArray{QJsonArray{2, 0, 0}, QJsonArray{0, 2, 0}},
         "give either a matrix or scale, rotation, flip and centre"},
        {"optics.centre", QJsonArray{1e300, 1024}, "the DMD field lands outside the camera image"},
        {"optics.background", 65435,
         "the camera saturates without light from the DMD (offset + gain x background reaches "
         "65535)"},
        {"camera.roi", QJsonArray{0, 0, 4096, 100},
         "expected [left, top, right, bottom] in whole pixels inside the 2048 x 2048 sensor"},
        {"stimulation.S1[0].rectangle", QJsonArray{0, 0, 2049, 10}, kCameraImage},
        {"stimulation.S2[0].ellipse", QJsonArray{100, 100, 50, 200}, kCameraImage},
        {"stimulation.S3[0].polygon",
         QJsonArray{QJsonArray{0, 0}, QJsonArray{5, 5}, QJsonArray{10, 10}},
         "the polygon encloses no area"},
        {"stimulation.S1[0].ellipse", QJsonArray{1, 1, 2, 2},
         "expected only one of rectangle, ellipse and polygon", "stimulation.S1[0]"},
        // References to devices and groups.
        {"light.source", "Arc Lamp", "no laser launch or light has the key \"Arc Lamp\""},
        {"light.shutters[0]", "Epi", "no shutter has the key \"Epi\""},
        {"light.switcherPort", 2, "expected an integer from 0 to 1"},
        {"devices.shutters[1].key", "Laser Shutter",
         "\"Laser Shutter\" is the key of an earlier device of this kind"},
        {"light.groups.S1", QJsonArray{QJsonObject{{"power", 1}, {"used", true}}},
         "expected 4 entries, one per line of \"Laser Launch\""},
        {"stimulation.S3", QJsonValue::Undefined, "S3 has no stimulation ROIs",
         "protocol.stimulations[2].group"},
    };
    for (const SRefusal& refusal : refusals) {
        const std::string reported = refusal.reported ? refusal.reported : refusal.field;
        EXPECT_EQ(ErrorWith(refusal.field, refusal.value).toStdString(),
                  reported + ": " + refusal.message);
    }
}

// Optics the auto-calibration cannot work with are refused at load, by the field to change.
TEST_F(ScenarioFiles, OpticsTheCalibrationCannotWorkWithAreRefused) {
    struct Case {
        QJsonObject changes;  // path -> value
        QString error;        // empty: loads
    };
    const std::vector<Case> cases = {
        // The stray light a 4 x 4 binned pixel gathers saturates 12 bits; unbinned it does not.
        {{{"camera.bitDepth", 12}, {"optics.background", 250}}, ""},
        {{{"camera.bitDepth", 12}, {"camera.binning", 4}, {"optics.background", 250}},
         "optics.background: the camera saturates without light from the DMD (offset + gain x "
         "background x 16 binned pixels reaches 4095)"},
        {{{"optics.gain", 0.001}},
         "optics.signal: the DMD's light stands too little above the camera's noise (lit pixels 1 "
         "grey values above dark ones, noise 0.4; 5 times the noise needed)"},
        {{{"optics.scale", 0.1}},
         "optics.scale: a calibration square of 10 x 10 mirrors spans only 1 image pixels; at "
         "least 2 needed"},
        {{{"optics.scale", 0.3}, {"camera.binning", 2}},
         "optics.scale: a calibration square of 10 x 10 mirrors spans only 1.5 image pixels; at "
         "least 2 needed"},
        // The field's first 50 mirror columns reach into the image.
        {{{"optics.centre", QJsonArray{2748, 1024}}},
         "optics.centre: about 6.4 of the 137 squares the calibration shows land on the sensor; "
         "at least 10 needed"},
        // Half the field inside: calibrated on the half the camera sees.
        {{{"optics.centre", QJsonArray{2048, 1024}}}, ""},
    };
    for (const Case& c : cases) {
        QJsonValue json = DefaultJson();
        for (auto it = c.changes.begin(); it != c.changes.end(); ++it) {
            json = Edit(json, it.key().split('.'), it.value());
        }
        SCOPED_TRACE(QJsonDocument(c.changes).toJson(QJsonDocument::Compact).toStdString());
        const QString path = Write(json.toObject());
        Scenario scenario;
        QString error;
        EXPECT_EQ(scenario.Load(path, &error), c.error.isEmpty());
        EXPECT_EQ(error.mid(error.isEmpty() ? 0 : path.size() + 2).toStdString(),
                  c.error.toStdString());
    }
}

TEST_F(ScenarioFiles, RoisMustFitTheTurnedImage) {
    // ROIs are drawn after calibration: on a sensor wider than high turned by a quarter, the
    // image they must fit is the turned one.
    Scenario scenario;
    QString error;
    QJsonObject json = DefaultJson();
    json = Edit(json, {"camera", "sensor"}, QJsonArray{2048, 1024}).toObject();
    json = Edit(json, {"optics", "centre"}, QJsonArray{1024, 512}).toObject();
    json = Edit(json, {"optics", "scale"}, 1.0).toObject();
    json = Edit(json, {"stimulation", "S1"},
                QJsonArray{QJsonObject{{"rectangle", QJsonArray{100, 1500, 200, 1600}}}})
               .toObject();
    json = Edit(json, {"stimulation", "S2"},
                QJsonArray{QJsonObject{{"ellipse", QJsonArray{100, 1100, 300, 1300}}}})
               .toObject();
    json = Edit(json, {"stimulation", "S3"},
                QJsonArray{QJsonObject{
                    {"polygon", QJsonArray{QJsonArray{100, 1200}, QJsonArray{300, 1150},
                                           QJsonArray{400, 1450}, QJsonArray{200, 1500}}}}})
               .toObject();
    const QString unturned = Write(json);
    EXPECT_FALSE(scenario.Load(unturned, &error));
    EXPECT_EQ(error, unturned +
                         ": stimulation.S1[0].rectangle: expected [left, top, right, "
                         "bottom] inside the 2048 x 1024 camera image");
    json =
        Edit(json, {"camera", "turnAfterCalibration"}, QJsonObject{{"rotation", 270}}).toObject();
    const QString turnedFile = Write(json);
    EXPECT_TRUE(scenario.Load(turnedFile, &error)) << error.toStdString();
}

TEST_F(ScenarioFiles, AFailedLoadKeepsThePreviousScenario) {
    Scenario scenario;
    QString error;
    ASSERT_TRUE(scenario.Load(kScenarios + "/binning-roi.json", &error));
    EXPECT_FALSE(scenario.Load(Write("{}"), &error));
    EXPECT_EQ(scenario.Path(), kScenarios + "/binning-roi.json");
    EXPECT_EQ(scenario.Camera().imageWidth, 768);
}

TEST_F(ScenarioFiles, OpticsPartsComposeAboutTheMirrorArrayCentre) {
    QJsonObject json = DefaultJson();
    QJsonObject optics = json["optics"].toObject();
    optics["scale"] = 2;
    optics["rotation"] = 90;
    optics["flip"] = true;
    optics["centre"] = QJsonArray{1000, 800};
    json["optics"] = optics;
    Scenario scenario;
    QString error;
    ASSERT_TRUE(scenario.Load(Write(json), &error)) << error.toStdString();
    const std::array<double, 6>& m = scenario.Optics().dmdToSensor;
    auto map = [&](double x, double y) {
        return QPointF(m[0] * x + m[1] * y + m[2], m[3] * x + m[4] * y + m[5]);
    };
    auto near = [](QPointF a, QPointF b) {
        return std::hypot(a.x() - b.x(), a.y() - b.y()) < 1e-9;
    };
    EXPECT_TRUE(near(map(400, 300), QPointF(1000, 800)));
    EXPECT_TRUE(near(map(401, 300), QPointF(1000, 802)));  // columns run down the sensor
    EXPECT_TRUE(near(map(400, 301), QPointF(1002, 800)));  // flipped rows, then turned
}

// The microscope the scenarios build, as the plug-in sees it through the host.
class ScenarioMicroscope : public ::testing::Test {
protected:
    void SetUp() override { zthost::ResetForTests(); }
    void TearDown() override { zthost::ResetForTests(); }

    static Scenario Loaded(const QString& file) {
        Scenario scenario;
        QString error;
        EXPECT_TRUE(scenario.Load(kScenarios + "/" + file, &error)) << error.toStdString();
        return scenario;
    }
};

// The image size the loader checks ROIs against is the one the host's own geometry displays.
TEST_F(ScenarioMicroscope, CameraImagesTheRegionTheScenarioDescribes) {
    for (const char* file : {"default.json", "rotated-flipped.json", "binning-roi.json"}) {
        SCOPED_TRACE(file);
        zthost::ResetForTests();
        const Scenario scenario = Loaded(file);
        ASSERT_EQ(scenario.Apply(), 0);
        IZtGrabberProvider* grabber = zthost::HostContext()->GetGrabberProvider();
        ASSERT_NE(grabber, nullptr);
        SZtGrabberFormatDesc format;
        ASSERT_EQ(grabber->CameraSettingsGet(&format), 0);
        SZtRect image;
        ASSERT_EQ(ConvertRectSensorToImage(&format, scenario.Camera().setup.rotationDegrees,
                                           format.value.flipY, &format.value.imageRect, &image),
                  0);
        EXPECT_EQ(image.right - image.left, scenario.Camera().imageWidth);
        EXPECT_EQ(image.bottom - image.top, scenario.Camera().imageHeight);
        double degrees = 0;
        EXPECT_EQ(grabber->Interp_Rotate_Get(1, &degrees), 0);
        EXPECT_EQ(degrees, scenario.Camera().setup.rotationDegrees);
        EXPECT_EQ(format.value.flipY, std::string(file) == "rotated-flipped.json");
    }
    SZtGrabberFormatDesc format;
    zthost::HostContext()->GetGrabberProvider()->CameraSettingsGet(&format);
    EXPECT_EQ(format.value.imageRect.left, 256);  // binning-roi.json, the last one applied
    EXPECT_EQ(format.value.binningX, 2.0);
    EXPECT_EQ(format.value.bitDepth, 12);
}

class ScenarioReport : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_parent.isValid()); }

    QStringList Entries(const QString& folder) const {
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                      QDir::Name);
    }
    QString Read(const QString& path) const {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    QString Folder() const { return m_parent.filePath("report"); }
    static QImage Filled(int width, int height, Qt::GlobalColor colour) {
        QImage picture(width, height, QImage::Format_RGB32);
        picture.fill(colour);
        return picture;
    }
    // An earlier report of verove-host's, with a picture the next one does not have; returns
    // its report.md.
    QString WriteEarlierReport() {
        Report earlier("earlier.json", "", {true, true, true});
        QString error;
        EXPECT_TRUE(earlier.Begin(Folder(), {}, &error)) << error.toStdString();
        EXPECT_TRUE(earlier.AddPicture("old.png", Filled(4, 3, Qt::blue), "Old"));
        EXPECT_TRUE(earlier.Finish("completed", &error)) << error.toStdString();
        return Read(Folder() + "/report.md");
    }

    QTemporaryDir m_parent;
};

TEST_F(ScenarioReport, AppearsWholeOnlyWhenFinished) {
    Report report("scenarios/x.json", "A test microscope", {true, false, true});
    QString error;
    ASSERT_TRUE(report.Begin(Folder(), {}, &error)) << error.toStdString();
    EXPECT_TRUE(report.AddPicture("field.png", Filled(40, 30, Qt::red), "The field"));
    QDir(report.StagingPath()).mkdir("settings");
    report.AddStep(1, "Connect", Report::Outcome::Done, "connected as A|B");
    report.AddStep(2, "Start up", Report::Outcome::Skipped, "");
    report.SetLogFile("/tmp/host.log");
    EXPECT_FALSE(QFileInfo::exists(Folder()));
    EXPECT_EQ(Entries(m_parent.path()).size(), 1);  // the staging folder only

    ASSERT_TRUE(report.Finish("completed", &error)) << error.toStdString();
    EXPECT_EQ(Entries(m_parent.path()), QStringList{"report"});
    EXPECT_EQ(Entries(Folder()),
              (QStringList{".verove-report", "field.png", "report.md", "settings"}));
    EXPECT_EQ(QImage(Folder() + "/field.png").size(), QSize(40, 30));
    const QString markdown = Read(Folder() + "/report.md");
    EXPECT_TRUE(markdown.contains("- Scenario: `scenarios/x.json`\n"));
    EXPECT_TRUE(markdown.contains("- Result: completed\n"));
    EXPECT_TRUE(markdown.contains("| Calibration residual RMS (camera px) | not measured |\n"));
    EXPECT_TRUE(markdown.contains("| Placement overlap S3 | not measured |\n"));
    EXPECT_FALSE(markdown.contains("S2"));  // the session uses S1 and S3 only
    EXPECT_TRUE(markdown.contains("| Log file | /tmp/host.log |\n"));
    EXPECT_TRUE(markdown.contains("| 1 | Connect | done | connected as A\\|B |\n"));
    EXPECT_TRUE(markdown.contains("| 2 | Start up | skipped |  |\n"));
    EXPECT_TRUE(markdown.contains("![The field](field.png)"));
}

TEST_F(ScenarioReport, AFailedOrDiscardedReportLeavesTheEarlierOne) {
    const QString earlier = WriteEarlierReport();
    Report report("x.json", "", {true, true, true});
    QString error;
    ASSERT_TRUE(report.Begin(Folder(), {}, &error));
    EXPECT_FALSE(report.AddPicture("empty.png", QImage(), "Nothing"));
    EXPECT_FALSE(report.Finish("completed", &error));
    EXPECT_EQ(error, Folder() + ": cannot write the picture empty.png");
    EXPECT_EQ(Entries(m_parent.path()), QStringList{"report"});
    EXPECT_EQ(Read(Folder() + "/report.md"), earlier);

    Report discarded("x.json", "", {true, true, true});
    ASSERT_TRUE(discarded.Begin(Folder(), {}, &error));
    discarded.Discard();
    EXPECT_EQ(Entries(m_parent.path()), QStringList{"report"});
    EXPECT_EQ(Read(Folder() + "/report.md"), earlier);
}

// report.md leads with the verdict and the checks behind it; the first step or check that was
// not met is named.
TEST_F(ScenarioReport, LeadsWithPassOrFailAgainstTheThresholds) {
    struct Case {
        const char* name;
        std::vector<Report::Outcome> steps;  // "Step 1", "Step 2", … with detail "why"
        bool checkPasses;
        QString verdict;
        QString stepsRow;
    };
    using O = Report::Outcome;
    const Case cases[] = {
        {"all met",
         {O::Done, O::Done, O::Done},
         true,
         "PASSED: all 3 steps done, every figure within its threshold",
         "| Steps done | 3 of 3 | all | pass |"},
        {"a figure missed",
         {O::Done, O::Done, O::Done},
         false,
         "FAILED: Overlap 85.0 %, not at least 90 %",
         "| Steps done | 3 of 3 | all | pass |"},
        {"a step failed",
         {O::Done, O::Failed, O::Skipped},
         true,
         "FAILED: step 2, Step 2, failed: why",
         "| Steps done | 1 of 3 | all | FAIL |"},
        {"refused",
         {O::Refused, O::Skipped, O::Skipped},
         false,
         "FAILED: step 1, Step 1, refused: why",
         "| Steps done | 0 of 3 | all | FAIL |"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(Folder()).removeRecursively();
        Report report("x.json", "", {true, false, false});
        QString error;
        ASSERT_TRUE(report.Begin(Folder(), {}, &error));
        for (size_t i = 0; i < c.steps.size(); ++i) {
            report.AddStep(static_cast<int>(i) + 1, QStringLiteral("Step %1").arg(i + 1),
                           c.steps[i], "why");
        }
        report.AddCheck("Overlap", c.checkPasses ? "97.0 %" : "85.0 %", "at least 90 %",
                        c.checkPasses);
        EXPECT_EQ(report.Verdict().toStdString(), c.verdict.toStdString());
        ASSERT_TRUE(report.Finish("completed", &error));
        const QString markdown = Read(Folder() + "/report.md");
        const int colon = c.verdict.indexOf(':');
        EXPECT_TRUE(markdown.startsWith("# Verove session report\n\n**" + c.verdict.left(colon) +
                                        "**" + c.verdict.mid(colon) +
                                        "\n\n| Check | Value | Threshold | Result |\n|---|---|---|"
                                        "---|\n" +
                                        c.stepsRow + "\n"))
            << markdown.toStdString();
        EXPECT_TRUE(markdown.contains(
            QStringLiteral("| Overlap | %1 | at least 90 % | %2 |\n")
                .arg(c.checkPasses ? "97.0 %" : "85.0 %", c.checkPasses ? "pass" : "FAIL")));
    }
}

// The configuration a calibration is stored for, as the step shows it.
TEST(ConfigurationText, NamesFiltersObjectiveCameraAndWhatElseTheKeyHolds) {
    struct Case {
        QString key;
        QString text;
    };
    const Case cases[] = {
        {"#F$KEmission$NQuad band$P0$KExcitation$NGFP$P1#O20x Air#R0.000000#L1#CCamera",
         "Emission: Quad band, Excitation: GFP, objective: 20x Air, camera: Camera, TRAX "
         "port 1"},
        {"#F#O#R0.000000#C", "no filters, no objective, unnamed camera"},
        {"#F$KTurret1$NGFP$P2#OP20#R90.000000#L3#CCam1",
         "Turret1: GFP, objective: P20, camera: Cam1 turned 90°, TRAX port 3"},
        {"#F$KT1$NDAPI$P0#O60x#R0.000000#Z1.500000#CCam 2",
         "T1: DAPI, objective: 60x, camera: Cam 2, zoom 1.5x"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ConfigurationText(c.key).toStdString(), c.text.toStdString());
    }
}

}  // namespace
