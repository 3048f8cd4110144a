// The class registry: class records and constructors by name, and its control functions.
#include "classregistry.h"

#include "zt/zt_log.h"
#include "zthost/zthost.h"

ClassRegistry& ClassRegistry::Instance() {
    // Never destroyed: plug-in objects torn down at exit may still call in.
    static ClassRegistry* const registry = new ClassRegistry;
    return *registry;
}

int ClassRegistry::Register(const SZtClassRecord& record, ZT_CONSTRUCTOR constructor) {
    if (record.className.empty() || !constructor) {
        ZT_DIAG_OUTPUT(L"zthost %hs: refused class \"%s\": empty name or null constructor",
                       "ClassRegistry::Register", record.className.c_str());
        return -4;
    }
    std::lock_guard lock(m_mutex);
    if (!m_classes.try_emplace(record.className, Entry{record, constructor}).second) {
        ZT_DIAG_OUTPUT(L"zthost %hs: class \"%s\" is already registered", "ClassRegistry::Register",
                       record.className.c_str());
        return -10;
    }
    return 0;
}

int ClassRegistry::Unregister(const std::wstring& className) {
    std::lock_guard lock(m_mutex);
    if (m_classes.erase(className) == 0) {
        ZT_DIAG_OUTPUT(L"zthost %hs: class \"%s\" is not registered", "ClassRegistry::Unregister",
                       className.c_str());
        return -5;
    }
    return 0;
}

ZT_CONSTRUCTOR ClassRegistry::Constructor(const std::wstring& className) {
    std::lock_guard lock(m_mutex);
    const auto it = m_classes.find(className);
    return it == m_classes.end() ? nullptr : it->second.constructor;
}

bool ClassRegistry::Find(const std::wstring& className, SZtClassRecord* record) {
    std::lock_guard lock(m_mutex);
    const auto it = m_classes.find(className);
    if (it == m_classes.end()) {
        return false;
    }
    if (record) {
        *record = it->second.record;
    }
    return true;
}

std::vector<std::wstring> ClassRegistry::Names() {
    std::lock_guard lock(m_mutex);
    std::vector<std::wstring> names;
    for (const auto& [name, entry] : m_classes) {
        names.push_back(name);
    }
    return names;
}

void ClassRegistry::Clear() {
    std::lock_guard lock(m_mutex);
    m_classes.clear();
}

namespace zthost {

int RegisterClass(const SZtClassRecord& record, ZT_CONSTRUCTOR constructor) {
    return ClassRegistry::Instance().Register(record, constructor);
}

int UnregisterClass(const std::wstring& className) {
    return ClassRegistry::Instance().Unregister(className);
}

bool FindClassRecord(const std::wstring& className, SZtClassRecord* record) {
    return ClassRegistry::Instance().Find(className, record);
}

std::vector<std::wstring> RegisteredClassNames() {
    return ClassRegistry::Instance().Names();
}

}  // namespace zthost
