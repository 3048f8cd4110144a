// verove-host on several Verove units aggregated into one stimulation device: the two- and
// four-unit scenarios as processes, the assignment their settings file keeps, and the scenario
// fields for further units.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cmath>
#include <map>
#include <string>

#include "scenario.h"
#include "zt/zt_settings.h"
#include "zthost/settings_store.h"

namespace {

const QString kHost = QStringLiteral(VEROVE_BIN_DIR "/verove-host");
const QString kScenarios = QStringLiteral(VEROVE_SOURCE_DIR "/apps/verove-host/scenarios");

// Every number the first group of pattern captures in text, in order.
std::vector<double> Numbers(const QString& text, const QString& pattern) {
    std::vector<double> numbers;
    QRegularExpressionMatchIterator it = QRegularExpression(pattern).globalMatch(text);
    while (it.hasNext()) {
        numbers.push_back(it.next().captured(1).toDouble());
    }
    return numbers;
}

struct UnitsCase {
    const char* file;
    int units;
    const char* unitNumbers;  // in the aggregator's display name
    const char* heldGroups;   // as the ROI step shows where the aggregator put each group
    const char* parallelS1S3;
    std::map<std::wstring, std::uint32_t> stored;  // device name -> group mask in the file
};

class VeroveHostUnits : public ::testing::TestWithParam<UnitsCase> {
protected:
    QTemporaryDir m_folder;
};

TEST_P(VeroveHostUnits, EachUnitCalibratesAndItsGroupsLandOnTheirRoisThroughTheAggregator) {
    const UnitsCase& c = GetParam();
    const QString report = m_folder.filePath("report");
    QProcess process;
    process.start(kHost, {"--scenario", kScenarios + "/" + c.file, "--report", report, "--log",
                          m_folder.filePath("host.log")});
    ASSERT_TRUE(process.waitForFinished(900000));
    const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
    ASSERT_EQ(process.exitCode(), 0) << out.toStdString();

    EXPECT_TRUE(
        out.contains(QStringLiteral("Connect %1 Verove units through the SDK").arg(c.units)));
    // Each unit's own calibration against its own optics.
    const std::vector<double> residuals =
        Numbers(out, R"(unit \d: 30 squares, residual (\S+) px rms)");
    ASSERT_EQ(residuals.size(), static_cast<size_t>(c.units)) << out.toStdString();
    for (double rms : residuals) {
        EXPECT_LE(rms, 0.1);
    }
    // Shown as the units it drives, after the device name the units show.
    EXPECT_TRUE(out.contains(QStringLiteral("\"CZtVeroveAggregator\" registered over %1 units, "
                                            "shown as \"Andor Verove 3 (%2)\"")
                                 .arg(c.units)
                                 .arg(c.unitNumbers)))
        << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("through the aggregator: ") + c.heldGroups))
        << out.toStdString();
    // Every group's overlap, alone and beside another group's unit in parallel.
    const std::vector<double> overlaps = Numbers(out, R"(Placement overlap S\d +(\S+) %)");
    ASSERT_EQ(overlaps.size(), 3u);
    for (double overlap : overlaps) {
        EXPECT_GE(overlap, 95.0);
    }
    const std::vector<double> parallel =
        Numbers(out, R"(S1\+S2, 50 ms, run mode 1: overlap S1 (\S+) %, S2 \S+ %)");
    ASSERT_EQ(parallel.size(), 1u) << out.toStdString();
    EXPECT_GE(parallel[0], 95.0);
    EXPECT_GE(Numbers(out, R"(S1\+S2, 50 ms, run mode 1: overlap S1 \S+ %, S2 (\S+) %)")[0], 95.0);
    EXPECT_TRUE(out.contains(c.parallelS1S3)) << out.toStdString();

    // The assignment the aggregator saved, kept after the units saved their own records.
    zthost::SetSettingsLocation((report + "/settings").toStdWString());
    CZtLoadSettingsManager manager;
    ASSERT_EQ(manager.PrepareLoading(L"Verove", 1, nullptr), 1);
    CZtLiteVariantR* reader = manager.GetLiteVariant(0);
    ASSERT_EQ(reader->OpenLevel(L"Verove"), 0);
    for (const auto& [device, groups] : c.stored) {
        EXPECT_EQ(reader->OpenLevel(device.c_str()), 0);  // the unit's own record
        reader->CloseLevel();
    }
    ASSERT_EQ(reader->OpenLevel(L"VeroveAggregator"), 0);
    ASSERT_EQ(reader->OpenLevel(L"ROIAssignment"), 0);
    std::map<std::wstring, std::uint32_t> stored;
    for (int at = reader->FirstChild(); at == 0; at = reader->NextChild()) {
        ASSERT_EQ(reader->OpenChild(), 0);
        std::uint32_t& mask = stored[reader->GetString(L"DeviceToROIName", L"").Str()];
        for (std::uint32_t i = 0; i < reader->GetUInt(L"DeviceToROICount", 0); ++i) {
            mask |= 1u << reader->GetUInt((L"Item_" + std::to_wstring(i)).c_str(), 31);
        }
        reader->CloseLevel();
    }
    EXPECT_EQ(stored, c.stored);
}

const std::wstring kUnit = L"CZtStimulationDeviceVerove_";

INSTANTIATE_TEST_SUITE_P(
    Scenarios, VeroveHostUnits,
    ::testing::Values(
        UnitsCase{"two-units.json",
                  2,
                  "1 + 2",
                  "unit 1 S1+S3, unit 2 S2",
                  "refused (status -9): \"Can not stimulate groups S1, S3 on the same device in "
                  "parallel.\"",
                  {{kUnit + L"0", 0x5}, {kUnit + L"1", 0x2}}},
        UnitsCase{
            "four-units.json",
            4,
            "1 + 2 + 3 + 4",
            "unit 1 S1, unit 2 S2, unit 3 S3, unit 4 none",
            "accepted: S1 and S3 are on different units",
            {{kUnit + L"0", 0x1}, {kUnit + L"1", 0x2}, {kUnit + L"2", 0x4}, {kUnit + L"3", 0}}}),
    [](const auto& info) { return std::to_string(info.param.units) + "Units"; });

// The further units' fields, each refused with the one line that names it.
TEST(VeroveHostUnitsScenario, FurtherUnitsAreCheckedAsTheFirstUnitsOptics) {
    QFile source(kScenarios + "/two-units.json");
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QString twoUnits = QString::fromUtf8(source.readAll());
    const QString unit = R"({"scale": 0.62, "rotation": -1.5, "flip": true, "centre": [250, 262]})";
    const struct {
        QString from;
        QString to;
        QString error;
    } cases[] = {
        {unit, R"({"scale": 0.62, "centre": [5000, 262]})",
         "dmd.furtherUnits[0].centre: the DMD field lands outside the camera image"},
        {unit, R"({"scale": 0.62, "centre": [250, 262], "gain": 2})",
         "dmd.furtherUnits[0].gain: unknown field"},
        {unit, R"({"matrix": [[0.6, 0, 0], [1.2, 0, 0]]})",
         "dmd.furtherUnits[0].matrix: singular map (determinant 0)"},
        {unit, QStringList{unit, unit, unit, unit}.join(", "),
         "dmd.furtherUnits: expected at most 3 further units"},
        {R"("device": "sdk")", R"("device": "simulator")",
         "dmd.furtherUnits: further units need the SDK path (\"device\": \"sdk\")"},
        {"\"furtherUnits\": [\n      " + unit + "\n    ]", "\"furtherUnits\": []",
         "dmd.furtherUnits: expected at least one entry"},
    };
    QTemporaryDir folder;
    for (const auto& c : cases) {
        QString text = twoUnits;
        ASSERT_TRUE(text.contains(c.from)) << c.from.toStdString();
        text.replace(c.from, c.to);
        const QString path = folder.filePath("units.json");
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text.toUtf8());
        file.close();
        Scenario scenario;
        QString error;
        EXPECT_FALSE(scenario.Load(path, &error));
        EXPECT_EQ(error.toStdString(), (path + ": " + c.error).toStdString());
    }
    // Groups in parallel go to different units: one unit takes one group at a time.
    QFile one(kScenarios + "/binning-roi.json");
    ASSERT_TRUE(one.open(QIODevice::ReadOnly));
    QString text = QString::fromUtf8(one.readAll());
    text.replace(R"({"group": "S2", "durationMs": 100)", R"({"group": "S1+S2", "durationMs": 100)");
    const QString path = folder.filePath("one.json");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text.toUtf8());
    file.close();
    Scenario scenario;
    QString error;
    EXPECT_FALSE(scenario.Load(path, &error));
    EXPECT_TRUE(error.startsWith(path + ": protocol.stimulations[1].group: "));
}

}  // namespace
