// GuiState: the host's GUI zoom and the control elements that hear of its changes.
#pragma once

#include <QPointer>
#include <vector>

#include "zt/zt_guielement.h"

// GUI thread only.
class GuiState {
public:
    static GuiState& Instance();

    double Zoom() const { return m_zoom; }
    // Stores the zoom and tells every created control element.
    void SetZoom(double zoom);

    void AddElement(CZtQtGUIControlElement* element);
    void RemoveElement(CZtQtGUIControlElement* element);
    std::vector<CZtQtGUIControlElement*> Elements();

    // The host's tab container of acquisition controls, created on first use.
    CZtTabContainer* AcquisitionControls();
    // Zoom back to 1.0; the acquisition controls go.
    void Clear();

private:
    double m_zoom = 1.0;
    std::vector<QPointer<CZtQtGUIControlElement>> m_elements;
    QPointer<CZtTabContainer> m_acquisitionControls;
};
