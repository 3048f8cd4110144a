// Where a session's report goes: a folder verove-host wrote itself, replaced as a whole.
#pragma once

#include <QString>
#include <QStringList>

// Thread-bound: used on the host's main thread.
//
// The report is written into a hidden staging folder beside its place,
// ".<name>.staging-XXXXXX", and swapped into place when complete, so that at every moment the
// place holds the whole earlier report or the whole new one. Each report holds a marker file
// listing what verove-host wrote into it (names, sizes, times); only a folder whose every entry
// the list names is ever replaced, so no run removes a file it did not write. Staging folders
// that a killed run left behind are recognised by their name and marker and removed at the next
// start; a running session keeps its marker locked, so a second session leaves it alone.
class ReportFolder {
public:
    // The marker file in every report and staging folder.
    static const char kMarker[];

    ReportFolder() = default;
    ReportFolder(const ReportFolder&) = delete;
    ReportFolder& operator=(const ReportFolder&) = delete;
    ~ReportFolder();  // discards a staging folder not committed

    // Checks that folder may be replaced (it does not exist, is empty, or is an earlier report
    // whose every entry its marker names) and that none of the files in keep (the scenario, the
    // log) is, or would be, inside it; removes stranded staging folders of the same place; creates
    // the staging folder (and folder's parents). False with error set to one line.
    bool Begin(const QString& folder, const QStringList& keep, QString* error);
    QString FolderPath() const { return m_folder; }
    // Where the report is written until Commit; empty before Begin and after Commit or Discard.
    QString StagingPath() const { return m_staging; }

    // Lists the staging folder in its marker, swaps it into place and removes the earlier
    // report. False with error set (the folder's path and why); the staging folder is then
    // removed and the place holds what it held before.
    bool Commit(QString* error);
    // Removes the staging folder; the place stays as it was.
    void Discard();

    // Tests stop the writer between the steps of Commit ("marked", "placed", "exchanged",
    // "removed"): the hook is called with each step's name once it is done.
    using StepHook = void (*)(const char* step);
    static void SetStepHook(StepHook hook);

private:
    QString m_folder;
    QString m_staging;
    int m_lock = -1;  // the staging marker, open and locked while this run writes
};
