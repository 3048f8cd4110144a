// Named references: CZtNamedReference on a process-wide table of counters.
#include "namedreferences.h"

#include "zt/zt_log.h"
#include "zt/zt_util.h"
#include "zthost/zthost.h"

NamedReferences& NamedReferences::Instance() {
    // Never destroyed: plug-in objects torn down at exit may still call in.
    static NamedReferences* const references = new NamedReferences;
    return *references;
}

int NamedReferences::AddRef(const std::wstring& name) {
    std::lock_guard lock(m_mutex);
    return ++m_counts[name];
}

int NamedReferences::Release(const std::wstring& name) {
    std::lock_guard lock(m_mutex);
    const auto it = m_counts.find(name);
    if (it == m_counts.end()) {
        return 0;
    }
    const int count = --it->second;
    if (count == 0) {
        m_counts.erase(it);
    }
    return count;
}

int NamedReferences::Count(const std::wstring& name) {
    std::lock_guard lock(m_mutex);
    const auto it = m_counts.find(name);
    return it == m_counts.end() ? 0 : it->second;
}

void NamedReferences::Clear() {
    std::lock_guard lock(m_mutex);
    m_counts.clear();
}

int CZtNamedReference::AddRef(const wchar_t* name) {
    if (!name) {
        ZT_DIAG_OUTPUT(L"zthost %hs: null name", "CZtNamedReference::AddRef");
        return 0;
    }
    return NamedReferences::Instance().AddRef(name);
}

int CZtNamedReference::Release(const wchar_t* name) {
    if (!name) {
        ZT_DIAG_OUTPUT(L"zthost %hs: null name", "CZtNamedReference::Release");
        return 0;
    }
    return NamedReferences::Instance().Release(name);
}

namespace zthost {

int NamedReferenceCount(const std::wstring& name) {
    return NamedReferences::Instance().Count(name);
}

}  // namespace zthost
