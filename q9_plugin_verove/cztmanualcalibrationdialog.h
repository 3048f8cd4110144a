// The manual calibration dialog: focusing, collecting DMD / camera point pairs with the DMD
// preview, and validating the computed calibration.
#pragma once

#include <cstdint>

#include "cztref.h"
#include "zt/zt_qtwidgets.h"

class QDialogButtonBox;
class QFrame;
class QGridLayout;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QSpinBox;
class QStackedWidget;
class QVBoxLayout;
class QWidget;
class IZtDocument;
class CZtDMDPreviewControl;
class CZtStimulationDeviceVerove;

// Thread-bound to the GUI thread. The stimulation point ROI the user moves onto the lit square
// lives in the host's current document: group 0, point geometry, marked for stimulation.
class CZtManualCalibrationDialog : public CZtQ9DialogForQt {
    Q_OBJECT

public:
    // device is borrowed (a reference is held while the dialog lives); null makes SetupUi refuse.
    explicit CZtManualCalibrationDialog(CZtStimulationDeviceVerove* device,
                                        QWidget* parent = nullptr);
    ~CZtManualCalibrationDialog() override;

    // Builds the window and starts the calibration (OnManualCalibrationInit): its result, or -9
    // without a device.
    int SetupUi();
    // 0 focus, 1 collecting pairs, 2 validation.
    int GetStep() const { return m_iStep; }
    int GetAcquiredPointCount() const { return m_iAcquiredPoints; }
    CZtDMDPreviewControl* GetPreview() const { return m_pLabel_Tab2DMDPreview; }

public slots:
    void OnBtnNext();
    void OnBtnAddPoint();
    void OnBtnClearAllPoints();
    void OnBtnAutoFocus();
    void OnSpinCalibrationPointSizeValueChanged(int iNewValue);
    void OnCurrentDMDRectHasChanged(std::int32_t x, std::int32_t y);
    void OnBtnDisplayGridPattern();
    void OnBtnStimulate();
    void OnStimulationStateChangedExternal(bool bState);
    void OnStimulationButtonAvailabilityChanged(bool available);
    void reject() override;

private:
    void BuildPage1();
    void BuildPage2();
    void BuildPage3();
    // The acquired-points count and the buttons that follow it.
    void UpdatePointControls();
    // Adds the calibration's point at the centre of the document's current view.
    static void AddPointAtViewCentre(IZtDocument* document);

    // The dialog may outlive the plug-in's own hold on the device (a disconnect while it shows).
    const CZtRef<CZtStimulationDeviceVerove> m_pDevice;
    int m_iStep = 0;
    int m_iAcquiredPoints = 0;
    int m_iRectHalfSize = 7;
    std::int32_t m_iCurrentX = -1;
    std::int32_t m_iCurrentY = -1;
    int m_iDMDWidth = 0;
    int m_iDMDHeight = 0;

    QStackedWidget* m_pStackedWidget_Main = nullptr;
    QPushButton* m_pBtnNext = nullptr;
    QPushButton* m_pBtnOK = nullptr;
    QPushButton* m_pBtnCancel = nullptr;
    QLabel* m_pLabel_Tab1Heading = nullptr;
    QLabel* m_pLabel_Tab1Explanation1 = nullptr;
    QLabel* m_pLabel_Tab1Explanation2 = nullptr;
    QPushButton* m_pBtn_Tab1AutoFocus = nullptr;
    QPushButton* m_pBtn_Tab1DisplayGridPattern = nullptr;
    QLabel* m_pLabel_Tab2Heading = nullptr;
    QLabel* m_pLabel_Tab2Explanation1 = nullptr;
    QLabel* m_pLabel_Tab2DMDPreviewHeading = nullptr;
    QLabel* m_pLabel_Tab2CalibrationPointCountLabel = nullptr;
    QLabel* m_pLabel_Tab2CalibrationPointCountValue = nullptr;
    QLabel* m_pLabel_Tab2CalibrationPointSize = nullptr;
    QSpinBox* m_pSpinBox_Tab2CalibrationPointSize = nullptr;
    QPushButton* m_pBtn_Tab2CalibrationPointAdd = nullptr;
    QPushButton* m_pBtn_Tab2CalibrationPointsClear = nullptr;
    CZtDMDPreviewControl* m_pLabel_Tab2DMDPreview = nullptr;
    QLabel* m_pLabel_Tab2Warning = nullptr;
    QLabel* m_pLabel_Tab3Heading = nullptr;
    QLabel* m_pLabel_Tab3Explanation1 = nullptr;
    QPushButton* m_pBtn_Tab3Stimulate = nullptr;
    QLabel* m_pLabel_Tab3Message = nullptr;
    QVBoxLayout* m_pVerticalLayout_Main = nullptr;
    QHBoxLayout* m_pHorizontalLayout_MainButtonBox = nullptr;
    QDialogButtonBox* m_pButtonBox_Main = nullptr;
    QFrame* m_pFrame_MainBottomLineSeparator = nullptr;
    QWidget* m_pWidget_Tab1 = nullptr;
    QGridLayout* m_pGridLayout_Tab1 = nullptr;
    QWidget* m_pWidget_Tab2 = nullptr;
    QGridLayout* m_pGridLayout_Tab2 = nullptr;
    QHBoxLayout* m_pHorizontalLayout_Tab2AcquiredPoints = nullptr;
    QVBoxLayout* m_pVerticalLayout_DMDPreview = nullptr;
    QWidget* m_pWidget_Tab3 = nullptr;
    QGridLayout* m_pGridLayout_Tab3 = nullptr;
};
