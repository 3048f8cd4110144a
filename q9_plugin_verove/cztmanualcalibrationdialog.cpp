// The manual calibration dialog.
#include "cztmanualcalibrationdialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStyle>
#include <QVBoxLayout>
#include <QVariant>

#include "cztdmdpreviewcontrol.h"
#include "cztmanualcalibration.h"
#include "cztref.h"
#include "cztstimulationdeviceverove.h"
#include "cztverovedriver.h"
#include "cztverovelightpath.h"
#include "cztverovepadqt.h"
#include "verove_log.h"
#include "verovestatus.h"
#include "zt/zt_acquisition.h"
#include "zt/zt_document.h"
#include "zt/zt_roi.h"
#include "zt/zt_util.h"

namespace {

constexpr int kGridPattern = 2;

QString Tr(const wchar_t* text) {
    return QString::fromStdWString(ZT_GetTranslation(text).Str());
}

QLabel* Label(const wchar_t* text, QWidget* parent) {
    auto* label = new QLabel(Tr(text), parent);
    label->setWordWrap(true);
    return label;
}

// Sets a style property and applies the style sheet again.
void SetStyleProperty(QWidget* widget, const char* name) {
    widget->setProperty(name, true);
    widget->style()->unpolish(widget);
    widget->style()->polish(widget);
}

// One step of the dialog: a page of the stack whose grid starts with the step's heading and
// explanation across its first columns. Returns the grid.
QGridLayout* AddPage(QStackedWidget* stack, int columns, QWidget*& page, QLabel*& heading,
                     const wchar_t* headingText, QLabel*& explanation,
                     const wchar_t* explanationText) {
    page = new QWidget(stack);
    auto* grid = new QGridLayout(page);
    heading = Label(headingText, page);
    explanation = Label(explanationText, page);
    grid->addWidget(heading, 0, 0, 1, columns);
    grid->addWidget(explanation, 1, 0, 1, columns);
    stack->addWidget(page);
    return grid;
}

bool IsCalibrationPoint(const CZtRoiObject& roi) {
    return roi.GetStimulation() && roi.GetType() == ZT_ROITYPE_POINT &&
           roi.GetStimulationGroup() == 0;
}

}  // namespace

CZtManualCalibrationDialog::CZtManualCalibrationDialog(CZtStimulationDeviceVerove* device,
                                                       QWidget* parent)
    : CZtQ9DialogForQt(parent), m_pDevice(device) {}

CZtManualCalibrationDialog::~CZtManualCalibrationDialog() {
    if (m_pDevice) {
        m_pDevice->SetCalibrationInProgress(false);
    }
}

int CZtManualCalibrationDialog::SetupUi() {
    if (!m_pDevice) {
        ZT_MessageBox_(this,
                       ZT_GetTranslation(L"Manual calibration failed due to internal error, "
                                         L"aborting.")
                           .GetString(),
                       ZT_GetTranslation(L"Manual calibration error").GetString(),
                       ZT_MB_OK | ZT_MB_ICONERROR);
        VEROVE_LOG("CZtManualCalibrationDialog::SetupUi",
                   L"Autocalibration failed, Stimulation Device pointer not set.");
        reject();
        return VeroveStatus::kRefused;
    }
    if (CZtVeroveDriver* driver = m_pDevice->GetDriver()) {
        m_iDMDWidth = driver->GetDmdWidth();
        m_iDMDHeight = driver->GetDmdHeight();
    }
    setWindowTitle(Tr(L"Manual Calibration"));
    QFile styleSheet(
        QStringLiteral(":/q9_plugin_Verove/resources/Stylesheets/VeroveManualCalibration.qss"));
    if (styleSheet.open(QIODevice::ReadOnly)) {
        setStyleSheet(QString::fromUtf8(styleSheet.readAll()));
    }
    m_pVerticalLayout_Main = new QVBoxLayout(this);
    m_pStackedWidget_Main = new QStackedWidget(this);
    m_pVerticalLayout_Main->addWidget(m_pStackedWidget_Main);
    BuildPage1();
    BuildPage2();
    BuildPage3();
    m_pFrame_MainBottomLineSeparator = new QFrame(this);
    m_pFrame_MainBottomLineSeparator->setFrameShape(QFrame::HLine);
    m_pVerticalLayout_Main->addWidget(m_pFrame_MainBottomLineSeparator);
    m_pHorizontalLayout_MainButtonBox = new QHBoxLayout();
    m_pButtonBox_Main = new QDialogButtonBox(this);
    m_pBtnNext = m_pButtonBox_Main->addButton(Tr(L"Next"), QDialogButtonBox::ActionRole);
    m_pBtnOK = m_pButtonBox_Main->addButton(Tr(L"OK"), QDialogButtonBox::AcceptRole);
    m_pBtnCancel = m_pButtonBox_Main->addButton(Tr(L"Cancel"), QDialogButtonBox::RejectRole);
    m_pBtnOK->setEnabled(false);
    m_pHorizontalLayout_MainButtonBox->addWidget(m_pButtonBox_Main);
    m_pVerticalLayout_Main->addLayout(m_pHorizontalLayout_MainButtonBox);

    connect(m_pBtnNext, &QPushButton::clicked, this, &CZtManualCalibrationDialog::OnBtnNext);
    connect(m_pButtonBox_Main, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_pButtonBox_Main, &QDialogButtonBox::rejected, this,
            &CZtManualCalibrationDialog::reject);
    m_pStackedWidget_Main->setCurrentIndex(0);
    return m_pDevice->OnManualCalibrationInit();
}

void CZtManualCalibrationDialog::BuildPage1() {
    m_pGridLayout_Tab1 =
        AddPage(m_pStackedWidget_Main, 2, m_pWidget_Tab1, m_pLabel_Tab1Heading,
                L"Step 1/3 - Focusing:", m_pLabel_Tab1Explanation1,
                L"Please use the DMD pad to display a pattern appropriate for focusing the current "
                L"grabber (e.g. Grid) and focus.\nDMD pattern illumination and the specimen plane "
                L"should be parfocal. Then click on Next.");
    m_pLabel_Tab1Explanation2 =
        Label(L"Hint: For best results, provide a highly reflective sample and turn off binning.",
              m_pWidget_Tab1);
    m_pBtn_Tab1AutoFocus = new QPushButton(Tr(L"Auto Focus..."), m_pWidget_Tab1);
    if (!ZT_HasZStage()) {
        m_pBtn_Tab1AutoFocus->setEnabled(false);
        m_pBtn_Tab1AutoFocus->setToolTip(Tr(L"No Z stage connected."));
    }
    m_pBtn_Tab1DisplayGridPattern = new QPushButton(Tr(L"Display Grid pattern"), m_pWidget_Tab1);
    m_pGridLayout_Tab1->addWidget(m_pLabel_Tab1Explanation2, 2, 0, 1, 2);
    m_pGridLayout_Tab1->addWidget(m_pBtn_Tab1AutoFocus, 3, 0);
    m_pGridLayout_Tab1->addWidget(m_pBtn_Tab1DisplayGridPattern, 3, 1);
    connect(m_pBtn_Tab1AutoFocus, &QPushButton::clicked, this,
            &CZtManualCalibrationDialog::OnBtnAutoFocus);
    connect(m_pBtn_Tab1DisplayGridPattern, &QPushButton::clicked, this,
            &CZtManualCalibrationDialog::OnBtnDisplayGridPattern);
}

void CZtManualCalibrationDialog::BuildPage2() {
    m_pGridLayout_Tab2 = AddPage(
        m_pStackedWidget_Main, 2, m_pWidget_Tab2, m_pLabel_Tab2Heading, L"Step 2/3 - Calibration:",
        m_pLabel_Tab2Explanation1,
        L"Clicking a point the DMD preview to the right switches ON the DMD mirrors in a "
        L"rectangular area around that point. Please move the red cross that appears in the Live "
        L"window over the center of the lit up area and click the plus button below.\n\nFor best "
        L"results add multiple points (min. 3) not in a straight line. Then click Next.");
    m_pLabel_Tab2Warning = new QLabel(m_pWidget_Tab2);
    m_pLabel_Tab2Warning->setWordWrap(true);
    m_pHorizontalLayout_Tab2AcquiredPoints = new QHBoxLayout();
    m_pLabel_Tab2CalibrationPointCountLabel = Label(L"Acquired points:", m_pWidget_Tab2);
    m_pLabel_Tab2CalibrationPointCountValue = new QLabel(QStringLiteral("0"), m_pWidget_Tab2);
    m_pBtn_Tab2CalibrationPointAdd = new QPushButton(QStringLiteral("+"), m_pWidget_Tab2);
    m_pBtn_Tab2CalibrationPointAdd->setEnabled(false);
    m_pBtn_Tab2CalibrationPointAdd->setToolTip(
        Tr(L"Point not illuminated, click the DMD preview on the right of the dialog."));
    m_pBtn_Tab2CalibrationPointsClear = new QPushButton(Tr(L"Clear"), m_pWidget_Tab2);
    m_pHorizontalLayout_Tab2AcquiredPoints->addWidget(m_pLabel_Tab2CalibrationPointCountLabel);
    m_pHorizontalLayout_Tab2AcquiredPoints->addWidget(m_pLabel_Tab2CalibrationPointCountValue);
    m_pHorizontalLayout_Tab2AcquiredPoints->addWidget(m_pBtn_Tab2CalibrationPointAdd);
    m_pHorizontalLayout_Tab2AcquiredPoints->addWidget(m_pBtn_Tab2CalibrationPointsClear);
    m_pLabel_Tab2CalibrationPointSize = Label(L"Calibration pattern size:", m_pWidget_Tab2);
    m_pSpinBox_Tab2CalibrationPointSize = new QSpinBox(m_pWidget_Tab2);
    m_pSpinBox_Tab2CalibrationPointSize->setRange(0, 100);
    m_pSpinBox_Tab2CalibrationPointSize->setValue(m_iRectHalfSize);

    m_pVerticalLayout_DMDPreview = new QVBoxLayout();
    m_pLabel_Tab2DMDPreviewHeading = Label(L"DMD Active Mirrors:", m_pWidget_Tab2);
    m_pLabel_Tab2DMDPreview = new CZtDMDPreviewControl(m_iDMDWidth, m_iDMDHeight, m_pWidget_Tab2);
    m_pLabel_Tab2DMDPreview->SetRectangleSize(m_iRectHalfSize);
    m_pVerticalLayout_DMDPreview->addWidget(m_pLabel_Tab2DMDPreviewHeading);
    m_pVerticalLayout_DMDPreview->addWidget(m_pLabel_Tab2DMDPreview);
    m_pVerticalLayout_DMDPreview->addStretch();

    m_pGridLayout_Tab2->addLayout(m_pHorizontalLayout_Tab2AcquiredPoints, 2, 0, 1, 2);
    m_pGridLayout_Tab2->addWidget(m_pLabel_Tab2CalibrationPointSize, 3, 0);
    m_pGridLayout_Tab2->addWidget(m_pSpinBox_Tab2CalibrationPointSize, 3, 1);
    m_pGridLayout_Tab2->addWidget(m_pLabel_Tab2Warning, 4, 0, 1, 2);
    m_pGridLayout_Tab2->addLayout(m_pVerticalLayout_DMDPreview, 0, 2, 5, 1);
    connect(m_pBtn_Tab2CalibrationPointAdd, &QPushButton::clicked, this,
            &CZtManualCalibrationDialog::OnBtnAddPoint);
    connect(m_pBtn_Tab2CalibrationPointsClear, &QPushButton::clicked, this,
            &CZtManualCalibrationDialog::OnBtnClearAllPoints);
    connect(m_pSpinBox_Tab2CalibrationPointSize, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &CZtManualCalibrationDialog::OnSpinCalibrationPointSizeValueChanged);
    connect(m_pLabel_Tab2DMDPreview, &CZtDMDPreviewControl::sigCurrentDMDRectHasChanged, this,
            &CZtManualCalibrationDialog::OnCurrentDMDRectHasChanged);
    UpdatePointControls();
}

void CZtManualCalibrationDialog::BuildPage3() {
    m_pGridLayout_Tab3 = AddPage(
        m_pStackedWidget_Main, 1, m_pWidget_Tab3, m_pLabel_Tab3Heading, L"Step 3/3 - Validation:",
        m_pLabel_Tab3Explanation1,
        L"Optional: Use the Stimulate button to stimulate S1 ROI with S1 laser power set up "
        L"on device pad to verify the computed calibration.\n\nClick OK to confirm the "
        L"calibration.");
    m_pBtn_Tab3Stimulate = new QPushButton(Tr(L"Stimulate S1 Group"), m_pWidget_Tab3);
    m_pBtn_Tab3Stimulate->setCheckable(true);
    m_pLabel_Tab3Message = new QLabel(m_pWidget_Tab3);
    m_pLabel_Tab3Message->setWordWrap(true);
    m_pGridLayout_Tab3->addWidget(m_pBtn_Tab3Stimulate, 2, 0);
    m_pGridLayout_Tab3->addWidget(m_pLabel_Tab3Message, 3, 0);
    connect(m_pBtn_Tab3Stimulate, &QPushButton::clicked, this,
            &CZtManualCalibrationDialog::OnBtnStimulate);
}

void CZtManualCalibrationDialog::OnBtnNext() {
    if (!m_pDevice) {
        return;
    }
    if (m_iStep == 0) {
        m_iStep = 1;
        m_pStackedWidget_Main->setCurrentIndex(1);
        m_pBtnNext->setEnabled(false);
        m_pBtnNext->setToolTip(Tr(L"Add at least 3 valid calibration points to continue."));
        m_pLabel_Tab2Warning->setText(
            Tr(L"Warning: DO NOT change camera format during calibration."));
        SetStyleProperty(m_pLabel_Tab2Warning, "warning");
    } else if (m_iStep == 1) {
        m_iStep = 2;
        m_pStackedWidget_Main->setCurrentIndex(2);
        m_pBtnNext->setEnabled(false);
        m_pDevice->OnManualcalibrationValidationPhase();
        m_pBtnOK->setEnabled(true);
    }
}

void CZtManualCalibrationDialog::AddPointAtViewCentre(IZtDocument* document) {
    double x = 0.0;
    double y = 0.0;
    document->GetViewCentre(0, &x, &y);
    CZtRoiObject point(ZT_ROITYPE_POINT, {x, y});
    point.SetStimulation(true);
    point.SetStimulationGroup(0);
    document->AddRoi(&point);
}

void CZtManualCalibrationDialog::OnCurrentDMDRectHasChanged(std::int32_t x, std::int32_t y) {
    if (!m_pDevice || x < 0 || y < 0 || x >= m_iDMDWidth || y >= m_iDMDHeight) {
        VEROVE_LOG("CZtManualCalibrationDialog::OnCurrentDMDRectHasChanged",
                   L"Invalid rectangle or no Stimulation Device pointer, aborting...");
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    if (const auto document = CZtRef<IZtDocument>::Adopt(ZT_GetCurrentDocument())) {
        CZtRoiObjectList rois;
        document->GetRois(&rois);
        int points = 0;
        for (const CZtRoiObject& roi : rois) {
            points += IsCalibrationPoint(roi) ? 1 : 0;
        }
        if (points >= 2) {
            document->ClearStimulationRois(L"Clear all stimulation ROIs due to ambiguity");
        }
        if (points != 1) {
            AddPointAtViewCentre(document.get());
        }
        ZT_SetRoiLabels(false);
        document->RefreshViews();
    }
    m_iCurrentX = x;
    m_iCurrentY = y;
    m_pDevice->DisplayRectangleAtPos(x, y, m_iRectHalfSize);
    m_pBtn_Tab2CalibrationPointAdd->setEnabled(true);
    m_pBtn_Tab2CalibrationPointAdd->setToolTip(
        Tr(L"Add Camera - DMD calibration point pair to calibration pool"));
    QApplication::restoreOverrideCursor();
}

void CZtManualCalibrationDialog::OnSpinCalibrationPointSizeValueChanged(int iNewValue) {
    m_pLabel_Tab2DMDPreview->SetRectangleSize(iNewValue);
    m_iRectHalfSize = iNewValue;
    if (m_pDevice && m_iCurrentX >= 0) {
        m_pDevice->DisplayRectangleAtPos(m_iCurrentX, m_iCurrentY, m_iRectHalfSize);
    }
}

void CZtManualCalibrationDialog::OnBtnAddPoint() {
    if (!m_pDevice) {
        VEROVE_LOG("CZtManualCalibrationDialog::OnBtnAddPoint",
                   L"No stimulation device pointer, aborting...");
        return;
    }
    if (const auto document = CZtRef<IZtDocument>::Adopt(ZT_GetCurrentDocument())) {
        CZtRoiObjectList rois;
        document->GetRois(&rois);
        const CZtRoiObject* point = nullptr;
        for (const CZtRoiObject& roi : rois) {
            if (!point && IsCalibrationPoint(roi)) {
                point = &roi;
            }
        }
        if (!point) {
            AddPointAtViewCentre(document.get());
            ZT_SetRoiLabels(false);
            document->RefreshViews();
        } else if (point->GetGeometry().size() >= 2) {
            ++m_iAcquiredPoints;
            m_pDevice->AddManualCalibrationPair(m_iCurrentX, m_iCurrentY, point->GetGeometry()[0],
                                                point->GetGeometry()[1]);
        }
    }
    UpdatePointControls();
}

void CZtManualCalibrationDialog::OnBtnClearAllPoints() {
    if (m_iAcquiredPoints == 0) {
        VEROVE_LOG("CZtManualCalibrationDialog::OnBtnClearAllPoints", L"No points to clear.");
    }
    if (m_pDevice) {
        m_pDevice->GetManualCalibration().ClearPairs();
    }
    m_iAcquiredPoints = 0;
    UpdatePointControls();
}

void CZtManualCalibrationDialog::UpdatePointControls() {
    m_pLabel_Tab2CalibrationPointCountValue->setText(QString::number(m_iAcquiredPoints));
    if (m_pBtnNext && m_iStep == 1) {
        m_pBtnNext->setEnabled(m_iAcquiredPoints >= 3);
    }
    m_pBtn_Tab2CalibrationPointsClear->setEnabled(m_iAcquiredPoints >= 1);
    m_pBtn_Tab2CalibrationPointsClear->setToolTip(
        m_iAcquiredPoints >= 1 ? QString() : Tr(L"No points to clear."));
}

void CZtManualCalibrationDialog::OnBtnAutoFocus() {
    VEROVE_LOG("CZtManualCalibrationDialog::OnBtnAutoFocus", L"Opening autofocus setup dialog");
    ZT_ShowFocusSetup();
    VEROVE_LOG("CZtManualCalibrationDialog::OnBtnAutoFocus", L"Autofocus done");
}

void CZtManualCalibrationDialog::OnBtnDisplayGridPattern() {
    if (m_pDevice) {
        m_pDevice->SetActivePatternId(kGridPattern);
    }
}

void CZtManualCalibrationDialog::OnBtnStimulate() {
    CZtVerovePadQt* pad = m_pDevice ? m_pDevice->GetPad() : nullptr;
    if (pad && m_pDevice->GetLightPath().GetLightId() != 0) {
        pad->StimulateS1();
        return;
    }
    m_pLabel_Tab3Message->setText(Tr(L"No associated laser launch, cannot stimulate."));
    SetStyleProperty(m_pLabel_Tab3Message, "error");
    m_pBtn_Tab3Stimulate->setChecked(false);
}

void CZtManualCalibrationDialog::OnStimulationStateChangedExternal(bool bState) {
    const QSignalBlocker blocker(m_pBtn_Tab3Stimulate);
    m_pBtn_Tab3Stimulate->setChecked(bState);
}

void CZtManualCalibrationDialog::OnStimulationButtonAvailabilityChanged(bool available) {
    m_pBtn_Tab3Stimulate->setEnabled(available);
    m_pBtn_Tab3Stimulate->setToolTip(
        available ? QString() : Tr(L"Stimulation not available, possibly no S1 ROI defined"));
}

void CZtManualCalibrationDialog::reject() {
    if (CZtVerovePadQt* pad = m_pDevice ? m_pDevice->GetPad() : nullptr) {
        pad->OnStopAllStimulation();
    }
    if (m_pDevice) {
        m_pDevice->SetCalibrationMode(0);
    }
    QDialog::reject();
}
