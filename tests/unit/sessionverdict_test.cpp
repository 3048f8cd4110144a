// verove-host's verdict: a session's figures against the scenario's thresholds or their defaults,
// the marks the summary shows and the reasons a failed session gives.
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "scenario.h"
#include "verdict.h"

namespace {

const QString kScenarios = QStringLiteral(VEROVE_SOURCE_DIR "/apps/verove-host/scenarios");

struct Judged {
    const char* name;
    SessionFigures figures;
    std::vector<const char*> marks;  // each check's figure, in order
    const char* reasons;             // FailureReasons
};

class SessionVerdict : public ::testing::TestWithParam<Judged> {};

TEST_P(SessionVerdict, FiguresAreMarkedAgainstTheirBars) {
    SessionThresholds thresholds;  // the defaults: 0.1, 0.3, 95 %, 30
    thresholds.overlapPercent[2] = 90.0;
    const std::vector<Check> checks = Judge(thresholds, GetParam().figures);
    std::vector<std::string> marks;
    for (const Check& check : checks) {
        marks.push_back(check.figure.toStdString());
        EXPECT_EQ(check.passed, check.reason.isEmpty()) << check.figure.toStdString();
    }
    EXPECT_EQ(marks, std::vector<std::string>(GetParam().marks.begin(), GetParam().marks.end()));
    EXPECT_EQ(FailureReasons(checks).toStdString(), GetParam().reasons);
}

SessionFigures Figures(std::optional<double> rms, std::optional<double> max,
                       std::optional<int> squares, std::array<std::optional<double>, 3> overlap) {
    return {rms, max, squares, overlap};
}

const Judged kJudged[] = {
    {"NothingMeasured", {}, {}, ""},
    {"AllMet",
     Figures(0.042, 0.07, 30, {99.2, std::nullopt, 90.0}),
     {"0.042 px ≤ 0.1 px ✓", "0.070 px ≤ 0.3 px ✓", "30 ≥ 30 ✓", "99.2 % ≥ 95 % ✓",
      "90.0 % ≥ 90 % ✓"},
     ""},
    // A field half outside the image: few squares and a fit that misses the truth.
    {"FewSquaresAndAResidualTooLarge",
     Figures(0.169, 0.321, 7, {}),
     {"0.169 px > 0.1 px ✗", "0.321 px > 0.3 px ✗", "7 < 30 ✗"},
     "calibration residual RMS 0.169 px > 0.1 px; calibration residual max 0.321 px > 0.3 px; "
     "calibration squares found 7 < 30"},
    {"OverlapBelowItsBar",
     Figures(0.05, 0.1, 30, {96.0, 69.04, std::nullopt}),
     {"0.050 px ≤ 0.1 px ✓", "0.100 px ≤ 0.3 px ✓", "30 ≥ 30 ✓", "96.0 % ≥ 95 % ✓",
      "69.0 % < 95 % ✗"},
     "placement overlap S2 69.0 % < 95 %"},
    // Judged as shown: 94.96 % shows as 95.0 % and meets 95 %; 0.1004 px as 0.100.
    {"RoundedAsShown",
     Figures(0.1004, 0.3005, std::nullopt, {94.96, 94.94, std::nullopt}),
     {"0.100 px ≤ 0.1 px ✓", "0.301 px > 0.3 px ✗", "95.0 % ≥ 95 % ✓", "94.9 % < 95 % ✗"},
     "calibration residual max 0.301 px > 0.3 px; placement overlap S2 94.9 % < 95 %"},
};

INSTANTIATE_TEST_SUITE_P(Figures, SessionVerdict, ::testing::ValuesIn(kJudged),
                         [](const ::testing::TestParamInfo<Judged>& info) {
                             return std::string(info.param.name);
                         });

class SessionThresholdDefaults : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_folder.isValid()); }

    // default.json with the changes (path -> value) made.
    Scenario Loaded(const std::vector<std::pair<QStringList, QJsonValue>>& changes) {
        QFile file(kScenarios + "/default.json");
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        QJsonObject json = QJsonDocument::fromJson(file.readAll()).object();
        for (const auto& [path, value] : changes) {
            if (path.size() == 2) {
                QJsonObject part = json[path[0]].toObject();
                part[path[1]] = value;
                json[path[0]] = part;
            } else {
                json[path[0]] = value;
            }
        }
        const QString path = m_folder.filePath("scenario.json");
        QFile out(path);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(QJsonDocument(json).toJson());
        out.close();
        Scenario scenario;
        QString error;
        EXPECT_TRUE(scenario.Load(path, &error)) << error.toStdString();
        return scenario;
    }

    QTemporaryDir m_folder;
};

TEST_F(SessionThresholdDefaults, AWholeFieldInViewAsksForEverySquareAndTheDefaultBars) {
    const SessionThresholds thresholds = ResolveThresholds(Loaded({}));
    EXPECT_EQ(thresholds.residualRmsPx, 0.1);
    EXPECT_EQ(thresholds.residualMaxPx, 0.3);
    EXPECT_EQ(thresholds.overlapPercent, (std::array<double, 3>{95, 95, 95}));
    EXPECT_EQ(thresholds.squaresFound, 30);
}

TEST_F(SessionThresholdDefaults, SmallRoisHaveTheLowerOverlapBar) {
    const QJsonArray small = {QJsonObject{{"rectangle", QJsonArray{500, 600, 800, 659}}}};
    const SessionThresholds thresholds =
        ResolveThresholds(Loaded({{{"stimulation", "S2"}, small}}));
    EXPECT_EQ(thresholds.overlapPercent, (std::array<double, 3>{95, 90, 95}));
}

TEST_F(SessionThresholdDefaults, AFieldPartlyOutsideAsksForHalfTheSquaresInView) {
    // Half the field, cut along its columns: about half the 137 squares shown are in view.
    const SessionThresholds half =
        ResolveThresholds(Loaded({{{"optics", "centre"}, QJsonArray{2048, 1024}}}));
    EXPECT_GE(half.squaresFound, 30);
    // A quarter of the field's width in view: about 30 squares; half of them are asked for.
    const SessionThresholds quarter =
        ResolveThresholds(Loaded({{{"optics", "centre"}, QJsonArray{2448, 1024}}}));
    EXPECT_GE(quarter.squaresFound, 13);
    EXPECT_LE(quarter.squaresFound, 16);
}

// The calibration reads the whole sensor, whatever region the camera has: a small region still
// sees every square.
TEST_F(SessionThresholdDefaults, TheSquaresInViewAreThoseOnTheWholeSensor) {
    const SessionThresholds thresholds =
        ResolveThresholds(Loaded({{{"camera", "roi"}, QJsonArray{0, 0, 512, 512}},
                                  {{"stimulation"}, QJsonObject{}},
                                  {{"light"}, QJsonObject{{"source", "Laser Launch"}}},
                                  {{"protocol"}, QJsonObject{}}}));
    EXPECT_EQ(thresholds.squaresFound, 30);
}

TEST_F(SessionThresholdDefaults, TheScenarioSetsItsOwnAndTheSimulatedUnitFindsEverySquare) {
    const QJsonObject own = {{"residualRmsPx", 0.2},
                             {"residualMaxPx", 0.5},
                             {"overlapPercent", 80},
                             {"squaresFound", 12}};
    const SessionThresholds thresholds = ResolveThresholds(
        Loaded({{{"thresholds"}, own}, {{"optics", "centre"}, QJsonArray{2448, 1024}}}));
    EXPECT_EQ(thresholds.residualRmsPx, 0.2);
    EXPECT_EQ(thresholds.residualMaxPx, 0.5);
    EXPECT_EQ(thresholds.overlapPercent, (std::array<double, 3>{80, 80, 80}));
    EXPECT_EQ(thresholds.squaresFound, 12);

    Scenario simulated = Loaded({{{"optics", "centre"}, QJsonArray{2448, 1024}}});
    simulated.UseSimulator();
    EXPECT_EQ(ResolveThresholds(simulated).squaresFound, 30);
}

}  // namespace
