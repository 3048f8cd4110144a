// Replacing a report folder only when verove-host wrote all of it, atomically.
#include "reportfolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

const char ReportFolder::kMarker[] = ".verove-report";

namespace {

const char kMarkerHead[] = "verove-host report";
const char kMarkerEnd[] = "end";  // the list above it is whole

ReportFolder::StepHook g_stepHook = nullptr;

void Step(const char* name) {
    if (g_stepHook) {
        g_stepHook(name);
    }
}

QString SystemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

// One entry below a folder and the marker line that describes it: a file by its size and time,
// so that a file changed since verove-host wrote it no longer matches.
struct Entry {
    QString path;  // relative to the folder
    QString line;
};

std::vector<Entry> Entries(const QString& folder) {
    std::vector<Entry> entries;
    const QDir root(folder);
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        const QString path = root.relativeFilePath(info.filePath());
        if (path == ReportFolder::kMarker) {
            continue;
        }
        QString line;
        if (info.isSymLink()) {
            line = "l " + path;  // never written by a report: never in a list
        } else if (info.isDir()) {
            line = "d " + path;
        } else if (info.isFile()) {
            line = QStringLiteral("f %1 %2 %3")
                       .arg(info.size())
                       .arg(info.lastModified().toMSecsSinceEpoch())
                       .arg(path);
        } else {
            line = "o " + path;
        }
        entries.push_back({path, line});
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.path < b.path; });
    return entries;
}

// The entries a whole report's marker lists; false when folder has no marker or its list is
// not whole.
bool ReadMarker(const QString& folder, QSet<QString>* listed) {
    const QFileInfo info(QDir(folder).filePath(ReportFolder::kMarker));
    QFile marker(info.filePath());
    if (info.isSymLink() || !info.isFile() || info.size() > (1 << 20) ||
        !marker.open(QIODevice::ReadOnly)) {
        return false;
    }
    QStringList lines = QString::fromUtf8(marker.readAll()).split('\n', Qt::SkipEmptyParts);
    if (lines.size() < 2 || lines.first() != kMarkerHead || lines.last() != kMarkerEnd) {
        return false;
    }
    lines.removeFirst();
    lines.removeLast();
    *listed = QSet<QString>(lines.begin(), lines.end());
    return true;
}

// Why the folder may not be replaced; empty when it may: it does not exist, is empty, or is a
// report whose marker lists every entry in it.
QString Foreign(const QString& folder) {
    const QFileInfo info(folder);
    if (info.isSymLink()) {
        return QStringLiteral("is a symbolic link; give the folder itself");
    }
    if (!info.exists()) {
        return QString();
    }
    if (!info.isDir()) {
        return QStringLiteral("exists and is not a folder");
    }
    auto notWritten = [](const QString& entry) {
        return QStringLiteral(
                   "holds %1, which verove-host did not write; give a new or empty folder")
            .arg(entry);
    };
    QSet<QString> listed;
    if (!ReadMarker(folder, &listed)) {
        // Not a report: named by its first entry, without walking what may be a large tree.
        QStringList top = QDir(folder).entryList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        if (top.isEmpty()) {
            return QString();
        }
        top.removeAll(ReportFolder::kMarker);
        return top.isEmpty() ? QStringLiteral("holds an unfinished report; give another folder")
                             : notWritten(top.first());
    }
    for (const Entry& entry : Entries(folder)) {
        if (!listed.contains(entry.line)) {
            return notWritten(entry.path);
        }
    }
    return QString();
}

// The path with every part that exists resolved (symbolic links, "."), the rest appended.
QString Resolved(const QString& path) {
    QString existing = QDir::cleanPath(QDir::current().absoluteFilePath(path));
    QString rest;
    while (!QFileInfo::exists(existing) && existing != "/") {
        const QFileInfo info(existing);
        rest = rest.isEmpty() ? info.fileName() : info.fileName() + '/' + rest;
        existing = info.absolutePath();
    }
    const QString canonical = QFileInfo(existing).canonicalFilePath();
    return QDir::cleanPath(rest.isEmpty() ? canonical : canonical + '/' + rest);
}

bool Inside(const QString& path, const QString& folder) {
    QString prefix = Resolved(folder);
    if (!prefix.endsWith('/')) {
        prefix += '/';
    }
    return Resolved(path).startsWith(prefix);
}

// Staging folders a killed run left beside folder: a whole report goes into an empty place, the
// rest is removed. One whose marker is locked belongs to a session still running; one without a
// marker is not ours unless it is empty.
void RemoveStranded(const QString& folder) {
    const QFileInfo place(folder);
    const QRegularExpression name("^" +
                                  QRegularExpression::escape("." + place.fileName() + ".staging-") +
                                  "[A-Za-z0-9]{6}(-earlier)?$");
    const QFileInfoList candidates = place.dir().entryInfoList(
        QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name);
    for (const QFileInfo& candidate : candidates) {
        if (!name.match(candidate.fileName()).hasMatch()) {
            continue;
        }
        const QString marker = QDir(candidate.filePath()).filePath(ReportFolder::kMarker);
        const int fd =
            ::open(QFile::encodeName(marker).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) {
            // Killed before its marker was made, a run leaves an empty folder; rmdir removes
            // nothing else.
            ::rmdir(QFile::encodeName(candidate.filePath()).constData());
            continue;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            QSet<QString> listed;
            const QFileInfo now(folder);
            if (!now.exists() && !now.isSymLink() && ReadMarker(candidate.filePath(), &listed)) {
                QDir().rename(candidate.filePath(), folder);
            } else {
                QDir(candidate.filePath()).removeRecursively();
            }
        }
        ::close(fd);
    }
}

}  // namespace

ReportFolder::~ReportFolder() {
    Discard();
}

void ReportFolder::SetStepHook(StepHook hook) {
    g_stepHook = hook;
}

bool ReportFolder::Begin(const QString& folder, const QStringList& keep, QString* error) {
    Discard();
    m_folder = QDir::cleanPath(QDir::current().absoluteFilePath(folder));
    auto fail = [&](const QString& why) {
        *error = QStringLiteral("%1: %2").arg(folder, why);
        return false;
    };
    for (const QString& file : keep) {
        if (!file.isEmpty() && Inside(file, m_folder)) {
            return fail(QStringLiteral("holds %1, which a report never replaces; give another "
                                       "folder")
                            .arg(file));
        }
    }
    const QString foreign = Foreign(m_folder);
    if (!foreign.isEmpty()) {
        return fail(foreign);
    }
    const QFileInfo place(m_folder);
    if (!QDir().mkpath(place.absolutePath())) {
        return fail(QStringLiteral("cannot create the folder it goes in"));
    }
    RemoveStranded(m_folder);

    // Beside the place: the final rename stays on one file system.
    QByteArray staging = QFile::encodeName(
        QDir(place.absolutePath()).filePath("." + place.fileName() + ".staging-XXXXXX"));
    if (!::mkdtemp(staging.data())) {
        return fail(QStringLiteral("cannot write beside it (%1)").arg(SystemError()));
    }
    m_staging = QFile::decodeName(staging);
    // Readable like any folder the user makes, once it is the report.
    ::chmod(staging.constData(), 0755);
    const QByteArray marker = QFile::encodeName(QDir(m_staging).filePath(kMarker));
    m_lock = ::open(marker.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    const QByteArray head = QByteArray(kMarkerHead) + '\n';
    if (m_lock < 0 || ::flock(m_lock, LOCK_EX) != 0 ||
        ::write(m_lock, head.constData(), head.size()) != head.size()) {
        const QString why = SystemError();
        Discard();
        return fail(QStringLiteral("cannot write beside it (%1)").arg(why));
    }
    return true;
}

bool ReportFolder::Commit(QString* error) {
    if (m_staging.isEmpty()) {
        *error = QStringLiteral("no report folder was begun");
        return false;
    }
    auto fail = [&](const QString& why) {
        *error = QStringLiteral("%1: %2").arg(m_folder, why);
        Discard();
        return false;
    };
    QStringList lines{kMarkerHead};
    for (const Entry& entry : Entries(m_staging)) {
        lines << entry.line;
    }
    lines << kMarkerEnd;
    const QByteArray text = (lines.join('\n') + '\n').toUtf8();
    if (::ftruncate(m_lock, 0) != 0 ||
        ::pwrite(m_lock, text.constData(), text.size(), 0) != text.size()) {
        return fail(QStringLiteral("cannot write the report's marker (%1)").arg(SystemError()));
    }
    Step("marked");

    const QByteArray staging = QFile::encodeName(m_staging);
    const QByteArray place = QFile::encodeName(m_folder);
    const QFileInfo info(m_folder);
    if (!info.exists() && !info.isSymLink()) {
        if (::rename(staging.constData(), place.constData()) != 0) {
            return fail(
                QStringLiteral("cannot move the new report into place (%1)").arg(SystemError()));
        }
        Step("placed");
    } else {
        // Checked again: the user may have put something into it while the session ran.
        const QString foreign = Foreign(m_folder);
        if (!foreign.isEmpty()) {
            return fail(foreign);
        }
        QString earlier = m_staging;
        if (::renameat2(AT_FDCWD, staging.constData(), AT_FDCWD, place.constData(),
                        RENAME_EXCHANGE) != 0) {
            if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
                return fail(QStringLiteral("cannot swap the new report into place (%1)")
                                .arg(SystemError()));
            }
            // A file system that cannot swap: the earlier report goes aside first, under a name
            // the next start recognises and puts back should this run end in between.
            earlier = m_staging + "-earlier";
            const QByteArray aside = QFile::encodeName(earlier);
            if (::rename(place.constData(), aside.constData()) != 0) {
                return fail(
                    QStringLiteral("cannot move the earlier report aside (%1)").arg(SystemError()));
            }
            if (::rename(staging.constData(), place.constData()) != 0) {
                const QString why = SystemError();
                ::rename(aside.constData(), place.constData());
                return fail(QStringLiteral("cannot move the new report into place (%1)").arg(why));
            }
        }
        Step("exchanged");
        QDir(earlier).removeRecursively();
        Step("removed");
    }
    ::close(m_lock);
    m_lock = -1;
    m_staging.clear();
    return true;
}

void ReportFolder::Discard() {
    if (!m_staging.isEmpty()) {
        QDir(m_staging).removeRecursively();
        m_staging.clear();
    }
    if (m_lock >= 0) {
        ::close(m_lock);
        m_lock = -1;
    }
}
