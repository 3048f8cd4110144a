// verove-host run as a process on the shipped scenarios and on bad input: exit codes, what the
// terminal shows and what the report folder holds.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

namespace {

const QString kHost = QStringLiteral(VEROVE_BIN_DIR "/verove-host");
const QString kScenarios = QStringLiteral(VEROVE_SOURCE_DIR "/apps/verove-host/scenarios");

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
        if (!process.waitForFinished(120000)) {
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

    QTemporaryDir m_folder;
};

TEST_F(ScenarioRun, ShippedScenariosRunAndLeaveACompleteReport) {
    for (const char* file : {"default.json", "rotated-flipped.json", "binning-roi.json"}) {
        SCOPED_TRACE(file);
        const HostRun run = Scenario(file);
        EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
        EXPECT_TRUE(run.out.contains("[1/")) << run.out.toStdString();
        EXPECT_TRUE(run.out.contains("connected as CZtStimulationDeviceVerove_0"));
        EXPECT_TRUE(
            run.out.contains("Summary\n  Calibration residual RMS (camera px)  not measured"));
        EXPECT_TRUE(run.out.contains("settings/Verove.bin saved ("));
        EXPECT_EQ(Left(), QStringList{"report"});
        EXPECT_EQ(QDir(Report()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                  (QStringList{"camera-field.png", "report.md", "settings"}));
        EXPECT_GT(QFileInfo(Report() + "/settings/Verove.bin").size(), 0);
        EXPECT_FALSE(QImage(Report() + "/camera-field.png").isNull());
        const QString markdown = Read("report.md");
        EXPECT_TRUE(markdown.contains("- Result: completed\n"));
        EXPECT_TRUE(
            markdown.contains("| Connect the Verove through the SDK | done | connected as "
                              "CZtStimulationDeviceVerove_0"));
        EXPECT_TRUE(markdown.contains("| Save the settings and disconnect | done |"));
        EXPECT_TRUE(markdown.contains("| Stimulation latency S1 (ms) | not measured |"));
        EXPECT_TRUE(markdown.contains("| Log file | " + m_folder.filePath("host.log") + " |"));
        EXPECT_FALSE(markdown.contains("| failed |"));
    }
}

TEST_F(ScenarioRun, DefaultScenarioSetsTheTraxPortOnTheSimulatedUnit) {
    const HostRun run = Scenario("default.json", {"--simulator"});
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("[4/6] Set the TRAX port\n      ports 1 and 0\n"));
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
    EXPECT_TRUE(markdown.contains("Invalid HW Configuration"));
    EXPECT_FALSE(QFileInfo::exists(Report() + "/settings"));
}

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
    QByteArray unknownDevice = good;
    unknownDevice.replace("\"shutters\": [\n      {\"key\": \"Laser Shutter\"",
                          "\"shutter\": [\n      {\"key\": \"Laser Shutter\"");
    QByteArray noScale = good;
    noScale.replace("\"scale\": 2.0", "\"scale\": -2");
    ASSERT_NE(singular, good);
    ASSERT_NE(unknownDevice, good);
    ASSERT_NE(noScale, good);

    const std::vector<Case> cases = {
        {{}, {"--scenario", bad}, bad + ": cannot read the file (No such file or directory)"},
        {"{ \"devices\": ", {"--scenario", bad}, bad + ": line 1, column 14: invalid JSON ("},
        {singular, {"--scenario", bad}, bad + ": optics.matrix: singular map (determinant 0)"},
        {unknownDevice, {"--scenario", bad}, bad + ": devices.shutter: unknown device kind"},
        {noScale, {"--scenario", bad}, bad + ": optics.scale: expected a positive number"},
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

TEST_F(ScenarioRun, BadInputLeavesAnEarlierReportAlone) {
    ASSERT_EQ(Scenario("binning-roi.json").exitCode, 0);
    const QString earlier = Read("report.md");
    ASSERT_TRUE(earlier.contains("binning-roi.json"));
    const HostRun run = Host({"--scenario", WriteBad("{\"devices\": {}}"), "--report", Report()});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err, m_folder.filePath("bad.json") + ": camera: missing\n");
    EXPECT_EQ(Read("report.md"), earlier);
    EXPECT_EQ(Left(), QStringList{"report"});

    QFile blocker(m_folder.filePath("file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const HostRun blocked =
        Host({"--scenario", kScenarios + "/default.json", "--report", m_folder.filePath("file")});
    EXPECT_EQ(blocked.exitCode, 2);
    EXPECT_EQ(blocked.err, "verove-host: report folder " + m_folder.filePath("file") +
                               ": exists and is not a "
                               "folder\n");
}

}  // namespace
