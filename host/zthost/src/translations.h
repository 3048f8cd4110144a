// Translations: the host's table of user-text translations and the modules that handed theirs in.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

// Thread-safe.
class Translations {
public:
    static Translations& Instance();

    std::wstring Translate(const std::wstring& text);
    void Set(const std::wstring& text, const std::wstring& translated);
    void AddModule(const std::string& moduleName);
    std::vector<std::string> Modules();
    void Clear();

private:
    std::mutex m_mutex;
    std::map<std::wstring, std::wstring> m_table;
    std::vector<std::string> m_modules;
};
