// The registry store: on Linux an INI file read through QSettings, one group per key.
#include <QByteArray>
#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QUrl>
#include <mutex>

#include "zt/zt_registry.h"
#include "zthost/registry_store.h"

struct SZtRegKey {
    QString group;  // the key's QSettings group: root and path, '/'-separated
};

namespace {

// A key exists when its group holds this entry: QSettings keeps no empty groups.
const QString kKeyMarker = QStringLiteral(".key");

std::mutex g_mutex;  // serialises every access to the file and the location
QString g_location;  // guarded by g_mutex

QString LocationLocked() {
    if (g_location.isEmpty()) {
        return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) +
               QStringLiteral("/registry.ini");
    }
    return g_location;
}

// Path parts become groups; empty parts (doubled or outer backslashes) are dropped like Windows.
QString GroupOf(EZtRegRoot root, const wchar_t* path) {
    QString group = root == EZtRegRoot::LocalMachine ? QStringLiteral("HKEY_LOCAL_MACHINE")
                                                     : QStringLiteral("HKEY_CURRENT_USER");
    const QStringList parts =
        QString::fromWCharArray(path).split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        group += QLatin1Char('/') + QString::fromLatin1(QUrl::toPercentEncoding(part));
    }
    return group;
}

// Value names may hold any character; they are percent-encoded so no '/' makes a group.
QString EntryOf(const SZtRegKey* key, const wchar_t* name) {
    const QString plain = name ? QString::fromWCharArray(name) : QString();
    return key->group + QStringLiteral("/v_") + QString::fromLatin1(QUrl::toPercentEncoding(plain));
}

bool KeyExists(QSettings& settings, const QString& group) {
    return settings.contains(group + QLatin1Char('/') + kKeyMarker);
}

// Values are kept as "<type>:<hex bytes>", so type and size survive exactly.
bool Decode(const QString& text, ZT_DWORD* type, QByteArray* bytes) {
    const int colon = text.indexOf(QLatin1Char(':'));
    bool ok = false;
    const ZT_DWORD parsed = text.left(colon).toUInt(&ok);
    if (colon < 0 || !ok) {
        return false;
    }
    *type = parsed;
    *bytes = QByteArray::fromHex(text.mid(colon + 1).toLatin1());
    return true;
}

long Open(EZtRegRoot root, const wchar_t* path, ZT_HKEY* key, bool create) {
    if (!path || !key) {
        return ZT_ERROR_INVALID_PARAMETER;
    }
    std::lock_guard lock(g_mutex);
    QSettings settings(LocationLocked(), QSettings::IniFormat);
    const QString group = GroupOf(root, path);
    if (!KeyExists(settings, group)) {
        if (!create) {
            return ZT_ERROR_FILE_NOT_FOUND;
        }
        // Every key above it exists too, as on Windows.
        QString partial;
        for (const QString& part : group.split(QLatin1Char('/'))) {
            partial += (partial.isEmpty() ? QString() : QStringLiteral("/")) + part;
            settings.setValue(partial + QLatin1Char('/') + kKeyMarker, QString());
        }
        settings.sync();
    }
    *key = new SZtRegKey{group};
    return ZT_ERROR_SUCCESS;
}

}  // namespace

long ZT_RegOpenKey(EZtRegRoot root, const wchar_t* path, ZT_HKEY* key) {
    return Open(root, path, key, false);
}

long ZT_RegCreateKey(EZtRegRoot root, const wchar_t* path, ZT_HKEY* key) {
    return Open(root, path, key, true);
}

long ZT_RegCloseKey(ZT_HKEY key) {
    if (!key) {
        return ZT_ERROR_INVALID_PARAMETER;
    }
    delete key;
    return ZT_ERROR_SUCCESS;
}

long ZT_RegQueryValue(ZT_HKEY key, const wchar_t* name, ZT_DWORD* type, void* data,
                      ZT_DWORD* size) {
    if (!key || (data && !size)) {
        return ZT_ERROR_INVALID_PARAMETER;
    }
    std::lock_guard lock(g_mutex);
    QSettings settings(LocationLocked(), QSettings::IniFormat);
    if (!KeyExists(settings, key->group)) {
        return ZT_ERROR_KEY_DELETED;
    }
    const QVariant stored = settings.value(EntryOf(key, name));
    ZT_DWORD storedType = ZT_REG_NONE;
    QByteArray bytes;
    if (!stored.isValid() || !Decode(stored.toString(), &storedType, &bytes)) {
        return ZT_ERROR_FILE_NOT_FOUND;
    }
    if (type) {
        *type = storedType;
    }
    const auto needed = static_cast<ZT_DWORD>(bytes.size());
    if (data && *size < needed) {
        *size = needed;
        return ZT_ERROR_MORE_DATA;
    }
    if (data) {
        std::copy(bytes.begin(), bytes.end(), static_cast<char*>(data));
    }
    if (size) {
        *size = needed;
    }
    return ZT_ERROR_SUCCESS;
}

long ZT_RegSetValue(ZT_HKEY key, const wchar_t* name, ZT_DWORD type, const void* data,
                    ZT_DWORD size) {
    if (!key || (!data && size > 0)) {
        return ZT_ERROR_INVALID_PARAMETER;
    }
    std::lock_guard lock(g_mutex);
    QSettings settings(LocationLocked(), QSettings::IniFormat);
    if (!KeyExists(settings, key->group)) {
        return ZT_ERROR_KEY_DELETED;
    }
    const QByteArray bytes(static_cast<const char*>(data), static_cast<int>(size));
    settings.setValue(EntryOf(key, name), QString::number(type) + QLatin1Char(':') +
                                              QString::fromLatin1(bytes.toHex()));
    settings.sync();
    return ZT_ERROR_SUCCESS;
}

long ZT_RegDeleteValue(ZT_HKEY key, const wchar_t* name) {
    if (!key) {
        return ZT_ERROR_INVALID_PARAMETER;
    }
    std::lock_guard lock(g_mutex);
    QSettings settings(LocationLocked(), QSettings::IniFormat);
    const QString entry = EntryOf(key, name);
    if (!KeyExists(settings, key->group)) {
        return ZT_ERROR_KEY_DELETED;
    }
    if (!settings.contains(entry)) {
        return ZT_ERROR_FILE_NOT_FOUND;
    }
    settings.remove(entry);
    settings.sync();
    return ZT_ERROR_SUCCESS;
}

long ZT_RegDeleteTree(EZtRegRoot root, const wchar_t* path) {
    if (!path) {
        return ZT_ERROR_INVALID_PARAMETER;
    }
    std::lock_guard lock(g_mutex);
    QSettings settings(LocationLocked(), QSettings::IniFormat);
    const QString group = GroupOf(root, path);
    if (!KeyExists(settings, group)) {
        return ZT_ERROR_FILE_NOT_FOUND;
    }
    settings.remove(group);
    settings.sync();
    return ZT_ERROR_SUCCESS;
}

namespace zthost {

void SetRegistryLocation(const std::wstring& iniFile) {
    std::lock_guard lock(g_mutex);
    g_location = QString::fromStdWString(iniFile);
}

std::wstring RegistryLocation() {
    std::lock_guard lock(g_mutex);
    return LocationLocked().toStdWString();
}

}  // namespace zthost
