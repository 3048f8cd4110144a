// Writing a session's report folder: staged beside its place and renamed into it when complete.
#include "report.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <algorithm>

namespace {

const char* const kGroupNames[] = {"S1", "S2", "S3"};

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

bool Report::Begin(const QString& folder, QString* error) {
    m_folder = QDir::cleanPath(QDir::current().absoluteFilePath(folder));
    const QFileInfo info(m_folder);
    if (info.exists() && !info.isDir()) {
        *error = QStringLiteral("%1: exists and is not a folder").arg(folder);
        return false;
    }
    if (!QDir().mkpath(info.absolutePath())) {
        *error = QStringLiteral("%1: cannot create the folder it goes in").arg(folder);
        return false;
    }
    // Hidden and beside the report folder: the final rename stays on one file system.
    m_staging = std::make_unique<QTemporaryDir>(
        QDir(info.absolutePath()).filePath("." + info.fileName() + ".staging-XXXXXX"));
    if (!m_staging->isValid()) {
        *error =
            QStringLiteral("%1: cannot write beside it (%2)").arg(folder, m_staging->errorString());
        m_staging.reset();
        return false;
    }
    // Readable like any folder the user makes, once it is the report.
    QFile::setPermissions(m_staging->path(), QFile::ReadOwner | QFile::WriteOwner |
                                                 QFile::ExeOwner | QFile::ReadGroup |
                                                 QFile::ExeGroup | QFile::ReadOther |
                                                 QFile::ExeOther);
    return true;
}

QString Report::StagingPath() const {
    return m_staging ? m_staging->path() : QString();
}

void Report::AddStep(int number, const QString& title, Outcome outcome, const QString& detail) {
    m_steps.push_back({number, title, outcome, detail});
}

void Report::SetCalibrationResidual(double rmsPixels, double maxPixels) {
    m_residual = std::array<double, 2>{rmsPixels, maxPixels};
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
    if (!m_staging || image.isNull() || !image.save(QDir(m_staging->path()).filePath(fileName))) {
        m_pictureErrors << QStringLiteral("cannot write the picture %1").arg(fileName);
        return false;
    }
    m_pictures.push_back({fileName, caption});
    return true;
}

SessionFigures Report::Figures() const {
    SessionFigures figures;
    if (m_residual) {
        figures.residualRms = (*m_residual)[0];
        figures.residualMax = (*m_residual)[1];
    }
    figures.squaresFound = m_squaresFound;
    figures.overlapPercent = m_overlap;
    return figures;
}

QString Report::Marked(Measure measure, int group, const QString& plain) const {
    for (const Check& check : m_checks) {
        if (check.measure == measure && check.group == group) {
            return check.figure;
        }
    }
    return plain;
}

std::vector<std::array<QString, 2>> Report::SummaryRows() const {
    std::vector<std::array<QString, 2>> rows;
    const SessionFigures figures = Figures();
    rows.push_back({"Calibration residual RMS (camera px)",
                    Marked(Measure::ResidualRms, 0, NotMeasured(figures.residualRms, 2))});
    rows.push_back({"Calibration residual max (camera px)",
                    Marked(Measure::ResidualMax, 0, NotMeasured(figures.residualMax, 2))});
    rows.push_back({"Calibration squares found",
                    Marked(Measure::SquaresFound, 0,
                           m_squaresFound ? QString::number(*m_squaresFound) : "not measured")});
    rows.push_back(
        {"Calibration fit on its own pairs (camera px)",
         m_calibrationFit.isEmpty() ? QStringLiteral("not measured") : m_calibrationFit});
    for (int g = 0; g < 3; ++g) {
        if (m_groups[g]) {
            rows.push_back({QStringLiteral("Placement overlap %1").arg(kGroupNames[g]),
                            Marked(Measure::Overlap, g, NotMeasured(m_overlap[g], 1, " %"))});
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
    if (!m_staging) {
        *error = QStringLiteral("no report folder was begun");
        return false;
    }
    const QString staging = m_staging->path();
    auto fail = [&](const QString& why) {
        *error = QStringLiteral("%1: %2").arg(m_folder, why);
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

    QString earlier;
    if (QFileInfo::exists(m_folder)) {
        earlier = staging + "-earlier";
        if (!QDir().rename(m_folder, earlier)) {
            return fail(QStringLiteral("cannot move the earlier report aside"));
        }
    }
    if (!QDir().rename(staging, m_folder)) {
        if (!earlier.isEmpty()) {
            QDir().rename(earlier, m_folder);
        }
        return fail(QStringLiteral("cannot move the new report into place"));
    }
    m_staging->setAutoRemove(false);
    m_staging.reset();
    if (!earlier.isEmpty()) {
        QDir(earlier).removeRecursively();
    }
    return true;
}

void Report::Discard() {
    m_staging.reset();  // removes the folder with everything in it
}
