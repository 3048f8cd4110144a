// The layout manager of the reference host and its control functions.
#include "layoutmanager.h"

#include "zthost/layout.h"

LayoutManager& LayoutManager::Instance() {
    // Never destroyed: devices released at exit may still reach it.
    static LayoutManager* const instance = new LayoutManager;
    return *instance;
}

ZT_HGUIELEMENT LayoutManager::GetLogDevGUIElement(ZT_DWORD logicalDeviceId) {
    std::lock_guard lock(m_mutex);
    const auto it = m_elements.find(logicalDeviceId);
    return it == m_elements.end() ? nullptr : it->second.get();
}

int LayoutManager::SetUserName(ZT_HGUIELEMENT element, const wchar_t* name) {
    std::lock_guard lock(m_mutex);
    if (!element || !name) {
        return -4;
    }
    const auto it = m_elements.find(element->logicalDeviceId);
    if (it == m_elements.end() || it->second.get() != element) {
        return -4;
    }
    if (m_locked) {
        return -8;
    }
    element->userName = name;
    return 0;
}

void LayoutManager::AddElement(ZT_DWORD logicalDeviceId) {
    std::lock_guard lock(m_mutex);
    auto& element = m_elements[logicalDeviceId];
    if (!element) {
        element = std::make_unique<SZtGUIElement>(SZtGUIElement{logicalDeviceId, {}});
    }
}

std::wstring LayoutManager::UserName(ZT_DWORD logicalDeviceId) {
    std::lock_guard lock(m_mutex);
    const auto it = m_elements.find(logicalDeviceId);
    return it == m_elements.end() ? std::wstring() : it->second->userName;
}

void LayoutManager::SetLocked(bool locked) {
    std::lock_guard lock(m_mutex);
    m_locked = locked;
}

void LayoutManager::Clear() {
    std::lock_guard lock(m_mutex);
    m_elements.clear();
    m_locked = false;
}

IZtLayoutManager* ZT_GetLayoutManager() {
    return &LayoutManager::Instance();
}

namespace zthost {

void AddLayoutElement(ZT_DWORD logicalDeviceId) {
    LayoutManager::Instance().AddElement(logicalDeviceId);
}

std::wstring LayoutElementUserName(ZT_DWORD logicalDeviceId) {
    return LayoutManager::Instance().UserName(logicalDeviceId);
}

void SetLayoutLocked(bool locked) {
    LayoutManager::Instance().SetLocked(locked);
}

}  // namespace zthost
