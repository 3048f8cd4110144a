// LayoutManager: the reference host's GUI elements, one per logical device that has controls.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "zt/zt_layout.h"

struct SZtGUIElement {
    ZT_DWORD logicalDeviceId = 0;
    std::wstring userName;
};

// Thread-safe, although plug-ins call it on the GUI thread only: tests configure it from theirs.
class LayoutManager : public IZtLayoutManager {
public:
    static LayoutManager& Instance();

    ZT_HGUIELEMENT GetLogDevGUIElement(ZT_DWORD logicalDeviceId) override;
    int SetUserName(ZT_HGUIELEMENT element, const wchar_t* name) override;

    void AddElement(ZT_DWORD logicalDeviceId);
    std::wstring UserName(ZT_DWORD logicalDeviceId);
    void SetLocked(bool locked);
    // Forgets every element and unlocks.
    void Clear();

private:
    std::mutex m_mutex;
    std::map<ZT_DWORD, std::unique_ptr<SZtGUIElement>> m_elements;  // guarded by m_mutex
    bool m_locked = false;                                          // guarded by m_mutex
};
