// LayoutManager: the reference host's GUI elements, one per device that has controls, in named
// layouts.
#pragma once

#include <QPointer>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "zt/zt_guielement.h"
#include "zt/zt_layout.h"

// Shows the controls of a logical device, or of all the logical devices of a physical device
// (logicalDeviceId 0).
struct SZtGUIElement {
    ZT_DWORD logicalDeviceId = 0;
    ZT_DWORD physicalDeviceId = 0;
    std::wstring userName;
};

// Thread-safe for the elements of logical and physical devices, although plug-ins call it on the
// GUI thread only: tests configure it from theirs. The control elements and tab containers are GUI
// thread only.
class LayoutManager : public IZtLayoutManager {
public:
    static LayoutManager& Instance();

    ZT_HGUIELEMENT GetLogDevGUIElement(ZT_DWORD logicalDeviceId) override;
    int SetUserName(ZT_HGUIELEMENT element, const wchar_t* name) override;
    ZT_HGUIELEMENT GetPhysDevGUIElement(ZT_DWORD physicalDeviceId) override;
    int GetElementPlace(ZT_HGUIELEMENT element, CZtStringW* layoutName, int* position) override;
    int RemoveElement(ZT_HGUIELEMENT element) override;
    int InsertElement(ZT_HGUIELEMENT element, const wchar_t* layoutName, int position) override;
    int ShowElementAsSaved(CZtQtGUIControlElement* element) override;
    int SetActiveElement(CZtQtGUIControlElement* element) override;
    CZtQtGUIControlElement* GetActiveVisibleElement() override;
    bool SuspendLayoutChanges(bool suspend) override;

    CZtQtGUIControlElement* GetActiveElement() const { return m_activeElement; }
    void AddContainer(CZtTabContainer* container);
    void RemoveContainer(CZtTabContainer* container);

    void AddElement(ZT_DWORD logicalDeviceId, const std::wstring& layout);
    void AddPhysicalElement(ZT_DWORD physicalDeviceId, const std::wstring& layout);
    std::vector<std::wstring> Contents(const std::wstring& layout);
    std::wstring UserName(ZT_DWORD logicalDeviceId);
    void SetLocked(bool locked);
    // Forgets every element and layout and unlocks.
    void Clear();

private:
    using Elements = std::map<ZT_DWORD, std::unique_ptr<SZtGUIElement>>;
    using Layout = std::vector<SZtGUIElement*>;

    bool IsKnownLocked(ZT_HGUIELEMENT element) const;
    // The layout that shows the element and the element's place in it; false when none does.
    bool FindLocked(ZT_HGUIELEMENT element, std::map<std::wstring, Layout>::iterator* layout,
                    Layout::iterator* place);
    // The tab container the element lies in: 0; -4 for none; -8 while the layout is locked.
    int ChangeableContainer(CZtQtGUIControlElement* element, CZtTabContainer** container);
    static void AddTo(Elements* elements, ZT_DWORD id, SZtGUIElement element, Layout* layout);

    std::mutex m_mutex;
    // All guarded by m_mutex. Elements live until Clear; layouts borrow them.
    Elements m_elements;          // by logical device id
    Elements m_physicalElements;  // by physical device id
    std::map<std::wstring, Layout> m_layouts;
    std::atomic<bool> m_locked{false};

    // GUI thread.
    std::vector<CZtTabContainer*> m_containers;
    QPointer<CZtQtGUIControlElement> m_activeElement;
    bool m_suspended = false;
};
