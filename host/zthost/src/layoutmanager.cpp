// The layout manager of the reference host and its control functions.
#include "layoutmanager.h"

#include <algorithm>

#include "zthost/layout.h"

namespace {

ZT_HGUIELEMENT Get(const std::map<ZT_DWORD, std::unique_ptr<SZtGUIElement>>& elements,
                   ZT_DWORD id) {
    const auto it = elements.find(id);
    return it == elements.end() ? nullptr : it->second.get();
}

}  // namespace

LayoutManager& LayoutManager::Instance() {
    // Never destroyed: devices released at exit may still reach it.
    static LayoutManager* const instance = new LayoutManager;
    return *instance;
}

ZT_HGUIELEMENT LayoutManager::GetLogDevGUIElement(ZT_DWORD logicalDeviceId) {
    std::lock_guard lock(m_mutex);
    return Get(m_elements, logicalDeviceId);
}

ZT_HGUIELEMENT LayoutManager::GetPhysDevGUIElement(ZT_DWORD physicalDeviceId) {
    std::lock_guard lock(m_mutex);
    return Get(m_physicalElements, physicalDeviceId);
}

// Compares pointers only: a handle from elsewhere is never dereferenced.
bool LayoutManager::IsKnownLocked(ZT_HGUIELEMENT element) const {
    const auto holds = [element](const Elements& elements) {
        return element && std::any_of(elements.begin(), elements.end(), [element](const auto& e) {
                   return e.second.get() == element;
               });
    };
    return holds(m_elements) || holds(m_physicalElements);
}

bool LayoutManager::FindLocked(ZT_HGUIELEMENT element,
                               std::map<std::wstring, Layout>::iterator* layout,
                               Layout::iterator* place) {
    for (auto it = m_layouts.begin(); it != m_layouts.end(); ++it) {
        const auto found = std::find(it->second.begin(), it->second.end(), element);
        if (found != it->second.end()) {
            *layout = it;
            *place = found;
            return true;
        }
    }
    return false;
}

int LayoutManager::SetUserName(ZT_HGUIELEMENT element, const wchar_t* name) {
    std::lock_guard lock(m_mutex);
    if (!IsKnownLocked(element) || !name) {
        return -4;
    }
    if (m_locked) {
        return -8;
    }
    element->userName = name;
    return 0;
}

int LayoutManager::GetElementPlace(ZT_HGUIELEMENT element, CZtStringW* layoutName, int* position) {
    std::lock_guard lock(m_mutex);
    if (!IsKnownLocked(element) || !layoutName || !position) {
        return -4;
    }
    std::map<std::wstring, Layout>::iterator layout;
    Layout::iterator place;
    if (!FindLocked(element, &layout, &place)) {
        return -5;
    }
    *layoutName = layout->first;
    *position = static_cast<int>(place - layout->second.begin());
    return 0;
}

int LayoutManager::RemoveElement(ZT_HGUIELEMENT element) {
    std::lock_guard lock(m_mutex);
    if (!IsKnownLocked(element)) {
        return -4;
    }
    std::map<std::wstring, Layout>::iterator layout;
    Layout::iterator place;
    if (!FindLocked(element, &layout, &place)) {
        return -5;
    }
    if (m_locked) {
        return -8;
    }
    layout->second.erase(place);
    return 0;
}

int LayoutManager::InsertElement(ZT_HGUIELEMENT element, const wchar_t* layoutName, int position) {
    std::lock_guard lock(m_mutex);
    if (!IsKnownLocked(element) || !layoutName || position < 0) {
        return -4;
    }
    if (m_locked) {
        return -8;
    }
    std::map<std::wstring, Layout>::iterator shown;
    Layout::iterator place;
    if (FindLocked(element, &shown, &place)) {
        return -10;
    }
    Layout& layout = m_layouts[layoutName];
    const size_t index = std::min(static_cast<size_t>(position), layout.size());
    layout.insert(layout.begin() + static_cast<std::ptrdiff_t>(index), element);
    return 0;
}

void LayoutManager::AddTo(Elements* elements, ZT_DWORD id, SZtGUIElement element, Layout* layout) {
    auto& slot = (*elements)[id];
    if (!slot) {
        slot = std::make_unique<SZtGUIElement>(std::move(element));
        layout->push_back(slot.get());
    }
}

void LayoutManager::AddElement(ZT_DWORD logicalDeviceId, const std::wstring& layout) {
    std::lock_guard lock(m_mutex);
    AddTo(&m_elements, logicalDeviceId, SZtGUIElement{logicalDeviceId, 0, {}}, &m_layouts[layout]);
}

void LayoutManager::AddPhysicalElement(ZT_DWORD physicalDeviceId, const std::wstring& layout) {
    std::lock_guard lock(m_mutex);
    AddTo(&m_physicalElements, physicalDeviceId, SZtGUIElement{0, physicalDeviceId, {}},
          &m_layouts[layout]);
}

std::vector<std::wstring> LayoutManager::Contents(const std::wstring& layout) {
    std::lock_guard lock(m_mutex);
    std::vector<std::wstring> contents;
    const auto it = m_layouts.find(layout);
    if (it != m_layouts.end()) {
        for (const SZtGUIElement* element : it->second) {
            contents.push_back(element->logicalDeviceId != 0
                                   ? L"L" + std::to_wstring(element->logicalDeviceId)
                                   : L"P" + std::to_wstring(element->physicalDeviceId));
        }
    }
    return contents;
}

std::wstring LayoutManager::UserName(ZT_DWORD logicalDeviceId) {
    std::lock_guard lock(m_mutex);
    const ZT_HGUIELEMENT element = Get(m_elements, logicalDeviceId);
    return element ? element->userName : std::wstring();
}

void LayoutManager::SetLocked(bool locked) {
    std::lock_guard lock(m_mutex);
    m_locked = locked;
}

void LayoutManager::Clear() {
    std::lock_guard lock(m_mutex);
    m_layouts.clear();
    m_elements.clear();
    m_physicalElements.clear();
    m_locked = false;
    m_activeElement = nullptr;
}

// ---- Control elements in tab containers
// ----------------------------------------------------------

namespace {

CZtTabContainer* ContainerOf(CZtQtGUIControlElement* element) {
    CZtGUIElement* parent = element ? element->GetParentElement() : nullptr;
    return parent ? qobject_cast<CZtTabContainer*>(parent->FindContainer("CZtTabContainer"))
                  : nullptr;
}

}  // namespace

void LayoutManager::AddContainer(CZtTabContainer* container) {
    m_containers.push_back(container);
}

void LayoutManager::RemoveContainer(CZtTabContainer* container) {
    m_containers.erase(std::remove(m_containers.begin(), m_containers.end(), container),
                       m_containers.end());
}

int LayoutManager::ChangeableContainer(CZtQtGUIControlElement* element,
                                       CZtTabContainer** container) {
    *container = ContainerOf(element);
    if (!*container) {
        return -4;
    }
    return m_locked ? -8 : 0;
}

int LayoutManager::ShowElementAsSaved(CZtQtGUIControlElement* element) {
    CZtTabContainer* container = nullptr;
    if (const int refused = ChangeableContainer(element, &container)) {
        return refused;
    }
    if (!container->IsShown(element)) {
        container->AddElement(element, container->GetSavedIndex(element));
    }
    container->show();
    return 0;
}

int LayoutManager::SetActiveElement(CZtQtGUIControlElement* element) {
    CZtTabContainer* container = nullptr;
    if (const int refused = ChangeableContainer(element, &container)) {
        return refused;
    }
    m_activeElement = element;
    container->UpdateActiveTab();
    return 0;
}

CZtQtGUIControlElement* LayoutManager::GetActiveVisibleElement() {
    CZtQtGUIControlElement* element = m_activeElement;
    QWidget* window = element ? element->GetNativeWindow() : nullptr;
    CZtTabContainer* container = ContainerOf(element);
    const bool visible = window && container && container->IsShown(element) &&
                         container->GetActiveElement() == element && !window->isHidden();
    return visible ? element : nullptr;
}

bool LayoutManager::SuspendLayoutChanges(bool suspend) {
    const bool previous = m_suspended;
    m_suspended = suspend;
    for (CZtTabContainer* container : m_containers) {
        container->setUpdatesEnabled(!suspend);
    }
    return previous;
}

IZtLayoutManager* ZT_GetLayoutManager() {
    return &LayoutManager::Instance();
}

namespace zthost {

void AddLayoutElement(ZT_DWORD logicalDeviceId, const std::wstring& layout) {
    LayoutManager::Instance().AddElement(logicalDeviceId, layout);
}

void AddPhysicalLayoutElement(ZT_DWORD physicalDeviceId, const std::wstring& layout) {
    LayoutManager::Instance().AddPhysicalElement(physicalDeviceId, layout);
}

std::vector<std::wstring> LayoutContents(const std::wstring& layout) {
    return LayoutManager::Instance().Contents(layout);
}

std::wstring LayoutElementUserName(ZT_DWORD logicalDeviceId) {
    return LayoutManager::Instance().UserName(logicalDeviceId);
}

void SetLayoutLocked(bool locked) {
    LayoutManager::Instance().SetLocked(locked);
}

}  // namespace zthost
