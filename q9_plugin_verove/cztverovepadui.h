// The widgets of the device pad and their layout, built once.
#pragma once

#include <QPointer>
#include <array>

#include "zt/zt_gui.h"

class QAction;
class QButtonGroup;
class QComboBox;
class QGridLayout;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QSpacerItem;
class QStackedWidget;
class QVBoxLayout;
class QWidget;
class CZtPatternComboBox;
class CZtPickerTogglePushButton;
class CZtVerovePadQt;

// GUI thread only. Every widget is held through a guarded pointer: work on a widget that is gone
// does nothing.
//
// The pad's two pages: Control (pattern, shutter, grey levels, "Match", status, the direct-control
// laser lines) and Stimulation (pulse time, "Pulse", "Manual", the group buttons and one page of
// laser lines per group).
class CZtVerovePadUi {
public:
    // Builds every widget and layout into pad.
    void SetupUi(QWidget* pad);
    // Wires the widgets' signals to the pad's slots.
    void Connect(CZtVerovePadQt* pad);
    // The sizes that follow the host's GUI zoom.
    void ApplyZoom(double zoom);
    // The status label and "Configure..." stand in the bottom row while the Stimulation page is
    // shown, else in the Control page's grid.
    void PlaceStatus(bool bottomRow);
    // Whether the section shows lines or "No associated laser launch...".
    void ShowLaserSection(bool hasLines);

    QPointer<QPushButton> m_pBtnTabControl;
    QPointer<QPushButton> m_pBtnTabStimulation;
    QPointer<QButtonGroup> m_pTabButtons;
    QPointer<QStackedWidget> m_pStackedPages;
    QPointer<QWidget> m_pPageControl;
    QPointer<QWidget> m_pPageStimulation;

    QPointer<CZtPatternComboBox> m_pComboPattern;
    QPointer<QPushButton> m_pBtnPatternExternal;
    QPointer<QPushButton> m_pBtnShutter;
    QPointer<CZtPickerTogglePushButton> m_pPickerGrayscaling;
    std::array<QPointer<QAction>, 3> m_grayscaleActions;
    QPointer<QPushButton> m_pBtnMatchFOV;
    QPointer<QLabel> m_pLabelStatus;
    QPointer<QPushButton> m_pBtnConfigure;
    QPointer<QWidget> m_pBottomRow;

    QPointer<QComboBox> m_pComboPulseTime;
    QPointer<QPushButton> m_pBtnPulse;
    QPointer<QPushButton> m_pBtnManual;
    std::array<QPointer<QPushButton>, 3> m_stimGroupButtons;
    QPointer<QButtonGroup> m_pStimGroupButtons;
    QPointer<QStackedWidget> m_pStackedStimGroup;
    QPointer<QLabel> m_pLabelNoLaunch;
    QPointer<QWidget> m_pLaserSection;
    // Where the laser lines go: the three group pages and the Control page's section.
    std::array<QPointer<QWidget>, ZT_STIM_GROUP_COUNT> m_laserGroupParents;

private:
    QWidget* BuildControlPage();
    QWidget* BuildStimulationPage();

    QGridLayout* m_pGridPattern = nullptr;
    QGridLayout* m_pGridSettings = nullptr;
    QHBoxLayout* m_pBottomLayout = nullptr;
    QSpacerItem* m_pSpacerRight = nullptr;
};
