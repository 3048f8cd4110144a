// ClassRegistry: the host's class records and constructors, by class name.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "zt/zt_class.h"

// Thread-safe.
class ClassRegistry {
public:
    static ClassRegistry& Instance();

    // 0, -4 for an empty name or null constructor, -10 when the class is already registered.
    int Register(const SZtClassRecord& record, ZT_CONSTRUCTOR constructor);
    // 0, -5 when the class is not registered.
    int Unregister(const std::wstring& className);
    // Null when the class is not registered.
    ZT_CONSTRUCTOR Constructor(const std::wstring& className);
    bool Find(const std::wstring& className, SZtClassRecord* record);
    std::vector<std::wstring> Names();
    void Clear();

private:
    struct Entry {
        SZtClassRecord record;
        ZT_CONSTRUCTOR constructor = nullptr;
    };

    std::mutex m_mutex;
    std::map<std::wstring, Entry> m_classes;
};
