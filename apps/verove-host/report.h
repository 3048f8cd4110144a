// The report folder of a session: report.md with its summary and steps, and PNG pictures.
#pragma once

#include <QImage>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>
#include <vector>

#include "reportfolder.h"
#include "verdict.h"

// Thread-bound: filled and written on the host's main thread.
//
// Everything goes into a hidden staging folder beside the report folder; Finish swaps it into
// place, so the report folder is either the whole earlier report or the whole new one
// (ReportFolder).
class Report {
public:
    enum class Outcome { Done, Failed, Refused, Skipped };

    // groups: which of S1-S3 the session uses; the summary has their rows.
    Report(const QString& scenarioPath, const QString& description,
           const std::array<bool, 3>& groups);
    ~Report();

    // Creates the staging folder beside folder (and folder's parents) once folder may be
    // replaced and holds none of the files in keep (ReportFolder::Begin). False with error set.
    bool Begin(const QString& folder, const QStringList& keep, QString* error);
    // Where the session writes its files until Finish; empty before Begin.
    QString StagingPath() const { return m_folder.StagingPath(); }
    QString FolderPath() const { return m_folder.FolderPath(); }

    void SetDmdPath(const QString& text) { m_dmdPath = text; }
    void SetLogFile(const QString& path) { m_logFile = path; }
    // number counts from 1; detail is one line, possibly empty.
    void AddStep(int number, const QString& title, Outcome outcome, const QString& detail);
    // A figure the session holds against a threshold, both as a user reads them ("97.3 %",
    // "at least 90 %"). report.md leads with the checks, after one for the steps. mark, when
    // given, is what the summary row of that name shows ("97.3 % ≥ 90 % ✓").
    void AddCheck(const QString& figure, const QString& value, const QString& threshold, bool pass,
                  const QString& mark = QString());
    // Holds the calibration residual, the squares found and the placement overlaps measured so
    // far against their thresholds, each as a check that marks its summary row.
    void JudgeFigures(const SessionThresholds& thresholds);
    // Each check that did not pass, as the verdict names it ("Placement overlap S2 93.1 %, not
    // at least 95 %"); empty when all passed.
    QStringList FailedChecks() const;
    // One line: "PASSED: ..." when every step was done and every check passed, else "FAILED: "
    // and the first step or check that did not.
    QString Verdict() const;
    // Against the scenario's ground truth, camera pixels.
    void SetCalibrationResidual(double rmsPixels, double maxPixels);
    // The residual of the calibration made by hand (pairs found by eye), beside the automatic
    // one's; its rows show only when it was measured.
    void SetManualCalibrationResidual(double rmsPixels, double maxPixels);
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

    // Measure and value of each summary row, in order; "not measured" for what no step measured.
    std::vector<std::array<QString, 2>> SummaryRows() const;
    // The summary as aligned plain text for the terminal.
    QString SummaryText() const;

    // Writes report.md and swaps the staging folder into place, replacing an earlier report.
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
    struct Check {
        QString figure;
        QString value;
        QString threshold;
        bool pass = false;
        QString mark;
    };
    struct Picture {
        QString fileName;
        QString caption;
    };

    QString Markdown(const QString& result) const;
    // The mark of the check of that figure, or plain when none marks it.
    QString Marked(const QString& figure, const QString& plain) const;

    QString m_scenarioPath;
    QString m_description;
    std::array<bool, 3> m_groups;
    ReportFolder m_folder;
    QString m_dmdPath;
    QString m_logFile;
    std::vector<Step> m_steps;
    std::vector<Check> m_checks;
    std::vector<Picture> m_pictures;
    QStringList m_pictureErrors;
    std::optional<std::array<double, 2>> m_residual;  // RMS, maximum
    std::optional<std::array<double, 2>> m_manualResidual;
    std::array<std::optional<double>, 3> m_overlap;
    std::array<std::optional<double>, 3> m_latency;
    std::array<std::optional<double>, 3> m_renderTime;
    std::optional<int> m_squaresFound;
    QString m_calibrationFit;
};
