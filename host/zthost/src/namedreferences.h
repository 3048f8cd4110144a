// NamedReferences: process-wide reference counters keyed by name.
#pragma once

#include <map>
#include <mutex>
#include <string>

// Thread-safe.
class NamedReferences {
public:
    static NamedReferences& Instance();

    int AddRef(const std::wstring& name);
    // A name at zero (or never seen) stays at zero.
    int Release(const std::wstring& name);
    int Count(const std::wstring& name);
    void Clear();

private:
    std::mutex m_mutex;
    std::map<std::wstring, int> m_counts;
};
