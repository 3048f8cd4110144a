// The host's search path: ZT_SearchPath over the configured folders, in order.
#include "searchpath.h"

#include <algorithm>
#include <cwchar>
#include <filesystem>
#include <system_error>

#if defined(_WIN32)
#define NOMINMAX
#include <windows.h>
#endif

#include "zt/zt_log.h"
#include "zt/zt_util.h"
#include "zthost/zthost.h"

namespace fs = std::filesystem;

SearchPath& SearchPath::Instance() {
    // Never destroyed: plug-in objects torn down at exit may still call in.
    static SearchPath* const searchPath = new SearchPath;
    return *searchPath;
}

std::vector<std::wstring> SearchPath::DefaultFolders() {
    std::error_code error;
#if defined(_WIN32)
    wchar_t module[ZT_MAX_PATH] = {};
    GetModuleFileNameW(nullptr, module, ZT_MAX_PATH);
    const fs::path executable(module);
#else
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
#endif
    if (error || executable.empty()) {
        return {};
    }
    return {executable.parent_path().wstring()};
}

int SearchPath::Find(const wchar_t* fileName, wchar_t* path, int pathSize) {
    if (!fileName || !path || pathSize <= 0) {
        return -4;
    }
    const fs::path name(fileName);
    std::vector<fs::path> candidates;
    if (name.is_absolute()) {
        candidates.push_back(name);
    } else {
        for (const std::wstring& folder : Folders()) {
            candidates.push_back(fs::path(folder) / name);
        }
    }
    std::error_code error;
    for (const fs::path& candidate : candidates) {
        if (!fs::is_regular_file(candidate, error)) {
            continue;
        }
        const std::wstring found = candidate.lexically_normal().wstring();
        if (found.size() + 1 > static_cast<size_t>(std::min(pathSize, ZT_MAX_PATH))) {
            ZT_DIAG_OUTPUT(L"zthost %hs: \"%s\" does not fit %d characters", "ZT_SearchPath",
                           found.c_str(), pathSize);
            return -4;
        }
        std::wcsncpy(path, found.c_str(), found.size() + 1);
        return 0;
    }
    return -5;
}

void SearchPath::SetFolders(const std::vector<std::wstring>& folders) {
    std::lock_guard lock(m_mutex);
    m_folders = folders;
}

void SearchPath::Prepend(const std::wstring& folder) {
    std::lock_guard lock(m_mutex);
    m_folders.insert(m_folders.begin(), folder);
}

std::vector<std::wstring> SearchPath::Folders() {
    std::lock_guard lock(m_mutex);
    return m_folders;
}

int ZT_SearchPath(const wchar_t* fileName, wchar_t* path, int pathSize) {
    return SearchPath::Instance().Find(fileName, path, pathSize);
}

namespace zthost {

void SetSearchFolders(const std::vector<std::wstring>& folders) {
    SearchPath::Instance().SetFolders(folders);
}

void PrependSearchFolder(const std::wstring& folder) {
    SearchPath::Instance().Prepend(folder);
}

std::vector<std::wstring> SearchFolders() {
    return SearchPath::Instance().Folders();
}

}  // namespace zthost
