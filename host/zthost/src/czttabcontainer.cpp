// CZtTabContainer: the host's tab container of control elements.
#include <algorithm>

#include "layoutmanager.h"
#include "zt/zt_guielement.h"

CZtTabContainer::CZtTabContainer(const wchar_t* name, QWidget* parent)
    : QTabWidget(parent), m_name(name ? name : L"") {
    setObjectName(QStringLiteral("CZtTabContainer"));
    LayoutManager::Instance().AddContainer(this);
}

// The elements own their windows: they leave with the container, not die with it.
CZtTabContainer::~CZtTabContainer() {
    for (const SZtPlace& place : m_saved) {
        if (place.element && IsShown(place.element)) {
            QWidget* window = place.element->GetNativeWindow();
            removeTab(indexOf(window));
            window->setParent(nullptr);
            window->hide();
        }
    }
    LayoutManager::Instance().RemoveContainer(this);
}

int CZtTabContainer::IndexOf(const CZtQtGUIControlElement* element) const {
    QWidget* window = element ? element->GetNativeWindow() : nullptr;
    return window ? indexOf(window) : -1;
}

void CZtTabContainer::Remember(CZtQtGUIControlElement* element, int index) {
    for (SZtPlace& place : m_saved) {
        if (place.element == element) {
            place.index = index;
            return;
        }
    }
    m_saved.push_back({element, index});
}

int CZtTabContainer::AddElement(CZtQtGUIControlElement* element, int index) {
    if (!element || !element->GetNativeWindow()) {
        return -4;
    }
    if (IsShown(element)) {
        return -10;
    }
    QWidget* window = element->GetNativeWindow();
    const int at = insertTab(index < 0 ? count() : index, window,
                             QString::fromStdWString(element->GetCaption().Str()));
    Remember(element, at);
    ApplySizeBounds(element);
    window->show();
    return 0;
}

int CZtTabContainer::RemoveElement(CZtQtGUIControlElement* element) {
    const int index = IndexOf(element);
    if (index < 0) {
        return -5;
    }
    Remember(element, index);
    removeTab(index);
    QWidget* window = element->GetNativeWindow();
    window->setParent(nullptr);
    window->hide();
    return 0;
}

bool CZtTabContainer::IsShown(const CZtQtGUIControlElement* element) const {
    return IndexOf(element) >= 0;
}

int CZtTabContainer::GetSavedIndex(const CZtQtGUIControlElement* element) const {
    const int shown = IndexOf(element);
    if (shown >= 0) {
        return shown;
    }
    const auto it = std::find_if(m_saved.begin(), m_saved.end(),
                                 [element](const SZtPlace& p) { return p.element == element; });
    return it == m_saved.end() ? -1 : it->index;
}

QString CZtTabContainer::GetTabTitle(const CZtQtGUIControlElement* element) const {
    const int index = IndexOf(element);
    return index < 0 ? QString() : tabText(index);
}

void CZtTabContainer::RefreshTabTitles() {
    for (const SZtPlace& place : m_saved) {
        const int index = IndexOf(place.element);
        if (index >= 0) {
            setTabText(index, QString::fromStdWString(place.element->GetCaption().Str()));
        }
    }
}

void CZtTabContainer::UpdateActiveTab() {
    const int index = IndexOf(LayoutManager::Instance().GetActiveElement());
    if (index >= 0) {
        setCurrentIndex(index);
    }
}

CZtQtGUIControlElement* CZtTabContainer::GetActiveElement() const {
    QWidget* current = currentWidget();
    for (const SZtPlace& place : m_saved) {
        if (place.element && current && place.element->GetNativeWindow() == current) {
            return place.element;
        }
    }
    return nullptr;
}

void CZtTabContainer::ApplySizeBounds(CZtQtGUIControlElement* element) {
    QWidget* window = element ? element->GetNativeWindow() : nullptr;
    if (!window || !IsShown(element)) {
        return;
    }
    window->setMinimumSize(element->GetMinimumSize());
    window->setMaximumSize(element->GetMaximumSize());
    window->updateGeometry();
}
