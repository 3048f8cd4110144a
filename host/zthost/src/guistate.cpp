// The host's GUI zoom, its change notice and the acquisition controls' tab container.
#include "guistate.h"

#include <algorithm>

#include "zt/zt_gui.h"
#include "zt/zt_log.h"
#include "zthost/gui.h"

GuiState& GuiState::Instance() {
    // Never destroyed: elements torn down at exit may still unregister.
    static GuiState* const state = new GuiState;
    return *state;
}

void GuiState::SetZoom(double zoom) {
    if (!(zoom > 0.0)) {
        ZT_DIAG_OUTPUT(L"zthost %hs: zoom %f refused", "SetGUIZoom", zoom);
        return;
    }
    m_zoom = zoom;
    // A handler may create or destroy elements: walk a copy.
    for (CZtQtGUIControlElement* element : Elements()) {
        element->OnGuiZoomChanged();
    }
}

void GuiState::AddElement(CZtQtGUIControlElement* element) {
    if (element && std::find(m_elements.begin(), m_elements.end(), element) == m_elements.end()) {
        m_elements.emplace_back(element);
    }
}

void GuiState::RemoveElement(CZtQtGUIControlElement* element) {
    m_elements.erase(std::remove_if(m_elements.begin(), m_elements.end(),
                                    [element](const QPointer<CZtQtGUIControlElement>& e) {
                                        return e.isNull() || e == element;
                                    }),
                     m_elements.end());
}

std::vector<CZtQtGUIControlElement*> GuiState::Elements() {
    std::vector<CZtQtGUIControlElement*> elements;
    for (const QPointer<CZtQtGUIControlElement>& element : m_elements) {
        if (element) {
            elements.push_back(element);
        }
    }
    return elements;
}

CZtTabContainer* GuiState::AcquisitionControls() {
    if (!m_acquisitionControls) {
        m_acquisitionControls = new CZtTabContainer(L"Acquisition Controls");
    }
    return m_acquisitionControls;
}

void GuiState::Clear() {
    m_zoom = 1.0;
    delete m_acquisitionControls.data();
}

double ZT_GetGUIZoom() {
    return GuiState::Instance().Zoom();
}

namespace zthost {

void SetGUIZoom(double zoom) {
    GuiState::Instance().SetZoom(zoom);
}

CZtTabContainer* AcquisitionControls() {
    return GuiState::Instance().AcquisitionControls();
}

QWidget* AddControlPad(QObject* element, const std::wstring& name, CZtGUIElement* parent) {
    auto* control = qobject_cast<CZtQtGUIControlElement*>(element);
    if (!control) {
        return nullptr;
    }
    if (!control->GetNativeWindow()) {
        control->setupUi();
    }
    return control->CreateUI(name.c_str(), parent ? parent : AcquisitionControls());
}

void ResetGui() {
    GuiState::Instance().Clear();
}

}  // namespace zthost
