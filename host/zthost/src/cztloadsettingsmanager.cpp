// CZtLoadSettingsManager: loads one settings file and hands out a reader of its tree.
#include "settingsstore.h"
#include "zt/zt_log.h"
#include "zt/zt_settings.h"

CZtLoadSettingsManager::CZtLoadSettingsManager() = default;
CZtLoadSettingsManager::~CZtLoadSettingsManager() = default;

int CZtLoadSettingsManager::PrepareLoading(const wchar_t* name, int count, const wchar_t* folder) {
    m_reader.reset();
    SettingsStore& store = SettingsStore::Instance();
    const QString path = store.PathOf(name, QString::fromWCharArray(folder ? folder : L""));
    if (path.isEmpty() || count != 1) {
        ZT_DIAG_OUTPUT(L"zthost %hs: bad settings file name \"%s\" or count %d.",
                       "CZtLoadSettingsManager::PrepareLoading", name ? name : L"", count);
        return -4;
    }
    CZtLiteVariantW tree;
    if (store.Load(path, &tree) != 0) {
        return 0;
    }
    m_reader = std::make_unique<CZtLiteVariantR>(tree);
    return 1;
}

CZtLiteVariantR* CZtLoadSettingsManager::GetLiteVariant(int index) {
    return index == 0 ? m_reader.get() : nullptr;
}
