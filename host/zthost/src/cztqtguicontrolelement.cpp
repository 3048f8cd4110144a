// CZtGUIElement and CZtQtGUIControlElement: the host's layout elements and device control
// elements.
#include <QApplication>
#include <QWidget>
#include <cmath>

#include "guistate.h"
#include "zt/zt_gui.h"
#include "zt/zt_guielement.h"

CZtGUIElement::~CZtGUIElement() = default;

QObject* CZtGUIElement::FindContainer(const char* className) {
    for (CZtGUIElement* element = this; element; element = element->GetParentElement()) {
        QObject* object = element->ElementObject();
        if (object && object->inherits(className)) {
            return object;
        }
    }
    return nullptr;
}

CZtQtGUIControlElement::CZtQtGUIControlElement(QObject* parent) : QObject(parent) {}

CZtQtGUIControlElement::~CZtQtGUIControlElement() {
    CZtQtGUIControlElement::DestroyUI();
}

void CZtQtGUIControlElement::setupUi() {
    if (m_nativeWindow) {
        return;
    }
    m_nativeWindow = new QWidget;
    m_nativeWindow->setObjectName(QStringLiteral("ZtControlElementWindow"));
    m_basePointSize = m_nativeWindow->font().pointSize();
    m_nativeWindow->hide();
}

QWidget* CZtQtGUIControlElement::CreateUI(const wchar_t* name, CZtGUIElement* parentElement) {
    if (!m_nativeWindow) {
        return nullptr;
    }
    m_name = name ? name : L"";
    m_parent = parentElement;
    m_parentObject = parentElement ? parentElement->ElementObject() : nullptr;
    m_created = true;
    GuiState::Instance().AddElement(this);
    if (ZT_GetGUIZoom() != 1.0) {
        CZtQtGUIControlElement::OnGuiZoomChanged();
    }
    if (CZtTabContainer* container = Container()) {
        container->AddElement(this);
    }
    return m_nativeWindow;
}

void CZtQtGUIControlElement::DestroyUI() {
    GuiState::Instance().RemoveElement(this);
    if (CZtTabContainer* container = Container()) {
        container->RemoveElement(this);
    }
    m_parent = nullptr;
    m_parentObject = nullptr;
    m_created = false;
    delete m_nativeWindow.data();
}

void CZtQtGUIControlElement::Enable(bool enable) {
    m_enabled = enable;
    if (m_nativeWindow) {
        m_nativeWindow->setEnabled(enable);
    }
}

int CZtQtGUIControlElement::CustomCommand(int, void*, const wchar_t*) {
    return -2;
}

void CZtQtGUIControlElement::OnGuiZoomChanged() {
    if (!m_nativeWindow || m_basePointSize <= 0) {
        return;
    }
    QFont font = m_nativeWindow->font();
    font.setPointSizeF(m_basePointSize * ZT_GetGUIZoom());
    m_nativeWindow->setFont(font);
}

void CZtQtGUIControlElement::SetSizeBounds(const QSize& minimum, const QSize& maximum) {
    m_minimumSize = minimum;
    m_maximumSize = maximum;
}

CZtTabContainer* CZtQtGUIControlElement::Container() const {
    CZtGUIElement* parent = GetParentElement();
    return parent ? qobject_cast<CZtTabContainer*>(parent->FindContainer("CZtTabContainer"))
                  : nullptr;
}

void CZtQtGUIControlElement::RequestLayout() {
    if (CZtTabContainer* container = Container()) {
        container->ApplySizeBounds(this);
    }
}
