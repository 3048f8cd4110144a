// SearchPath: the folders where the host looks up files (libraries, resources) by name.
#pragma once

#include <mutex>
#include <string>
#include <vector>

// Thread-safe.
class SearchPath {
public:
    static SearchPath& Instance();
    // The folder of the running executable.
    static std::vector<std::wstring> DefaultFolders();

    // 0 when found (path filled), -5 when not found, -4 for null arguments or a buffer that
    // cannot take the path.
    int Find(const wchar_t* fileName, wchar_t* path, int pathSize);
    void SetFolders(const std::vector<std::wstring>& folders);
    void Prepend(const std::wstring& folder);
    std::vector<std::wstring> Folders();

private:
    SearchPath() : m_folders(DefaultFolders()) {}

    std::mutex m_mutex;
    std::vector<std::wstring> m_folders;
};
