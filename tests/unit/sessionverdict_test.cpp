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
    double value;
    int decimals;
    const char* unit;
    double bar;
    bool atMost;
    const char* shown;      // value
    const char* threshold;  // threshold
    const char* mark;
    bool pass;
};

class SessionVerdict : public ::testing::TestWithParam<Judged> {};

TEST_P(SessionVerdict, AFigureIsJudgedAsItIsShown) {
    const Judged& c = GetParam();
    const JudgedFigure judged = JudgeFigure(c.value, c.decimals, c.unit, c.bar, c.atMost);
    EXPECT_EQ(judged.value.toStdString(), c.shown);
    EXPECT_EQ(judged.threshold.toStdString(), c.threshold);
    EXPECT_EQ(judged.mark.toStdString(), c.mark);
    EXPECT_EQ(judged.pass, c.pass);
}

const Judged kJudged[] = {
    {"ResidualWithin", 0.0423, 3, " px", 0.1, true, "0.042 px", "at most 0.1 px",
     "0.042 px ≤ 0.1 px ✓", true},
    // A field half outside the image: a fit that misses the truth.
    {"ResidualBeyond", 0.169, 3, " px", 0.1, true, "0.169 px", "at most 0.1 px",
     "0.169 px > 0.1 px ✗", false},
    {"ResidualShownAtTheBar", 0.1004, 3, " px", 0.1, true, "0.100 px", "at most 0.1 px",
     "0.100 px ≤ 0.1 px ✓", true},
    {"MaxJustBeyond", 0.3005, 3, " px", 0.3, true, "0.301 px", "at most 0.3 px",
     "0.301 px > 0.3 px ✗", false},
    {"AllSquares", 30, 0, "", 30, false, "30", "at least 30", "30 ≥ 30 ✓", true},
    {"FewSquares", 7, 0, "", 15, false, "7", "at least 15", "7 < 15 ✗", false},
    {"OverlapShownAtTheBar", 94.96, 1, " %", 95, false, "95.0 %", "at least 95 %",
     "95.0 % ≥ 95 % ✓", true},
    {"OverlapJustBelow", 94.94, 1, " %", 95, false, "94.9 %", "at least 95 %", "94.9 % < 95 % ✗",
     false},
    {"ScenariosOwnBar", 69.04, 1, " %", 62.5, false, "69.0 %", "at least 62.5 %",
     "69.0 % ≥ 62.5 % ✓", true},
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
