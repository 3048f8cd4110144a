// SettingsStore: the settings files of the host, read and written whole.
#pragma once

#include <QString>
#include <mutex>

class CZtLiteVariantW;

// Thread-safe. Saves are serialised, so that keeping a damaged file aside and replacing it is one
// step for the whole process.
class SettingsStore {
public:
    static SettingsStore& Instance();

    void SetLocation(const QString& folder);
    QString Location();
    // The file for a settings name in folder (the location when folder is empty): "<name>.bin",
    // or name itself when it ends in ".bin". Empty for a null or empty name or one holding a path
    // separator.
    QString PathOf(const wchar_t* name, const QString& folder);

    // 0, -5 when the file is missing, -6 when it does not read (logged); tree is left empty then.
    int Load(const QString& path, CZtLiteVariantW* tree);
    // 0, -8 when the file cannot be written (logged): the file on disk is then left as it was.
    int Save(const QString& path, const CZtLiteVariantW& tree);

private:
    SettingsStore() = default;
    bool KeepAsideIfDamaged(const QString& path);

    std::mutex m_locationMutex;
    QString m_location;  // guarded by m_locationMutex
    std::mutex m_saveMutex;
};
