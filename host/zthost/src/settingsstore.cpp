// SettingsStore: settings files on disk, ZT_SaveSettingsFile/ZT_LoadSettingsFile and the location.
#include "settingsstore.h"

#include <algorithm>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include "litevariantnode.h"
#include "settingsfileformat.h"
#include "zt/zt_log.h"
#include "zt/zt_settings.h"
#include "zthost/settings_store.h"

namespace {

std::wstring Wide(const QString& text) {
    return text.toStdWString();
}

}  // namespace

SettingsStore& SettingsStore::Instance() {
    static SettingsStore store;
    return store;
}

void SettingsStore::SetLocation(const QString& folder) {
    std::lock_guard lock(m_locationMutex);
    m_location = folder;
}

QString SettingsStore::Location() {
    std::lock_guard lock(m_locationMutex);
    if (m_location.isEmpty()) {
        return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    }
    return m_location;
}

QString SettingsStore::PathOf(const wchar_t* name, const QString& folder) {
    const QString file = QString::fromWCharArray(name ? name : L"");
    if (file.isEmpty() || file.contains(QLatin1Char('/')) || file.contains(QLatin1Char('\\'))) {
        return {};
    }
    const QString fileName =
        file.endsWith(QLatin1String(".bin"), Qt::CaseInsensitive) ? file : file + ".bin";
    return QDir(folder.isEmpty() ? Location() : folder).filePath(fileName);
}

int SettingsStore::Load(const QString& path, CZtLiteVariantW* tree) {
    *tree = CZtLiteVariantW();
    // The file is opened first and asked whether it exists only when the open fails: a save
    // beside this read replaces it, and a separate look before the open can meet it missing.
    QFile file(path);
    QString problem;
    std::unique_ptr<SZtLiteVariantNode> root;
    if (!file.open(QIODevice::ReadOnly)) {
        if (file.error() == QFileDevice::OpenError && !QFileInfo::exists(path)) {
            return -5;
        }
        problem = file.errorString();
    } else {
        // One byte more than allowed, so that an oversized file is seen as such; a normal file is
        // read at its own size rather than into a buffer of the maximum.
        const qint64 size = std::min<qint64>(file.size(), SettingsFileFormat::kMaxFileBytes + 1);
        root = SettingsFileFormat::Decode(file.read(size), &problem);
    }
    if (!root) {
        ZT_DIAG_OUTPUT(
            L"zthost %hs: settings file %s does not read (%s); it is treated as missing.",
            "SettingsStore::Load", Wide(path).c_str(), Wide(problem).c_str());
        return -6;
    }
    *tree = CZtLiteVariantW(std::move(root));
    return 0;
}

bool SettingsStore::KeepAsideIfDamaged(const QString& path) {
    CZtLiteVariantW present;
    if (Load(path, &present) != -6) {
        return true;
    }
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    QString aside = path + ".corrupt-" + stamp;
    for (int n = 2; QFileInfo::exists(aside); ++n) {
        aside = path + ".corrupt-" + stamp + "-" + QString::number(n);
    }
    if (!QFile::rename(path, aside)) {
        ZT_DIAG_OUTPUT(L"zthost %hs: damaged settings file %s could not be kept aside as %s.",
                       "SettingsStore::Save", Wide(path).c_str(), Wide(aside).c_str());
        return false;
    }
    ZT_DIAG_OUTPUT(L"zthost %hs: damaged settings file %s kept aside as %s.", "SettingsStore::Save",
                   Wide(path).c_str(), Wide(aside).c_str());
    return true;
}

int SettingsStore::Save(const QString& path, const CZtLiteVariantW& tree) {
    std::lock_guard lock(m_saveMutex);
    QString problem;
    const QByteArray data = SettingsFileFormat::Encode(tree.Root(), &problem);
    if (!data.isEmpty()) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (!KeepAsideIfDamaged(path)) {
            return -8;
        }
        // The new content replaces the file only once completely written; without direct-write
        // fallback a folder where no temporary file can be made fails instead.
        QSaveFile file(path);
        if (file.open(QIODevice::WriteOnly) && file.write(data) == data.size() && file.commit()) {
            return 0;
        }
        problem = file.errorString();
    }
    ZT_DIAG_OUTPUT(L"zthost %hs: settings file %s could not be written (%s).",
                   "SettingsStore::Save", Wide(path).c_str(), Wide(problem).c_str());
    return -8;
}

int ZT_SaveSettingsFile(const wchar_t* name, const CZtLiteVariantW& tree) {
    SettingsStore& store = SettingsStore::Instance();
    const QString path = store.PathOf(name, {});
    if (path.isEmpty()) {
        ZT_DIAG_OUTPUT(L"zthost %hs: bad settings file name \"%s\".", "ZT_SaveSettingsFile",
                       name ? name : L"");
        return -4;
    }
    return store.Save(path, tree);
}

int ZT_LoadSettingsFile(const wchar_t* name, CZtLiteVariantW* tree) {
    SettingsStore& store = SettingsStore::Instance();
    const QString path = store.PathOf(name, {});
    if (path.isEmpty() || !tree) {
        ZT_DIAG_OUTPUT(L"zthost %hs: bad settings file name \"%s\" or no tree.",
                       "ZT_LoadSettingsFile", name ? name : L"");
        return -4;
    }
    return store.Load(path, tree) == 0 ? 0 : -5;
}

namespace zthost {

void SetSettingsLocation(const std::wstring& folder) {
    SettingsStore::Instance().SetLocation(QString::fromStdWString(folder));
}

std::wstring SettingsLocation() {
    return SettingsStore::Instance().Location().toStdWString();
}

}  // namespace zthost
