// Plug-in loading: QLibrary, the class records under ":/ztclasses/", exported constructors.
#include "pluginloader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibrary>
#include <QSet>

#include "classregistry.h"
#include "zt/zt_log.h"
#include "zthost/zthost.h"

namespace {

const QString kRecordFolder = QStringLiteral(":/ztclasses/");

QSet<QString> RecordFiles() {
    const QStringList files = QDir(kRecordFolder).entryList(QDir::Files);
    return QSet<QString>(files.begin(), files.end());
}

SZtClassRecord ParseRecord(const QJsonObject& object) {
    SZtClassRecord record;
    record.className = object.value("className").toString().toStdWString();
    for (const QJsonValue& parent : object.value("parents").toArray()) {
        record.parents.push_back(parent.toString().toStdWString());
    }
    record.version = object.value("version").toInt();
    record.priority = object.value("priority").toString().toStdWString();
    record.friendlyName = object.value("friendlyName").toString().toStdWString();
    return record;
}

// Registers the classes of one record file; returns how many were registered.
int RegisterRecordFile(QLibrary& library, const QString& file) {
    QFile input(kRecordFolder + file);
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(
        input.open(QIODevice::ReadOnly) ? input.readAll() : QByteArray(), &parseError);
    if (!document.isObject()) {
        ZT_DIAG_OUTPUT(L"zthost %hs: class record file \"%s\" is not readable: %s",
                       "PluginLoader::Load", file.toStdWString().c_str(),
                       parseError.errorString().toStdWString().c_str());
        return 0;
    }
    int registered = 0;
    for (const QJsonValue& value : document.object().value("classes").toArray()) {
        const SZtClassRecord record = ParseRecord(value.toObject());
        const QString symbol = "ZT_ConstructorFor" + QString::fromStdWString(record.className);
        const auto constructor =
            reinterpret_cast<ZT_CONSTRUCTOR>(library.resolve(symbol.toLatin1().constData()));
        if (record.className.empty() || !constructor) {
            ZT_DIAG_OUTPUT(L"zthost %hs: class \"%s\" skipped: no exported %s",
                           "PluginLoader::Load", record.className.c_str(),
                           symbol.toStdWString().c_str());
            continue;
        }
        if (ClassRegistry::Instance().Register(record, constructor) == 0) {
            ++registered;
        }
    }
    return registered;
}

}  // namespace

PluginLoader& PluginLoader::Instance() {
    // Never destroyed: plug-in objects torn down at exit may still call in.
    static PluginLoader* const loader = new PluginLoader;
    return *loader;
}

int PluginLoader::Load(const std::wstring& path, std::wstring* error) {
    std::lock_guard lock(m_mutex);
    QLibrary library(QString::fromStdWString(path));
    const QSet<QString> before = RecordFiles();
    if (!library.load()) {
        const std::wstring reason = library.errorString().toStdWString();
        ZT_DIAG_OUTPUT(L"zthost %hs: cannot load \"%s\": %s", "PluginLoader::Load", path.c_str(),
                       reason.c_str());
        if (error) {
            *error = reason;
        }
        return -1;
    }
    const std::wstring key = QFileInfo(library.fileName()).canonicalFilePath().toStdWString();
    auto known = m_recordFiles.find(key);
    if (known == m_recordFiles.end()) {
        std::vector<std::wstring> files;
        for (const QString& file : RecordFiles() - before) {
            files.push_back(file.toStdWString());
        }
        known = m_recordFiles.emplace(key, files).first;
    }
    int registered = 0;
    for (const std::wstring& file : known->second) {
        registered += RegisterRecordFile(library, QString::fromStdWString(file));
    }
    ZT_DIAG_OUTPUT(L"zthost %hs: \"%s\" loaded, %d classes registered", "PluginLoader::Load",
                   path.c_str(), registered);
    return registered;
}

namespace zthost {

int LoadPluginLibrary(const std::wstring& path, std::wstring* error) {
    return PluginLoader::Instance().Load(path, error);
}

}  // namespace zthost
