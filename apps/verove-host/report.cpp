// Writing a session's report folder: staged beside its place and renamed into it when complete.
#include "report.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <algorithm>

namespace {

const char* const kGroupNames[] = {"S1", "S2", "S3"};

// Summary rows that checks mark.
const QString kResidualRms = QStringLiteral("Calibration residual RMS (camera px)");
const QString kResidualMax = QStringLiteral("Calibration residual max (camera px)");
const QString kSquaresFound = QStringLiteral("Calibration squares found");

QString OverlapRow(int group) {
    return QStringLiteral("Placement overlap %1").arg(kGroupNames[group]);
}

QString NotMeasured(const std::optional<double>& value, int decimals, const char* unit = "") {
    return value ? QString::number(*value, 'f', decimals) + unit : QStringLiteral("not measured");
}

QString Cell(QString text) {
    return text.replace('|', QStringLiteral("\\|"));
}

const char* OutcomeText(Report::Outcome outcome) {
    switch (outcome) {
        case Report::Outcome::Done:
            return "done";
        case Report::Outcome::Failed:
            return "failed";
        case Report::Outcome::Refused:
            return "refused";
        case Report::Outcome::Skipped:
            return "skipped";
    }
    return "";
}

}  // namespace

Report::Report(const QString& scenarioPath, const QString& description,
               const std::array<bool, 3>& groups)
    : m_scenarioPath(scenarioPath), m_description(description), m_groups(groups) {}

Report::~Report() = default;

bool Report::Begin(const QString& folder, const QStringList& keep, QString* error) {
    return m_folder.Begin(folder, keep, error);
}

void Report::AddStep(int number, const QString& title, Outcome outcome, const QString& detail) {
    m_steps.push_back({number, title, outcome, detail});
}

void Report::AddCheck(const QString& figure, const QString& value, const QString& threshold,
                      bool pass, const QString& mark) {
    m_checks.push_back({figure, value, threshold, pass, mark});
}

QStringList Report::FailedChecks() const {
    QStringList failed;
    for (const Check& check : m_checks) {
        if (!check.pass) {
            failed
                << QStringLiteral("%1 %2, not %3").arg(check.figure, check.value, check.threshold);
        }
    }
    return failed;
}

QString Report::Verdict() const {
    const auto done = std::count_if(m_steps.begin(), m_steps.end(),
                                    [](const Step& step) { return step.outcome == Outcome::Done; });
    // Steps are skipped only after one failed: the first not done is the one to name.
    for (const Step& step : m_steps) {
        if (step.outcome != Outcome::Done) {
            return QStringLiteral("FAILED: step %1, %2, %3%4")
                .arg(step.number)
                .arg(step.title, OutcomeText(step.outcome),
                     step.detail.isEmpty() ? QString() : ": " + step.detail);
        }
    }
    const QStringList failed = FailedChecks();
    if (!failed.isEmpty()) {
        return "FAILED: " + failed.first();
    }
    return QStringLiteral("PASSED: all %1 steps done%2")
        .arg(done)
        .arg(m_checks.empty() ? "" : ", every figure within its threshold");
}

void Report::SetCalibrationResidual(double rmsPixels, double maxPixels) {
    m_residual = std::array<double, 2>{rmsPixels, maxPixels};
}

void Report::SetManualCalibrationResidual(double rmsPixels, double maxPixels) {
    m_manualResidual = std::array<double, 2>{rmsPixels, maxPixels};
}

void Report::SetPlacementOverlap(int group, double fraction) {
    m_overlap.at(group) = fraction * 100.0;
}

void Report::SetStimulationLatency(int group, double milliseconds) {
    m_latency.at(group) = milliseconds;
}

void Report::SetRenderTime(int group, double milliseconds) {
    m_renderTime.at(group) = milliseconds;
}

bool Report::AddPicture(const QString& fileName, const QImage& image, const QString& caption) {
    if (StagingPath().isEmpty() || image.isNull() ||
        !image.save(QDir(StagingPath()).filePath(fileName))) {
        m_pictureErrors << QStringLiteral("cannot write the picture %1").arg(fileName);
        return false;
    }
    m_pictures.push_back({fileName, caption});
    return true;
}

QString Report::Marked(const QString& figure, const QString& plain) const {
    for (const Check& check : m_checks) {
        if (check.figure == figure && !check.mark.isEmpty()) {
            return check.mark;
        }
    }
    return plain;
}

void Report::JudgeFigures(const SessionThresholds& thresholds) {
    auto judge = [this](const QString& figure, const JudgedFigure& judged) {
        AddCheck(figure, judged.value, judged.threshold, judged.pass, judged.mark);
    };
    if (m_residual) {
        judge(kResidualRms,
              JudgeFigure((*m_residual)[0], 3, " px", thresholds.residualRmsPx, true));
        judge(kResidualMax,
              JudgeFigure((*m_residual)[1], 3, " px", thresholds.residualMaxPx, true));
    }
    if (m_squaresFound) {
        judge(kSquaresFound, JudgeFigure(*m_squaresFound, 0, "", thresholds.squaresFound, false));
    }
    for (int g = 0; g < 3; ++g) {
        if (m_groups[g] && m_overlap[g]) {
            judge(OverlapRow(g),
                  JudgeFigure(*m_overlap[g], 1, " %", thresholds.overlapPercent[g], false));
        }
    }
}

std::vector<std::array<QString, 2>> Report::SummaryRows() const {
    std::vector<std::array<QString, 2>> rows;
    const std::optional<double> rms =
        m_residual ? std::optional<double>((*m_residual)[0]) : std::nullopt;
    const std::optional<double> max =
        m_residual ? std::optional<double>((*m_residual)[1]) : std::nullopt;
    rows.push_back({kResidualRms, Marked(kResidualRms, NotMeasured(rms, 2))});
    rows.push_back({kResidualMax, Marked(kResidualMax, NotMeasured(max, 2))});
    if (m_manualResidual) {
        rows.push_back({QStringLiteral("Manual calibration residual RMS (camera px)"),
                        QString::number((*m_manualResidual)[0], 'f', 3)});
        rows.push_back({QStringLiteral("Manual calibration residual max (camera px)"),
                        QString::number((*m_manualResidual)[1], 'f', 3)});
    }
    rows.push_back(
        {kSquaresFound, Marked(kSquaresFound, m_squaresFound ? QString::number(*m_squaresFound)
                                                             : QStringLiteral("not measured"))});
    rows.push_back(
        {"Calibration fit on its own pairs (camera px)",
         m_calibrationFit.isEmpty() ? QStringLiteral("not measured") : m_calibrationFit});
    for (int g = 0; g < 3; ++g) {
        if (m_groups[g]) {
            rows.push_back(
                {OverlapRow(g), Marked(OverlapRow(g), NotMeasured(m_overlap[g], 1, " %"))});
        }
    }
    for (int g = 0; g < 3; ++g) {
        if (m_groups[g]) {
            rows.push_back({QStringLiteral("Stimulation latency %1 (ms)").arg(kGroupNames[g]),
                            NotMeasured(m_latency[g], 2)});
        }
    }
    for (int g = 0; g < 3; ++g) {
        if (m_groups[g]) {
            rows.push_back({QStringLiteral("Pattern render time %1 (ms)").arg(kGroupNames[g]),
                            NotMeasured(m_renderTime[g], 2)});
        }
    }
    rows.push_back({"Log file", m_logFile.isEmpty() ? QStringLiteral("none") : m_logFile});
    return rows;
}

QString Report::SummaryText() const {
    const std::vector<std::array<QString, 2>> rows = SummaryRows();
    int width = 0;
    for (const auto& row : rows) {
        width = std::max(width, static_cast<int>(row[0].size()));
    }
    QString text = QStringLiteral("Summary\n");
    for (const auto& row : rows) {
        text += QStringLiteral("  %1  %2\n").arg(row[0], -width).arg(row[1]);
    }
    return text;
}

QString Report::Markdown(const QString& result) const {
    QString text;
    QTextStream out(&text);
    out << "# Verove session report\n\n";
    const QString verdict = Verdict();
    const int colon = verdict.indexOf(':');
    out << "**" << verdict.left(colon) << "**" << verdict.mid(colon) << "\n\n";
    const auto done = std::count_if(m_steps.begin(), m_steps.end(),
                                    [](const Step& step) { return step.outcome == Outcome::Done; });
    out << "| Check | Value | Threshold | Result |\n|---|---|---|---|\n";
    out << "| Steps done | " << done << " of " << m_steps.size() << " | all | "
        << (done == static_cast<long>(m_steps.size()) ? "pass" : "FAIL") << " |\n";
    for (const Check& check : m_checks) {
        out << "| " << Cell(check.figure) << " | " << Cell(check.value) << " | "
            << Cell(check.threshold) << " | " << (check.pass ? "pass" : "FAIL") << " |\n";
    }
    out << "\n";
    out << "- Scenario: `" << m_scenarioPath << "`\n";
    if (!m_description.isEmpty()) {
        out << "- Description: " << m_description << "\n";
    }
    if (!m_dmdPath.isEmpty()) {
        out << "- DMD: " << m_dmdPath << "\n";
    }
    out << "- Result: " << result << "\n\n";

    out << "## Summary\n\n| Measure | Value |\n|---|---|\n";
    for (const auto& row : SummaryRows()) {
        out << "| " << Cell(row[0]) << " | " << Cell(row[1]) << " |\n";
    }

    out << "\n## Steps\n\n| # | Step | Outcome | Detail |\n|---|---|---|---|\n";
    for (const Step& step : m_steps) {
        out << "| " << step.number << " | " << Cell(step.title) << " | "
            << OutcomeText(step.outcome) << " | " << Cell(step.detail) << " |\n";
    }

    if (!m_pictures.empty()) {
        out << "\n## Pictures\n";
        for (const Picture& picture : m_pictures) {
            out << "\n"
                << picture.caption << "\n\n![" << picture.caption << "](" << picture.fileName
                << ")\n";
        }
    }
    return text;
}

bool Report::Finish(const QString& result, QString* error) {
    const QString staging = StagingPath();
    if (staging.isEmpty()) {
        *error = QStringLiteral("no report folder was begun");
        return false;
    }
    auto fail = [&](const QString& why) {
        *error = QStringLiteral("%1: %2").arg(FolderPath(), why);
        Discard();
        return false;
    };
    if (!m_pictureErrors.isEmpty()) {
        return fail(m_pictureErrors.first());
    }
    QFile markdown(QDir(staging).filePath("report.md"));
    if (!markdown.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        markdown.write(Markdown(result).toUtf8()) < 0 || !markdown.flush()) {
        return fail(QStringLiteral("cannot write report.md (%1)").arg(markdown.errorString()));
    }
    markdown.close();
    return m_folder.Commit(error);
}

void Report::Discard() {
    m_folder.Discard();
}
