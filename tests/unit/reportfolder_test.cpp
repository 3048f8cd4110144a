// The report folder: only a folder verove-host wrote itself is replaced, and a writer killed at
// any moment leaves the earlier report or the new one in place, never neither.
#include "reportfolder.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cstring>
#include <map>
#include <string>

namespace {

class ReportFolders : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_parent.isValid()); }

    QString Place() const { return m_parent.filePath("report"); }
    static void Write(const QString& path, const QByteArray& bytes) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
        file.write(bytes);
    }
    static QByteArray ReadBytes(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    // Every entry below folder with its content's hash: what "byte for byte" compares.
    static std::map<QString, QByteArray> Snapshot(const QString& folder) {
        std::map<QString, QByteArray> entries;
        QDirIterator it(folder,
                        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QFileInfo info(path);
            entries[QDir(folder).relativeFilePath(path)] =
                info.isSymLink() ? "link " + QFile::encodeName(info.symLinkTarget())
                : info.isDir()
                    ? QByteArray("folder")
                    : QCryptographicHash::hash(ReadBytes(path), QCryptographicHash::Sha256);
        }
        return entries;
    }
    QStringList Beside() const {
        return QDir(m_parent.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
    // A report of generation n, three files that all name it, written by a ReportFolder.
    static bool WriteGeneration(ReportFolder* folder, const QString& place, int n, QString* error) {
        if (!folder->Begin(place, {}, error)) {
            return false;
        }
        const QByteArray text = "generation " + QByteArray::number(n) + "\n";
        Write(folder->StagingPath() + "/report.md", text);
        Write(folder->StagingPath() + "/picture.png", text.repeated(n % 7 + 1));
        Write(folder->StagingPath() + "/settings/Verove.bin", text);
        return folder->Commit(error);
    }
    // The generation the place holds whole; -1 when it holds none whole (a file missing, one
    // of another generation, or something else in it).
    int WholeGeneration() const {
        const QStringList names = {"picture.png", "report.md", "settings", "settings/Verove.bin"};
        std::map<QString, QByteArray> entries = Snapshot(Place());
        entries.erase(ReportFolder::kMarker);
        if (entries.size() != static_cast<size_t>(names.size())) {
            return -1;
        }
        const QByteArray first = ReadBytes(Place() + "/report.md");
        if (!first.startsWith("generation ") ||
            ReadBytes(Place() + "/settings/Verove.bin") != first ||
            !ReadBytes(Place() + "/picture.png").startsWith(first)) {
            return -1;
        }
        return first.mid(11).trimmed().toInt();
    }

    // Writes generation n in a child process that is killed when the writer reaches step (never
    // for ""); whether it was killed.
    bool WriteKilledAt(const char* step, int n) {
        static const char* stopAt = nullptr;
        stopAt = step;
        const pid_t child = fork();
        if (child < 0) {
            ADD_FAILURE() << "cannot fork";
            return false;
        }
        if (child == 0) {
            ReportFolder::SetStepHook([](const char* reached) {
                if (std::strcmp(reached, stopAt) == 0) {
                    raise(SIGKILL);
                }
            });
            ReportFolder writer;
            QString error;
            _exit(WriteGeneration(&writer, Place(), n, &error) ? 0 : 1);
        }
        int status = 0;
        EXPECT_EQ(waitpid(child, &status, 0), child);
        return WIFSIGNALED(status);
    }

    QTemporaryDir m_parent;
};

// A folder with anything verove-host did not write is refused with one line; not a byte of it
// changes, and nothing is left beside it.
TEST_F(ReportFolders, FoldersVeroveHostDidNotWriteSurviveByteForByte) {
    struct Case {
        const char* name;
        bool earlier;  // place is first an earlier report, then changed by make
        void (*make)(const QString& place, const QString& parent);
        QString error;  // after "<place>: "
    };
    const Case cases[] = {
        {"a user's folder", false,
         [](const QString& place, const QString& parent) {
             Write(place + "/data.csv", "1,2,3\n");
             Write(place + "/images/cell 1.png", "not really a picture");
             Write(place + "/images/deep/.hidden", "x");
         },
         "holds data.csv, which verove-host did not write; give a new or empty folder"},
        {"an earlier report with a file added in a subfolder", true,
         [](const QString& place, const QString& parent) {
             Write(place + "/settings/notes.txt", "my notes");
         },
         "holds settings/notes.txt, which verove-host did not write; give a new or empty folder"},
        {"an earlier report whose report.md the user edited", true,
         [](const QString& place, const QString& parent) {
             Write(place + "/report.md", "generation 1\nlooks good -- J.\n");
         },
         "holds report.md, which verove-host did not write; give a new or empty folder"},
        {"an earlier report with a link added", true,
         [](const QString& place, const QString& parent) {
             Write(parent + "/elsewhere/keep.txt", "keep");
             ASSERT_TRUE(QFile::link(parent + "/elsewhere", place + "/link"));
         },
         "holds link, which verove-host did not write; give a new or empty folder"},
        {"a marker alone, not a whole report", false,
         [](const QString& place, const QString& parent) {
             Write(place + "/.verove-report", "verove-host report\n");
             Write(place + "/report.md", "half");
         },
         "holds report.md, which verove-host did not write; give a new or empty folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(m_parent.path()).removeRecursively();
        QDir().mkpath(m_parent.path());
        QString error;
        if (c.earlier) {
            ReportFolder earlier;
            ASSERT_TRUE(WriteGeneration(&earlier, Place(), 1, &error));
        }
        c.make(Place(), m_parent.path());
        const std::map<QString, QByteArray> before = Snapshot(m_parent.path());

        ReportFolder folder;
        EXPECT_FALSE(folder.Begin(Place(), {}, &error));
        EXPECT_EQ(error.toStdString(), (Place() + ": " + c.error).toStdString());
        EXPECT_EQ(Snapshot(m_parent.path()), before);
    }
}

TEST_F(ReportFolders, AnEarlierReportOrAnEmptyFolderIsReplaced) {
    QDir().mkpath(Place());
    ReportFolder folder;
    QString error;
    ASSERT_TRUE(WriteGeneration(&folder, Place(), 1, &error)) << error.toStdString();
    EXPECT_EQ(WholeGeneration(), 1);
    ASSERT_TRUE(WriteGeneration(&folder, Place(), 2, &error)) << error.toStdString();
    EXPECT_EQ(WholeGeneration(), 2);
    EXPECT_EQ(Beside(), QStringList{"report"});
    EXPECT_TRUE(folder.StagingPath().isEmpty());
}

// The scenario and the log are never inside a report folder, which is replaced as a whole: a
// folder that holds them, or would, is refused before anything is written.
TEST_F(ReportFolders, AFolderHoldingTheScenarioOrTheLogIsRefused) {
    ReportFolder earlier;
    QString error;
    ASSERT_TRUE(WriteGeneration(&earlier, Place(), 1, &error));
    Write(Place() + "/x.json", "{}");
    Write(Place() + "/host.log", "log");
    const std::map<QString, QByteArray> before = Snapshot(m_parent.path());
    struct Case {
        QString folder;
        QStringList keep;
        QString held;
    };
    const Case cases[] = {
        {Place(), {Place() + "/x.json", m_parent.filePath("host.log")}, Place() + "/x.json"},
        {Place(), {m_parent.filePath("x.json"), Place() + "/host.log"}, Place() + "/host.log"},
        // The log would go into a report folder not made yet; "." and ".." reach it too.
        {m_parent.filePath("new"),
         {m_parent.filePath("x.json"), m_parent.filePath("new/./sub/../host.log")},
         m_parent.filePath("new/./sub/../host.log")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.held.toStdString());
        ReportFolder folder;
        EXPECT_FALSE(folder.Begin(c.folder, c.keep, &error));
        EXPECT_EQ(error, c.folder + ": holds " + c.held +
                             ", which a report never replaces; give another folder");
        EXPECT_EQ(Snapshot(m_parent.path()), before);
    }
}

TEST_F(ReportFolders, ALinkedPlaceIsRefused) {
    ReportFolder earlier;
    QString error;
    ASSERT_TRUE(WriteGeneration(&earlier, m_parent.filePath("real"), 1, &error));
    ASSERT_TRUE(QFile::link(m_parent.filePath("real"), Place()));
    ReportFolder folder;
    EXPECT_FALSE(folder.Begin(Place(), {}, &error));
    EXPECT_EQ(error, Place() + ": is a symbolic link; give the folder itself");
}

// Staging folders a killed run left are removed at the next start; a running writer's is not.
TEST_F(ReportFolders, StrandedStagingFoldersGoAtTheNextStart) {
    ReportFolder running;
    QString error;
    ASSERT_TRUE(running.Begin(Place(), {}, &error));
    Write(running.StagingPath() + "/report.md", "running");
    // What a killed run leaves: a staging folder with an unfinished marker, and an earlier
    // report left aside; and a user's folder that only looks alike.
    Write(m_parent.filePath(".report.staging-AbC123/.verove-report"), "verove-host report\n");
    Write(m_parent.filePath(".report.staging-AbC123/report.md"), "half");
    Write(m_parent.filePath(".report.staging-XyZ789-earlier/.verove-report"),
          "verove-host report\nend\n");
    Write(m_parent.filePath(".report.staging-mine/notes.txt"), "mine");
    Write(m_parent.filePath(".report.staging-QQQ111/notes.txt"), "mine too");
    QDir().mkpath(m_parent.filePath(".report.staging-EmPty1"));
    // A complete report goes into an empty place rather than away.
    ReportFolder next;
    ASSERT_TRUE(next.Begin(Place(), {}, &error)) << error.toStdString();
    QStringList expected = {".report.staging-QQQ111", ".report.staging-mine",
                            QFileInfo(running.StagingPath()).fileName(),
                            QFileInfo(next.StagingPath()).fileName(), "report"};
    QStringList beside = Beside();
    expected.sort();
    beside.sort();
    EXPECT_EQ(beside, expected);
    EXPECT_EQ(ReadBytes(running.StagingPath() + "/report.md"), "running");
    EXPECT_EQ(ReadBytes(Place() + "/.verove-report"), "verove-host report\nend\n");
}

// ---- Killed writers ---------------------------------------------------------------------------

// The child writes generation 2 over generation 1 and is killed when the writer reaches the
// step; the place must hold one of them whole, and the next start cleans up beside it.
TEST_F(ReportFolders, AWriterKilledBetweenStepsLeavesTheEarlierOrTheNewReport) {
    struct Case {
        const char* step;
        int generation;  // the place holds it whole afterwards
    };
    const Case cases[] = {{"marked", 1}, {"exchanged", 2}, {"removed", 2}, {"", 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.step);
        QDir(m_parent.path()).removeRecursively();
        QDir().mkpath(m_parent.path());
        ReportFolder folder;
        QString error;
        ASSERT_TRUE(WriteGeneration(&folder, Place(), 1, &error));

        EXPECT_EQ(WriteKilledAt(c.step, 2), *c.step != '\0');
        EXPECT_EQ(WholeGeneration(), c.generation);

        ReportFolder next;
        ASSERT_TRUE(next.Begin(Place(), {}, &error)) << error.toStdString();
        next.Discard();
        EXPECT_EQ(Beside(), QStringList{"report"}) << Beside().join(", ").toStdString();
        EXPECT_EQ(WholeGeneration(), c.generation);
    }
}

// The first report's writer killed once its report is whole but not yet in place: the next
// start puts it there.
TEST_F(ReportFolders, AWholeReportStrandedBesideAnEmptyPlaceIsPutInPlace) {
    ASSERT_TRUE(WriteKilledAt("marked", 1));
    EXPECT_FALSE(QFileInfo::exists(Place()));
    ReportFolder next;
    QString error;
    ASSERT_TRUE(next.Begin(Place(), {}, &error)) << error.toStdString();
    EXPECT_EQ(WholeGeneration(), 1);
}

}  // namespace
