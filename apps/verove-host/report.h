// The report folder of a session: report.md with its summary and steps, and PNG pictures.
#pragma once

#include <QImage>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "verdict.h"

// Thread-bound: filled and written on the host's main thread.
//
// Everything goes into a hidden staging folder beside the report folder; Finish renames it into
// place, so the report folder is either the whole earlier report or the whole new one.
class Report {
public:
    enum class Outcome { Done, Failed, Refused, Skipped };

    // groups: which of S1-S3 the session uses; the summary has their rows.
    Report(const QString& scenarioPath, const QString& description,
           const std::array<bool, 3>& groups);
    ~Report();

    // Creates the staging folder beside folder (and folder's parents). False with error set.
    bool Begin(const QString& folder, QString* error);
    // Where the session writes its files until Finish; empty before Begin.
    QString StagingPath() const;
    QString FolderPath() const { return m_folder; }

    void SetDmdPath(const QString& text) { m_dmdPath = text; }
    void SetLogFile(const QString& path) { m_logFile = path; }
    // number counts from 1; detail is one line, possibly empty.
    void AddStep(int number, const QString& title, Outcome outcome, const QString& detail);
    // Against the scenario's ground truth, camera pixels.
    void SetCalibrationResidual(double rmsPixels, double maxPixels);
    // How many squares the auto-calibration found, and what it says of its fit on its own pairs.
    void SetCalibrationSquares(int found) { m_squaresFound = found; }
    void SetCalibrationFit(const QString& text) { m_calibrationFit = text; }
    // The part of group's ROIs that the light landed on, 0 to 1.
    void SetPlacementOverlap(int group, double fraction);
    // From StimulationBegin being called to light at the sample.
    void SetStimulationLatency(int group, double milliseconds);
    void SetRenderTime(int group, double milliseconds);
    // Saves the picture as fileName (".png") in the staging folder at once; false when it could
    // not be written, which Finish then reports.
    bool AddPicture(const QString& fileName, const QImage& image, const QString& caption);

    // The figures set so far, for the verdict.
    SessionFigures Figures() const;
    // The verdict's marks: a checked figure's row shows it against its bar.
    void SetChecks(const std::vector<Check>& checks) { m_checks = checks; }

    // Measure and value of each summary row, in order; "not measured" for what no step measured.
    std::vector<std::array<QString, 2>> SummaryRows() const;
    // The summary as aligned plain text for the terminal.
    QString SummaryText() const;

    // Writes report.md and moves the staging folder into place, replacing an earlier report.
    // result: one line on how the session ended. False with error set; the staging folder is
    // then removed and an earlier report is left as it was.
    bool Finish(const QString& result, QString* error);
    // Removes the staging folder; the report folder stays as it was.
    void Discard();

private:
    struct Step {
        int number = 0;
        QString title;
        Outcome outcome = Outcome::Done;
        QString detail;
    };
    struct Picture {
        QString fileName;
        QString caption;
    };

    QString Markdown(const QString& result) const;
    // The checked figure of that measure, or plain when none was checked.
    QString Marked(Measure measure, int group, const QString& plain) const;

    QString m_scenarioPath;
    QString m_description;
    std::array<bool, 3> m_groups;
    QString m_folder;
    std::unique_ptr<QTemporaryDir> m_staging;
    QString m_dmdPath;
    QString m_logFile;
    std::vector<Step> m_steps;
    std::vector<Picture> m_pictures;
    QStringList m_pictureErrors;
    std::optional<std::array<double, 2>> m_residual;  // RMS, maximum
    std::array<std::optional<double>, 3> m_overlap;
    std::array<std::optional<double>, 3> m_latency;
    std::array<std::optional<double>, 3> m_renderTime;
    std::optional<int> m_squaresFound;
    QString m_calibrationFit;
    std::vector<Check> m_checks;
};
