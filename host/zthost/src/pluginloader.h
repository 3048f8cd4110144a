// PluginLoader: loads plug-in libraries and registers the classes their resources describe.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

// Thread-safe.
class PluginLoader {
public:
    static PluginLoader& Instance();

    // The number of classes registered, or -1 with error filled.
    int Load(const std::wstring& path, std::wstring* error);

private:
    // The record files under ":/ztclasses/" that the library brought when it was first loaded;
    // a library loaded again brings nothing new, so its files are remembered.
    std::map<std::wstring, std::vector<std::wstring>> m_recordFiles;
    std::mutex m_mutex;
};
