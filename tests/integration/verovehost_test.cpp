// verove-host run as a process on the shipped scenarios and on bad input: exit codes, what the
// terminal shows and what the report folder holds.
#include <gtest/gtest.h>

#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cmath>
#include <cstdlib>

namespace {

const QString kHost = QStringLiteral(VEROVE_BIN_DIR "/verove-host");
const QString kScenarios = QStringLiteral(VEROVE_SOURCE_DIR "/apps/verove-host/scenarios");

// The number the first match of pattern captures in text; NaN when nothing matches.
double Number(const QString& text, const QString& pattern) {
    const QRegularExpressionMatch match = QRegularExpression(pattern).match(text);
    bool ok = false;
    const double value = match.hasMatch() ? match.captured(1).toDouble(&ok) : 0.0;
    return ok ? value : std::nan("");
}

// What every match of pattern captures first in text, in order.
QStringList Captures(const QString& text, const QString& pattern) {
    QStringList captures;
    QRegularExpressionMatchIterator it = QRegularExpression(pattern).globalMatch(text);
    while (it.hasNext()) {
        captures << it.next().captured(1);
    }
    return captures;
}

QStringList Counting(int from, int to) {
    QStringList numbers;
    for (int n = from; n <= to; ++n) {
        numbers << QString::number(n);
    }
    return numbers;
}

struct HostRun {
    int exitCode = -1;
    QString out;
    QString err;
};

class ScenarioRun : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_folder.isValid()); }

    HostRun Host(QStringList arguments) {
        arguments << "--log" << m_folder.filePath("host.log");
        QProcess process;
        process.setProgram(kHost);
        process.setArguments(arguments);
        process.start();
        HostRun run;
        // Generous: a sanitizer build runs a whole session several times slower.
        if (!process.waitForFinished(900000)) {
            process.kill();
            process.waitForFinished();
            ADD_FAILURE() << "verove-host did not finish";
            return run;
        }
        run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
        run.err = QString::fromLocal8Bit(process.readAllStandardError());
        return run;
    }
    HostRun Scenario(const QString& file, QStringList more = {}) {
        return Host(QStringList{"--scenario", kScenarios + "/" + file, "--report", Report()} +
                    more);
    }
    QString Report() const { return m_folder.filePath("report"); }
    QString Read(const QString& name) const {
        QFile file(Report() + "/" + name);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    // Everything in the temporary folder but the log: the report and anything left beside it.
    QStringList Left() const {
        QStringList entries =
            QDir(m_folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        entries.removeAll("host.log");
        entries.removeAll("bad.json");
        return entries;
    }
    QString WriteBad(const QByteArray& bytes) {
        QFile file(m_folder.filePath("bad.json"));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return file.fileName();
    }

    HostRun ExpectCompleteSession(const QString& file, const QStringList& more = {});

    QTemporaryDir m_folder;
};

// A shipped scenario on the SDK path: every step done, the light lands where the ROIs were drawn
// and the calibration meets the ground truth; the report holds every picture.
HostRun ScenarioRun::ExpectCompleteSession(const QString& file, const QStringList& more) {
    const HostRun run = Scenario(file, more);
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("connected as CZtStimulationDeviceVerove_0"));
    EXPECT_TRUE(run.out.contains("settings/Verove.bin saved ("));
    EXPECT_GE(Number(run.out, R"("Full ON" covers the field the optics give: overlap (\S+) %)"),
              99.0);
    EXPECT_EQ(Number(run.out, R"(\n      (\d+) of 30 squares found; stored for )"), 30.0)
        << run.out.toStdString();
    // Progress: each square as it is found, up to the figure the step ends with, and each
    // stimulation; none with --quiet. A step over a second gives its time (a binned camera's
    // calibration may take less).
    const QStringList squares = Captures(run.out, R"((?m)^      square (\d+)/30, \d+\.\d s$)");
    const QStringList stimulations =
        Captures(run.out, R"((?m)^      stimulation (\d+/\d+), \d+\.\d s: S\d, \d+ ms, )");
    if (more.contains("--quiet")) {
        EXPECT_TRUE(squares.isEmpty());
        EXPECT_TRUE(stimulations.isEmpty());
    } else {
        EXPECT_EQ(squares, Counting(1, 30)) << run.out.toStdString();
        EXPECT_FALSE(stimulations.isEmpty());
        EXPECT_EQ(stimulations.last().section('/', 0, 0), stimulations.last().section('/', 1));
    }
    EXPECT_TRUE(run.out.contains(QRegularExpression(
        R"(\n      30 of 30 squares found; [^\n]* px at most; [^\n]* px max( \(\d+\.\d s\))?\n)")))
        << run.out.toStdString();
    EXPECT_EQ(Left(), QStringList{"report"});
    EXPECT_EQ(
        QDir(Report()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).join(", ").toStdString(),
        "calibration.png, camera-field.png, dmd-field.png, dmd-S1.png, dmd-S2.png, "
        "dmd-S3.png, report.md, settings, stimulation-S1.png, stimulation-S2.png, "
        "stimulation-S3.png");
    for (const QString& picture : QDir(Report()).entryList({"*.png"})) {
        const QImage image(Report() + "/" + picture);
        EXPECT_FALSE(image.isNull()) << picture.toStdString();
        // Each group's light is in its picture: not a dark frame.
        if (picture.startsWith("dmd-S")) {
            EXPECT_GT(qGray(image.convertToFormat(QImage::Format_Grayscale8)
                                .scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                .pixel(0, 0)),
                      0)
                << picture.toStdString();
        }
    }
    EXPECT_GT(QFileInfo(Report() + "/settings/Verove.bin").size(), 0);

    // The accuracy bars, read from the report as a user reads them.
    const QString markdown = Read("report.md");
    EXPECT_TRUE(markdown.contains("- Result: completed\n"));
    EXPECT_TRUE(markdown.startsWith("# Verove session report\n\n**PASSED**: all "))
        << markdown.toStdString();
    EXPECT_TRUE(markdown.contains(
        QRegularExpression(R"(\n\| "Full ON" overlap with the DMD field the optics give \| )"
                           R"(\d+\.\d % \| at least 90 % \| pass \|\n)")));
    EXPECT_TRUE(run.out.contains(QRegularExpression(
        R"(\nPASSED: all \d+ steps done, every figure within its threshold\n\nverove-host: )")));
    EXPECT_FALSE(markdown.contains("| failed |"));
    EXPECT_FALSE(markdown.contains("| skipped |"));
    EXPECT_LE(
        Number(markdown, R"(\| Calibration residual max \(camera px\) \| (\S+) px ≤ 0.3 px ✓ \|)"),
        0.3);
    EXPECT_LE(
        Number(markdown, R"(\| Calibration residual RMS \(camera px\) \| (\S+) px ≤ 0.1 px ✓ \|)"),
        0.1);
    EXPECT_TRUE(markdown.contains("| Calibration squares found | 30 ≥ 30 ✓ |"));
    EXPECT_TRUE(markdown.contains("| Calibration fit on its own pairs (camera px) | "));
    for (const char* group : {"S1", "S2", "S3"}) {
        SCOPED_TRACE(group);
        EXPECT_GE(
            Number(markdown,
                   QStringLiteral(R"(\| Placement overlap %1 \| (\S+) % ≥ 95 % ✓ \|)").arg(group)),
            95.0);
        EXPECT_GT(
            Number(markdown,
                   QStringLiteral(R"(\| Stimulation latency %1 \(ms\) \| (\S+) \|)").arg(group)),
            0.0);
        EXPECT_GT(
            Number(markdown,
                   QStringLiteral(R"(\| Pattern render time %1 \(ms\) \| (\S+) \|)").arg(group)),
            0.0);
    }
    EXPECT_TRUE(markdown.contains(
        "| Calibrate automatically and accept | done | 30 of 30 squares found; stored for "));
    EXPECT_TRUE(markdown.contains("| Step through the bit depths and back | done | bit depths "));
    EXPECT_TRUE(markdown.contains("| Log file | " + m_folder.filePath("host.log") + " |"));
    return run;
}

TEST_F(ScenarioRun, DefaultScenarioRunsCompletely) {
    const HostRun run = ExpectCompleteSession("default.json");
    EXPECT_TRUE(Read("report.md")
                    .contains("| Program an illumination sequence and leave it | done | 3 events "
                              "(S1 x3, S2 x3, Full "
                              "OFF x1) programmed"));

    // The calibration is kept under the optical configuration the device found at start-up:
    // filters, objective, camera and TRAX port of the scenario.
    EXPECT_TRUE(
        run.out.contains("stored for Emission: Quad band, Excitation: GFP, objective: 20x "
                         "Air, camera: Camera, TRAX port 1; residual "))
        << run.out.toStdString();

    // The calibration picture combines the camera frames the squares were found in: a square
    // shows at the centre the device found for it (camera image halved in the picture).
    const QImage calibration(Report() + "/calibration.png");
    const double frames = Number(Read("report.md"), R"(camera frames of (\d+) of the 30 squares)");
    EXPECT_GE(frames, 1.0);
    QFile log(m_folder.filePath("host.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString logText = QString::fromUtf8(log.readAll());
    QRegularExpressionMatchIterator found =
        QRegularExpression(R"(mapped to camera point \[(\S+), (\S+)\])").globalMatch(logText);
    int shown = 0;
    int centres = 0;
    while (found.hasNext()) {
        const QRegularExpressionMatch match = found.next();
        const QPoint centre(qRound(match.captured(1).toDouble() / 2),
                            qRound(match.captured(2).toDouble() / 2));
        bool grey = false;
        for (int dy = -4; dy <= 4; ++dy) {
            for (int dx = -4; dx <= 4; ++dx) {
                const QColor c(calibration.pixel(centre + QPoint(dx, dy)));
                grey |= c.red() > 160 && std::abs(c.red() - c.green()) < 12 &&
                        std::abs(c.green() - c.blue()) < 12;
            }
        }
        shown += grey;
        ++centres;
    }
    EXPECT_EQ(centres, 30);
    EXPECT_GE(shown, frames);

    // The device takes its light path from the settings file a saved session left.
    EXPECT_TRUE(run.out.contains(
        "Verove.bin: light \"Laser Launch\" with 4 lines per group, switcher \"Laser Switcher\" "
        "port 1, shutter chain \"Laser Shutter\"\n"))
        << run.out.toStdString();
    // Launch, switcher and shutter are devices 4, 8 and 6 of the scenario's device manager.
    EXPECT_TRUE(
        run.out.contains("Check the light path association\n      light 4 (405 nm 0.0% off, "
                         "488 nm 10.0% off, 561 nm 0.0% off, 640 nm 0.0% off), switcher 8 "
                         "at port 1, shutters 6; group settings as stored\n"))
        << run.out.toStdString();
}

TEST_F(ScenarioRun, RotatedFlippedScenarioRunsCompletely) {
    ExpectCompleteSession("rotated-flipped.json");
}

// Calibrated with the camera as mounted; the user then turns and mirrors the image and draws
// the ROIs on it: the light still lands on them.
TEST_F(ScenarioRun, CameraTurnedAfterCalibrationStillPlacesTheLight) {
    const HostRun run = ExpectCompleteSession("turned-after-calibration.json");
    EXPECT_TRUE(
        run.out.contains("Turn the camera image\n      turned to 90 degrees, mirrored "
                         "top to bottom"))
        << run.out.toStdString();
}

TEST_F(ScenarioRun, BinningRoiScenarioRunsCompletelyAndQuietly) {
    const HostRun run = ExpectCompleteSession("binning-roi.json", {"--quiet"});
    // By hand first, six squares found by eye; then automatically, storing over it.
    EXPECT_TRUE(run.out.contains(
        "\n[8/13] Calibrate manually and accept\n      6 of 6 squares paired by eye"))
        << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("\n[9/13] Calibrate automatically and accept\n      30 of 30"));
    EXPECT_TRUE(Read("report.md").contains("| Manual calibration residual max (camera px) | 0."));
    // The uncalibrated device switched the camera region off; the ROIs are drawn on it again.
    EXPECT_TRUE(Read("report.md").contains("| done | camera region on again; S1: 1 ROI"));
}

TEST_F(ScenarioRun, DefaultScenarioRunsOnTheSimulatedUnitWhichStaysCalibrated) {
    const HostRun run = Scenario("default.json", {"--simulator"});
    // The session fails when the device calls itself not calibrated after accepting.
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(QRegularExpression(
        R"(Calibrate automatically and accept\n(      square \d+/30, \S+ s\n){30})"
        R"(      30 of 30 squares found; stored for Emission: Quad band, .*objective: 20x Air, )"
        R"(camera: Camera, TRAX port 1; no residual: )")))
        << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(
        QRegularExpression(R"(\[4/\d+\] Set the TRAX port\n      ports 1 and 0\n)")))
        << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("connected as CZtStimulationDeviceVeroveSim_0"));
    EXPECT_GT(QFileInfo(Report() + "/settings/VeroveSim.bin").size(), 0);
    EXPECT_TRUE(Read("report.md").contains("- DMD: the SDK's simulated unit\n"));
}

TEST_F(ScenarioRun, GalvoScannerRefusesTheVerove) {
    const HostRun run = Scenario("galvo-conflict.json");
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_TRUE(
        run.out.contains("refused: the hardware configuration does not allow the Verove\n"
                         "      message box \"Invalid HW Configuration\": Combination of "))
        << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(" with Galvo XY device is not supported. "));
    EXPECT_TRUE(run.out.contains("Save the settings and disconnect: skipped\n"));
    EXPECT_EQ(Left(), QStringList{"report"});
    const QString markdown = Read("report.md");
    EXPECT_TRUE(markdown.contains(
        "- Result: the hardware configuration refused the Verove (exit code 3)\n"));
    EXPECT_TRUE(markdown.contains("| 3 | Connect the Verove through the SDK | refused | "));
    EXPECT_TRUE(
        markdown.startsWith("# Verove session report\n\n**FAILED**: step 3, Connect the "
                            "Verove through the SDK, refused: the hardware configuration "
                            "does not allow the Verove"))
        << markdown.toStdString();
    EXPECT_TRUE(markdown.contains("Invalid HW Configuration"));
    EXPECT_FALSE(QFileInfo::exists(Report() + "/settings"));
}

// A figure that misses the bar the scenario sets fails the session: exit code 1, "FAILED" with
// the reason on the terminal and in the report, the figure marked.
TEST_F(ScenarioRun, AFigureMissingItsThresholdFailsTheSession) {
    QFile file(kScenarios + "/binning-roi.json");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QByteArray strict = file.readAll();
    strict.replace("\"dmd\": {", "\"thresholds\": {\"residualRmsPx\": 0.001}, \"dmd\": {");
    const HostRun run = Host({"--scenario", WriteBad(strict), "--report", Report()});
    EXPECT_EQ(run.exitCode, 1) << run.out.toStdString() << run.err.toStdString();
    const QString missed =
        R"(Calibration residual RMS \(camera px\) 0\.\d\d\d px, not at most 0\.001 px)";
    EXPECT_TRUE(run.out.contains(QRegularExpression(
        "\nFAILED: " + missed + "\n\nverove-host: FAILED: " + missed + "; report in ")))
        << run.out.toStdString();
    EXPECT_FALSE(run.out.contains("completed"));
    const QString markdown = Read("report.md");
    EXPECT_TRUE(markdown.contains(
        QRegularExpression("^# Verove session report\n\n\\*\\*FAILED\\*\\*: " + missed + "\n")))
        << markdown.toStdString();
    EXPECT_TRUE(markdown.contains(QRegularExpression("\n- Result: FAILED: " + missed + "\n")));
    // Every step was done: only the figure failed the session.
    EXPECT_FALSE(markdown.contains("| failed |"));
}

// S1 drawn where no mirror reaches: the device takes the stimulation and the mirrors stay dark.
// The session says so, fails that step, and keeps the report with a black mirror picture.
TEST_F(ScenarioRun, AGroupWhoseLightNeverShowsFailsItsStepAndKeepsTheReport) {
    QFile file(kScenarios + "/default.json");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QByteArray dark = file.readAll();
    const QByteArray s1 = R"("rectangle": [500, 600, 800, 850])";
    ASSERT_TRUE(dark.contains(s1));
    dark.replace(s1, R"("rectangle": [20, 20, 120, 120])");
    const HostRun run = Host({"--scenario", WriteBad(dark), "--report", Report()});
    EXPECT_EQ(run.exitCode, 1) << run.out.toStdString() << run.err.toStdString();
    EXPECT_TRUE(
        run.out.contains("S1, 200 ms, run mode 1: the group's light did not show: the "
                         "mirrors stayed dark"))
        << run.out.toStdString();
    EXPECT_FALSE(run.out.contains(" -")) << "no negative figure";
    EXPECT_FALSE(run.out.contains("completed"));
    const QString markdown = Read("report.md");
    EXPECT_TRUE(markdown.contains("| Run the stimulation protocol | failed |"))
        << markdown.toStdString();
    EXPECT_TRUE(markdown.contains("| Placement overlap S1 | not measured |"))
        << markdown.toStdString();
    const QImage mirrors(Report() + "/dmd-S1.png");
    ASSERT_FALSE(mirrors.isNull());
    EXPECT_EQ(qGray(mirrors.convertToFormat(QImage::Format_Grayscale8)
                        .scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                        .pixel(0, 0)),
              0);
    // The other groups still ran and were measured.
    EXPECT_TRUE(QFileInfo::exists(Report() + "/stimulation-S2.png"));
}

// Each kind of refusal the scenario file gives is tested with the file; here the host turns one of
// each source (file, content, arguments) into one line and an exit code of 2.
TEST_F(ScenarioRun, BadInputGivesOneLineAndWritesNothing) {
    const QString bad = m_folder.filePath("bad.json");
    struct Case {
        QByteArray file;  // written to bad.json; empty: no file
        QStringList arguments;
        QString error;
    };
    QFile defaultFile(kScenarios + "/default.json");
    ASSERT_TRUE(defaultFile.open(QIODevice::ReadOnly));
    const QByteArray good = defaultFile.readAll();
    QByteArray singular = good;
    singular.replace("\"scale\": 2.0,\n    \"rotation\": 1.5,\n    \"centre\": [1024, 1024],",
                     "\"matrix\": [[1, 2, 0], [2, 4, 0]],");
    ASSERT_NE(singular, good);

    const std::vector<Case> cases = {
        {singular, {"--scenario", bad}, bad + ": optics.matrix: singular map (determinant 0)"},
        {good,
         {"--scenario", bad, "--frames"},
         "verove-host: unknown argument --frames (--help lists them)"},
        {good, {}, "verove-host: --scenario FILE is needed (--help lists the options)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error.toStdString());
        QFile::remove(bad);
        if (!c.file.isEmpty()) {
            WriteBad(c.file);
        }
        const HostRun run = Host(c.arguments + QStringList{"--report", Report()});
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.err.startsWith(c.error)) << run.err.toStdString();
        EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
        EXPECT_TRUE(Left().isEmpty()) << Left().join(", ").toStdString();
    }
}

// A report folder is replaced as a whole, so verove-host refuses any folder it did not write,
// one holding the scenario or the log, and a file, before anything runs; not a byte changes.
TEST_F(ScenarioRun, FoldersItDidNotWriteAreRefusedAndKept) {
    const QString user = m_folder.filePath("user");
    QDir().mkpath(user + "/images");
    struct File {
        QString path;
        QByteArray bytes;
    };
    QFile defaultFile(kScenarios + "/default.json");
    ASSERT_TRUE(defaultFile.open(QIODevice::ReadOnly));
    const std::vector<File> files = {{user + "/data.csv", "t,F\n0,1\n"},
                                     {user + "/images/cell.png", QByteArray(300, '\x7f')},
                                     {user + "/x.json", defaultFile.readAll()},
                                     {user + "/host.log", "an earlier log\n"}};
    for (const File& file : files) {
        QFile out(file.path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(file.bytes);
    }
    struct Case {
        QStringList arguments;
        QString error;
    };
    const Case cases[] = {
        {{"--scenario", kScenarios + "/default.json", "--report", user},
         user + ": holds data.csv, which verove-host did not write; give a new or empty folder"},
        {{"--scenario", user + "/x.json", "--report", user},
         user + ": holds " + user + "/x.json, which a report never replaces; give another folder"},
        {{"--scenario", kScenarios + "/default.json", "--report", user, "--log",
          user + "/host.log"},
         user + ": holds " + user +
             "/host.log, which a report never replaces; give another folder"},
        {{"--scenario", kScenarios + "/default.json", "--report", user + "/data.csv"},
         user + "/data.csv: exists and is not a folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error.toStdString());
        QProcess process;
        process.start(kHost, c.arguments);
        ASSERT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitCode(), 2);
        EXPECT_EQ(QString::fromLocal8Bit(process.readAllStandardError()),
                  "verove-host: report folder " + c.error + "\n");
        for (const File& file : files) {
            QFile in(file.path);
            ASSERT_TRUE(in.open(QIODevice::ReadOnly));
            EXPECT_EQ(in.readAll(), file.bytes) << file.path.toStdString();
        }
        EXPECT_EQ(QDir(user).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  (QStringList{"data.csv", "host.log", "images", "x.json"}));
        EXPECT_EQ(Left(), QStringList{"user"});
    }
}

}  // namespace
