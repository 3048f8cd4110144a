// Translations: ZT_GetTranslation, ZT_RegisterTranslations and the host's translation table.
#include "translations.h"

#include "zt/zt_log.h"
#include "zt/zt_util.h"
#include "zthost/zthost.h"

Translations& Translations::Instance() {
    // Never destroyed: plug-in objects torn down at exit may still call in.
    static Translations* const translations = new Translations;
    return *translations;
}

std::wstring Translations::Translate(const std::wstring& text) {
    std::lock_guard lock(m_mutex);
    const auto it = m_table.find(text);
    return it == m_table.end() ? text : it->second;
}

void Translations::Set(const std::wstring& text, const std::wstring& translated) {
    std::lock_guard lock(m_mutex);
    m_table[text] = translated;
}

void Translations::AddModule(const std::string& moduleName) {
    std::lock_guard lock(m_mutex);
    m_modules.push_back(moduleName);
}

std::vector<std::string> Translations::Modules() {
    std::lock_guard lock(m_mutex);
    return m_modules;
}

void Translations::Clear() {
    std::lock_guard lock(m_mutex);
    m_table.clear();
    m_modules.clear();
}

CZtStringW ZT_GetTranslation(const wchar_t* text) {
    return text ? CZtStringW(Translations::Instance().Translate(text)) : CZtStringW();
}

int ZT_RegisterTranslations(const char* moduleName, const void* data, unsigned size) {
    if (!moduleName) {
        ZT_DIAG_OUTPUT(L"zthost %hs: null module name", "ZT_RegisterTranslations");
        return -4;
    }
    // The reference host translates through its table only; the module's data is not parsed.
    Translations::Instance().AddModule(moduleName);
    return 0;
}

namespace zthost {

void SetTranslation(const std::wstring& text, const std::wstring& translated) {
    Translations::Instance().Set(text, translated);
}

void ClearTranslations() {
    Translations::Instance().Clear();
}

std::vector<std::string> TranslationModules() {
    return Translations::Instance().Modules();
}

}  // namespace zthost
