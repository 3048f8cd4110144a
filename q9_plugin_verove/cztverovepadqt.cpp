// The device pad.
#include "cztverovepadqt.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QTimer>
#include <cmath>

#include "cztautocalibrationdialog.h"
#include "cztmanualcalibrationdialog.h"
#include "cztpatterncombobox.h"
#include "cztstimulationdeviceverove.h"
#include "cztveroveconfig.h"
#include "cztverovedriver.h"
#include "cztverovelaserline.h"
#include "cztverovepaddialogs.h"
#include "cztverovepadrules.h"
#include "cztverovepatternorganizer.h"
#include "cztverovepulsetimes.h"
#include "verove_log.h"
#include "zt/zt_util.h"

namespace {

constexpr const char* kStyleSheet = ":/q9_plugin_Verove/resources/Stylesheets/VerovePad.qss";

QString Tr(const wchar_t* text) {
    return QString::fromStdWString(ZT_GetTranslation(text).Str());
}

}  // namespace

CZtVerovePadQt::CZtVerovePadQt(QWidget* parent, CZtVerovePadWrapper* wrapper,
                               CZtStimulationDeviceVerove* device)
    : CZtQWidget(parent), m_device(device), m_wrapper(wrapper) {
    m_durationTexts = CZtVerovePulseTimes::DefaultTexts();
    if (m_device) {
        m_device->SetPad(this);
    }
}

CZtVerovePadQt::~CZtVerovePadQt() {
    for (const QPointer<QAction>& action : m_ui.m_grayscaleActions) {
        if (action) {
            action->deleteLater();
        }
    }
    CZtVerovePadDialogs::Close(&m_configDialog, this);
    CZtVerovePadDialogs::Close(&m_patternDialog, this);
    if (m_device) {
        m_device->SetPad(nullptr);
    }
}

void CZtVerovePadQt::DetachDevice() {
    m_device = nullptr;
}

void CZtVerovePadQt::SetupLayout() {
    if (m_layoutBuilt) {
        return;
    }
    m_ui.SetupUi(this);
    m_layoutBuilt = true;
    ApplyZoom();
    ConnectSignals();
    ZT_LoadStyleSheet(this, QString::fromLatin1(kStyleSheet));
    if (m_device) {
        SetGrayscaleLevels(m_device->GetGrayscaleLevels());
        SetGrayscaleChecked(m_device->IsGrayscaleEnabled());
    }
    if (m_ui.m_pPickerGrayscaling && m_ui.m_pPickerGrayscaling->GetCurrentIndex() < 0) {
        const QSignalBlocker blocker(m_ui.m_pPickerGrayscaling);
        m_ui.m_pPickerGrayscaling->SetCurrentIndex(0);
    }
    OnUpdateDurationsCombo();
    emit sigUpdateStatusMessage();
}

void CZtVerovePadQt::ConnectSignals() {
    m_ui.Connect(this);
    connect(this, &CZtVerovePadQt::sigStimulationHasEnded, this,
            &CZtVerovePadQt::OnStimulationHasEnded);
    connect(this, &CZtVerovePadQt::sigUpdateStatusMessage, this,
            &CZtVerovePadQt::OnUpdateStatusMessage);
    connect(this, &CZtVerovePadQt::sigChangeShutterButtonState, this,
            &CZtVerovePadQt::OnSetShutterButtonState, Qt::QueuedConnection);
    connect(this, &CZtVerovePadQt::sigChangeAssociatedShutter, this,
            &CZtVerovePadQt::OnSetAssociatedShutter);
    if (m_wrapper) {
        connect(this, &CZtVerovePadQt::sigDeviceGUIReady, m_wrapper,
                &CZtVerovePadWrapper::OnDeviceGUIReady);
    }
}

void CZtVerovePadQt::ApplyZoom() {
    const double zoom = ZT_GetGUIZoom();
    m_ui.ApplyZoom(zoom);
    m_laserSection.ApplyZoom(zoom);
}

// ---- Pages and groups ---------------------------------------------------------------------------

void CZtVerovePadQt::OnTabButtonReleased(int iTab) {
    VEROVE_LOG("CZtVerovePadQt::OnTabButtonReleased", L"Start - (%d)", iTab);
    if (!m_ui.m_pStackedPages || iTab < 0 || iTab > 1) {
        return;
    }
    m_ui.m_pStackedPages->setCurrentIndex(iTab);
    m_activeTab = iTab;
    m_ui.PlaceStatus(iTab == 1);
}

void CZtVerovePadQt::OnStimGrpButtonReleased(zt_int32 iActiveGrp) {
    VEROVE_LOG("CZtVerovePadQt::OnStimGrpButtonReleased", L"Start - (%d)", iActiveGrp);
    if (iActiveGrp < 0 || iActiveGrp > 2) {
        return;
    }
    if (m_ui.m_pStackedStimGroup) {
        m_ui.m_pStackedStimGroup->setCurrentIndex(iActiveGrp);
    }
    m_activeGroup = iActiveGrp;
    const bool hasAreas = m_groupHasAreas[iActiveGrp];
    if (m_ui.m_pBtnPulse && m_ui.m_pBtnManual) {
        m_ui.m_pBtnPulse->setEnabled(hasAreas);
        m_ui.m_pBtnManual->setEnabled(hasAreas);
    }
    UpdateControlsAvailabilityAndTooltips();
}

int CZtVerovePadQt::CheckedGroup() const {
    const int id = m_ui.m_pStimGroupButtons ? m_ui.m_pStimGroupButtons->checkedId() : 0;
    return id >= 0 && id <= 2 ? id : 0;
}

bool CZtVerovePadQt::IsGroupWithAreas(int group) const {
    return group >= 0 && group <= 2 && m_groupHasAreas[group];
}

void CZtVerovePadQt::OnUpdateStimulationGroupButtonsAvailability() {
    VEROVE_LOG("CZtVerovePadQt::OnUpdateStimulationGroupButtonsAvailability",
               L"CZtVerovePadQt::OnUpdateStimulationGroupButtonsAvailability()");
    CZtVeroveDriver* driver = m_device ? m_device->GetDriver() : nullptr;
    for (int g = 0; g < 3; ++g) {
        bool hasAreas = false;
        if (driver) {
            CZtLock lock(driver->GetBufferLock());
            const CZtPattern* pattern =
                driver->GetPatterns().FindById(static_cast<std::uint32_t>(3 + g));
            hasAreas = pattern && pattern->HasStimulationAreas();
        }
        m_groupHasAreas[g] = hasAreas;
        QPushButton* button = m_ui.m_stimGroupButtons[static_cast<size_t>(g)];
        if (!button) {
            continue;
        }
        button->setStyleSheet(hasAreas ? QStringLiteral("font-weight: bold")
                                       : QStringLiteral("font-weight: normal"));
        button->setToolTip(hasAreas ? QString()
                                    : Tr(L"No stimulation areas defined for S%1.").arg(g + 1));
    }
    OnStimGrpButtonReleased(CheckedGroup());
}

// ---- Shutter ------------------------------------------------------------------------------------

void CZtVerovePadQt::OnButtonShutterReleased(bool bUserInteraction) {
    QPushButton* button = m_ui.m_pBtnShutter;
    const bool checked = button && button->isChecked();
    VEROVE_LOG("CZtVerovePadQt::OnButtonShutterReleased",
               L"CZtVerovePadQt::OnButtonShutterReleased(%d, %d)", checked ? 1 : 0,
               bUserInteraction ? 1 : 0);
    if (!button) {
        return;
    }
    button->setIcon(QIcon(checked
                              ? QStringLiteral(":/w32_baseresources/res/device/shutter_on.svg")
                              : QStringLiteral(":/w32_baseresources/res/device/shutter_off.svg")));
    if (!bUserInteraction || !m_device || !sender()) {
        return;
    }
    m_device->SetAssociatedShuttersOpenState(checked);
    EnableDirectControls(!button->isEnabled() || checked);
    repaint();
}

void CZtVerovePadQt::EnableDirectControls(bool enabled) {
    m_laserSection.EnableDirectControls(m_device, enabled);
}

void CZtVerovePadQt::OnSetShutterButtonState(bool bChecked) {
    QPushButton* button = m_ui.m_pBtnShutter;
    if (!button) {
        return;
    }
    {
        const QSignalBlocker blocker(button);
        button->setChecked(bChecked);
    }
    EnableDirectControls(!button->isEnabled() || bChecked);
    OnButtonShutterReleased(false);
}

void CZtVerovePadQt::OnSetAssociatedShutter(CZtStringW& shutterText, bool bEnable, bool bState) {
    QPushButton* button = m_ui.m_pBtnShutter;
    const QString text = QString::fromStdWString(shutterText.Str());
    if (!button || (button->text() == text && button->isEnabled() == bEnable &&
                    button->isChecked() == bState)) {
        return;
    }
    button->setText(text);
    button->setEnabled(bEnable);
    {
        const QSignalBlocker blocker(button);
        button->setChecked(bEnable && bState);
    }
    EnableDirectControls(!bEnable || bState);
    OnButtonShutterReleased(false);
}

void CZtVerovePadQt::ShowShutterState(bool open) {
    if (m_ui.m_pBtnShutter && m_ui.m_pBtnShutter->isChecked() != open) {
        emit sigChangeShutterButtonState(open);
    }
}

// ---- Match, dialogs -----------------------------------------------------------------------------

void CZtVerovePadQt::OnButtonMatchFOVReleased() {
    const char* function = "CZtVerovePadQt::OnButtonMatchFOVReleased";
    VEROVE_LOG(function, L"Start");
    QPushButton* button = m_ui.m_pBtnMatchFOV;
    CZtVeroveDriver* driver = m_device ? m_device->GetDriver() : nullptr;
    if (!button) {
        return;
    }
    const bool checked = button->isChecked();
    const int result = driver ? driver->SyncCameraROI(checked) : -12;
    if (result != 0) {
        VEROVE_LOG(function, L"Camera ROI not matched, return code %d", result);
        const QSignalBlocker blocker(button);
        button->setChecked(!checked);
    }
}

CZtQ9DialogForQt* CZtVerovePadQt::NewConfigurationDialog() {
    if (!m_device) {
        return nullptr;
    }
    auto* dialog = new CZtVeroveConfig(m_device, false);
    dialog->SetupUi();
    return dialog;
}

CZtQ9DialogForQt* CZtVerovePadQt::NewPatternDialog() {
    return m_device ? new CZtVerovePatternOrganizer(window(), &m_device->GetSettings().bitmaps)
                    : nullptr;
}

void CZtVerovePadQt::OnButtonConfigureReleased() {
    VEROVE_LOG("CZtVerovePadQt::OnButtonConfigureReleased", L"Start");
    if (!m_device) {
        return;
    }
    if (CZtQ9DialogForQt* dialog = CZtVerovePadDialogs::Get(
            &m_configDialog, [this] { return NewConfigurationDialog(); },
            [this](CZtQ9DialogForQt* made) {
                CZtVerovePadDialogs::Connect(made, this,
                                             &CZtVerovePadQt::OnConfigurationDialogAccepted,
                                             &CZtVerovePadQt::OnConfigurationDialogRejected,
                                             &CZtVerovePadQt::OnConfigurationDialogClosed);
            })) {
        CZtVerovePadDialogs::Show(dialog, window());
    }
}

void CZtVerovePadQt::OnConfigurationDialogAccepted() {
    VEROVE_LOG("CZtVerovePadQt::OnConfigurationDialogAccepted", L"Start");
    CZtVerovePadDialogs::Close(&m_configDialog, this);
    if (m_device) {
        m_device->SaveSettings();
    }
}

void CZtVerovePadQt::OnConfigurationDialogRejected() {
    VEROVE_LOG("CZtVerovePadQt::OnConfigurationDialogRejected", L"Start");
    CZtVerovePadDialogs::Close(&m_configDialog, this);
}

void CZtVerovePadQt::OnConfigurationDialogClosed() {
    VEROVE_LOG("CZtVerovePadQt::OnConfigurationDialogClosed", L"Start");
    CZtVerovePadDialogs::Close(&m_configDialog, this);
}

void CZtVerovePadQt::OnButtonPatternExternalReleased() {
    VEROVE_LOG("CZtVerovePadQt::OnButtonPatternExternalReleased", L"Start");
    if (!m_device) {
        return;
    }
    CZtQ9DialogForQt* dialog = CZtVerovePadDialogs::Get(
        &m_patternDialog, [this] { return NewPatternDialog(); },
        [this](CZtQ9DialogForQt* made) {
            CZtVerovePadDialogs::Connect(made, this, &CZtVerovePadQt::OnPatternDialogAccepted,
                                         &CZtVerovePadQt::OnPatternDialogRejected,
                                         &CZtVerovePadQt::OnPatternDialogClosed);
        });
    if (dialog && !dialog->IsVisible()) {
        CZtVerovePadDialogs::RunWithDropTarget(dialog, window());
    }
}

void CZtVerovePadQt::OnPatternDialogAccepted() {
    VEROVE_LOG("CZtVerovePadQt::OnPatternDialogAccepted", L"Start");
    CZtVerovePadDialogs::Close(&m_patternDialog, this);
    if (m_device) {
        // The edited list becomes the device's patterns and is kept in the settings file.
        m_device->CheckBitmapPatterns();
        m_device->SaveSettings();
        OnUpdatePatternsCombo();
    }
}

void CZtVerovePadQt::OnPatternDialogRejected() {
    VEROVE_LOG("CZtVerovePadQt::OnPatternDialogRejected", L"Start");
    CZtVerovePadDialogs::Close(&m_patternDialog, this);
}

void CZtVerovePadQt::OnPatternDialogClosed() {
    VEROVE_LOG("CZtVerovePadQt::OnPatternDialogClosed", L"Start");
    CZtVerovePadDialogs::Close(&m_patternDialog, this);
}

// ---- Patterns -----------------------------------------------------------------------------------

void CZtVerovePadQt::OnPatternSelectionChanged(int iIndex) {
    const char* function = "CZtVerovePadQt::OnPatternSelectionChanged";
    VEROVE_LOG(function, L"Start - (%d)", iIndex);
    CZtPatternComboBox* combo = m_ui.m_pComboPattern;
    if (!combo) {
        return;
    }
    for (const QPointer<QWidget>& widget : m_disabledWidgets) {
        if (widget == combo) {
            VEROVE_LOG(function,
                       L"Pattern selection not handled - pattern combo currently disabled");
            return;
        }
    }
    CZtVeroveDriver* driver = m_device ? m_device->GetDriver() : nullptr;
    bool isId = false;
    const int id = combo->itemData(iIndex).toInt(&isId);
    if (iIndex < 0 || iIndex >= combo->count() || !isId || id < 0 || !driver) {
        return;
    }
    m_selectedPatternIndex = iIndex;
    driver->ExposePattern(id, false);
    m_device->SetActivePatternId(static_cast<ZT_DWORD>(id));
}

void CZtVerovePadQt::OnActivePatternChanged(zt_uint32 uiActivePatternId) {
    VEROVE_LOG("CZtVerovePadQt::OnActivePatternChanged", L"Start - (%u)", uiActivePatternId);
    CZtPatternComboBox* combo = m_ui.m_pComboPattern;
    if (!combo) {
        return;
    }
    const QVariant selected = combo->itemData(m_selectedPatternIndex);
    if (selected.isValid() && selected.toUInt() == uiActivePatternId) {
        return;
    }
    const int index = combo->findData(static_cast<int>(uiActivePatternId));
    if (index >= 0) {
        // The device shows the pattern already: selecting it must not expose it again.
        const QSignalBlocker blocker(combo);
        combo->setCurrentIndex(index);
        m_selectedPatternIndex = index;
    }
}

void CZtVerovePadQt::OnUpdatePatternsCombo() {
    VEROVE_LOG("CZtVerovePadQt::OnUpdatePatternsCombo", L"Start");
    CZtPatternComboBox* combo = m_ui.m_pComboPattern;
    if (!combo) {
        return;
    }
    const int previousIndex = combo->currentIndex();
    const QString previousText = combo->currentText();
    std::vector<PatternVecEntryGroup> list = CZtVerovePadPatterns::Build(m_device);
    if (CZtVerovePadPatterns::Equal(list, m_patternEntries)) {
        return;
    }
    // Filling the combo moves its index through items the user never chose: none of them may
    // reach the DMD.
    const QSignalBlocker blocker(combo);
    m_patternEntries = std::move(list);
    CZtVerovePadPatterns::Fill(combo, m_patternEntries);
    const int selection = CZtVerovePadPatterns::Selection(combo, previousIndex, previousText);
    combo->setCurrentIndex(selection);
    m_selectedPatternIndex = selection;
}

// ---- Grey levels --------------------------------------------------------------------------------

void CZtVerovePadQt::OnPickerGrayscalingChecked() {
    VEROVE_LOG("CZtVerovePadQt::OnPickerGrayscalingChecked",
               L"CZtVerovePadQt::OnPickerGrayscalingReleased()");
    CZtPickerTogglePushButton* picker = m_ui.m_pPickerGrayscaling;
    if (!picker) {
        return;
    }
    const int bits = CZtVerovePadRules::BitDepthOfItem(picker->GetCurrentIndex());
    if (!m_device || (picker->IsPickerChecked() && bits == 1)) {
        const QSignalBlocker blocker(picker);
        picker->SetPickerChecked(false);
    }
    if (!m_device) {
        return;
    }
    m_device->SetGrayscaleEnabled(picker->IsPickerChecked());
    m_device->SetBitDepth(picker->IsPickerChecked() ? bits : 1, false);
    m_device->SaveSettings();
}

void CZtVerovePadQt::OnPickerGrayscalingSelectionChanged(QAction* pAction) {
    VEROVE_LOG("CZtVerovePadQt::OnPickerGrayscalingSelectionChanged", L"Start");
    if (m_device && pAction) {
        m_device->SetGrayscaleLevels(CZtVerovePadRules::LevelsOfText(pAction->text()));
        OnPickerGrayscalingChecked();
    }
}

void CZtVerovePadQt::SetGrayscaleLevels(int levels) {
    if (CZtPickerTogglePushButton* picker = m_ui.m_pPickerGrayscaling) {
        const QSignalBlocker blocker(picker);
        picker->SetCurrentText(CZtVerovePadRules::LevelsText(levels));
    }
    if (m_device) {
        m_device->SetGrayscaleLevels(levels);
    }
}

void CZtVerovePadQt::SetGrayscaleChecked(bool checked) {
    if (CZtPickerTogglePushButton* picker = m_ui.m_pPickerGrayscaling) {
        const QSignalBlocker blocker(picker);
        picker->SetPickerChecked(checked);
    }
    if (m_device) {
        m_device->SetGrayscaleEnabled(checked);
    }
}

// ---- Pulse times --------------------------------------------------------------------------------

void CZtVerovePadQt::OnComboPulseTimeSelectionChanged(int iIndex) {
    VEROVE_LOG("CZtVerovePadQt::OnComboPulseTimeSelectionChanged", L"Start - (%d)", iIndex);
    if (!m_device || !m_ui.m_pComboPulseTime) {
        return;
    }
    if (m_device->IsPadPulseStimulation()) {
        if (m_pulseTimer) {
            m_pulseTimer->stop();
        }
        m_device->ManualShotEnd();
        OnStimulationHasEnded();
        OnUpdateStatusMessage();
    }
    const QString text = m_ui.m_pComboPulseTime->currentText();
    bool ok = false;
    m_device->SetPadPulseDuration(CZtVerovePulseTimes::DurationOf(text, false, &ok));
    m_device->SaveSettings();
    UpdateControlsAvailabilityAndTooltips();
}

void CZtVerovePadQt::OnUpdateDurationsCombo() {
    VEROVE_LOG("CZtVerovePadQt::OnUpdateDurationsCombo", L"Start");
    if (m_ui.m_pComboPulseTime) {
        CZtVerovePulseTimes::Fill(m_ui.m_pComboPulseTime, &m_durationTexts,
                                  m_device ? m_device->GetPadPulseDuration() : 1000.0);
    }
}

// ---- Stimulation --------------------------------------------------------------------------------

// The manual calibration dialog opened from the configuration dialog, if one is open.
static CZtManualCalibrationDialog* ManualCalibrationDialogOf(CZtStimulationDeviceVerove* device) {
    CZtVeroveConfig* config = device ? device->GetConfigurationDialog() : nullptr;
    return config ? config->GetManualCalibrationDialog() : nullptr;
}

void CZtVerovePadQt::CheckCalibrationStimulation(bool checked) {
    CZtAutocalibrationDialog* dialog =
        m_device ? m_device->GetAutocalibration().GetDialog() : nullptr;
    if (dialog) {
        dialog->OnStimulationStateChangedExternal(checked);
    }
    if (CZtManualCalibrationDialog* manual = ManualCalibrationDialogOf(m_device)) {
        manual->OnStimulationStateChangedExternal(checked);
    }
}

void CZtVerovePadQt::EnableCalibrationStimulation(bool enabled) {
    CZtAutocalibrationDialog* dialog =
        m_device ? m_device->GetAutocalibration().GetDialog() : nullptr;
    if (dialog && dialog->isVisible()) {
        dialog->OnStimulationButtonAvailabilityChanged(enabled);
    }
    CZtManualCalibrationDialog* manual = ManualCalibrationDialogOf(m_device);
    if (manual && manual->isVisible()) {
        manual->OnStimulationButtonAvailabilityChanged(enabled);
    }
}

void CZtVerovePadQt::OnButtonPulseReleased() {
    const char* function = "CZtVerovePadQt::OnButtonPulseReleased";
    VEROVE_LOG(function, L"CZtVerovePadQt::OnButtonPulseReleased()");
    if (!m_ui.m_pComboPulseTime) {
        return;
    }
    if (!m_device) {
        VEROVE_LOG(function, L"No stimulation device assigned to pad, nothing started.");
        return;
    }
    if (!m_pulseTimer) {
        m_pulseTimer = new QTimer(this);
        m_pulseTimer->setSingleShot(true);
        connect(m_pulseTimer, &QTimer::timeout, this, &CZtVerovePadQt::OnPulseTimerTimeout);
    }
    if (m_device->IsPadPulseStimulation()) {
        m_pulseTimer->stop();
        m_device->ManualShotEnd();
        OnStimulationHasEnded();
        OnUpdateStatusMessage();
        return;
    }
    const QString text = m_ui.m_pComboPulseTime->currentText();
    bool ok = false;
    const double duration = CZtVerovePulseTimes::DurationOf(text, true, &ok);
    if (ok) {
        m_lastPulseText = text;
        m_device->SetPadPulseStimulation(true);
        CheckCalibrationStimulation(true);
    } else {
        ZT_MessageBox_(this,
                       ZT_GetTranslation(L"Unable to parse the pulse time, cannot stimulate!"),
                       ZT_GetTranslation(L"Warning"), ZT_MB_OK | ZT_MB_ICONWARNING);
        m_lastPulseText.clear();
        m_device->SetPadPulseStimulation(false);
    }
    if (!m_device->IsPadPulseStimulation() || !(duration > 0.0)) {
        m_pulseTimer->stop();
        OnUpdateStatusMessage();
        return;
    }
    if (!m_device->GetDriver()) {
        VEROVE_LOG(function, L"No driver, nothing started.");
        m_device->SetPadPulseStimulation(false);
        OnUpdateStatusMessage();
        return;
    }
    CZtAutocalibrationDialog* calibration = m_device->GetAutocalibration().GetDialog();
    if (calibration && calibration->isVisible()) {
        VEROVE_LOG(function,
                   L": Setting up S1 stimulation according to Direct Control tab for stimulation "
                   L"from autocalibration dialog");
        m_laserSection.CopyDirectControlToS1(m_device);
    }
    UpdateControlsAvailabilityAndTooltips();
    OnUpdateStatusMessage();
    QApplication::processEvents();
    // The pulse flag stays as set above: the device clears it when the shot ends, which for a
    // short pulse may happen before ManualShotBegin returns.
    m_device->ManualShotBegin(1 << CheckedGroup(), duration);
    m_pulseTimer->start(static_cast<int>(std::lround(duration)));
}

void CZtVerovePadQt::OnButtonManualPressed() {
    const char* function = "CZtVerovePadQt::OnButtonManualPressed";
    VEROVE_LOG(function, L"Start");
    if (!m_device) {
        VEROVE_LOG(function, L"No stimulation device assigned to pad, nothing started.");
        return;
    }
    m_device->SetPadManualStimulation(true);
    if (m_device->GetDriver()) {
        m_device->ManualShotBegin(1 << CheckedGroup(), 0.0);
        if (m_device->IsManualShotActive() && m_ui.m_pBtnPulse) {
            m_ui.m_pBtnPulse->setEnabled(false);
            m_ui.m_pBtnPulse->repaint();
            CheckCalibrationStimulation(true);
        }
    } else {
        VEROVE_LOG(function, L"No driver, nothing started.");
        m_device->SetPadManualStimulation(false);
    }
    OnUpdateStatusMessage();
}

void CZtVerovePadQt::OnButtonManualReleased() {
    VEROVE_LOG("CZtVerovePadQt::OnButtonManualReleased", L"Start");
    if (m_device && m_device->GetDriver()) {
        m_device->ManualShotEnd();
    }
    OnStimulationHasEnded();
}

void CZtVerovePadQt::OnPulseTimerTimeout() {
    VEROVE_LOG("CZtVerovePadQt::OnPulseTimerTimeout", L"Start");
    emit sigStimulationHasEnded();
    if (m_pulseTimer) {
        m_pulseTimer->stop();
    }
}

void CZtVerovePadQt::OnStopAllStimulation() {
    VEROVE_LOG("CZtVerovePadQt::OnStopAllStimulation", L"Start");
    if (m_device && m_device->IsPadPulseStimulation()) {
        OnButtonPulseReleased();
    }
}

void CZtVerovePadQt::StimulateS1() {
    VEROVE_LOG("CZtVerovePadQt::StimulateS1", L"Start");
    if (QPushButton* s1 = m_ui.m_stimGroupButtons[0]) {
        s1->setChecked(true);
    }
    OnStimGrpButtonReleased(0);
    OnButtonPulseReleased();
}

void CZtVerovePadQt::OnStimulationHasEnded() {
    VEROVE_LOG("CZtVerovePadQt::OnStimulationHasEnded", L"Start");
    UpdateControlsAvailabilityAndTooltips();
    OnUpdateStatusMessage();
    CheckCalibrationStimulation(false);
}

void CZtVerovePadQt::OnUpdateStimulationState() {
    VEROVE_LOG("CZtVerovePadQt::OnUpdateStimulationState", L"Start");
    emit sigUpdateStatusMessage();
    UpdateControlsAvailabilityAndTooltips();
}

// ---- Status and controls ------------------------------------------------------------------------

void CZtVerovePadQt::OnUpdateStatusMessage() {
    QLabel* label = m_ui.m_pLabelStatus;
    if (!label) {
        return;
    }
    SZtPadSituation situation = CZtVerovePadRules::Read(m_device);
    situation.lastPulseText = m_lastPulseText;
    if (m_device && (situation.manual || situation.pulse || situation.calibrationData)) {
        QString style;
        const QString text = CZtVerovePadRules::StatusText(situation, &style);
        CZtVerovePadRules::ShowStatus(label, text, style);
    }
    UpdateControlsAvailabilityAndTooltips();
}

void CZtVerovePadQt::UpdateControlsAvailabilityAndTooltips() {
    if (!m_device) {
        VEROVE_LOG("CZtVerovePadQt::UpdateControlsAvailabilityAndTooltips",
                   L"Unable to update controls availability, no stimulation device assigned to "
                   L"pad.");
        return;
    }
    for (const QPointer<QWidget>& widget : m_disabledWidgets) {
        if (widget) {
            widget->setEnabled(true);
        }
    }
    SZtPadSituation situation = CZtVerovePadRules::Read(m_device);
    situation.group = CheckedGroup();
    situation.groupHasAreas = IsGroupWithAreas(situation.group);
    situation.s1HasAreas = IsGroupWithAreas(0);
    situation.pulseText =
        m_ui.m_pComboPulseTime ? m_ui.m_pComboPulseTime->currentText() : QString();
    const SZtPadAvailability available = CZtVerovePadRules::Availability(situation);
    OnUpdatePatternsCombo();
    CZtVerovePadRules::Apply(available, m_ui);
    EnableCalibrationStimulation(available.calibrationStimulation);

    m_disabledWidgets.clear();
    if (GetWidgetsToDisable(m_device->GetDisableMode(), m_disabledWidgets) == 0) {
        for (const QPointer<QWidget>& widget : m_disabledWidgets) {
            if (widget) {
                widget->setEnabled(false);
            }
        }
    }
}

zt_result CZtVerovePadQt::GetWidgetsToDisable(EZtDisableMode eMode,
                                              vecpItemsToDisable& itemsToDisable) {
    return CZtVerovePadRules::WidgetsToDisable(eMode, m_ui, &itemsToDisable);
}

void CZtVerovePadQt::OnDisableGUIModeChanged() {
    VEROVE_LOG("CZtVerovePadQt::OnDisableGUIModeChanged", L"Start");
    UpdateControlsAvailabilityAndTooltips();
}

// ---- Laser lines --------------------------------------------------------------------------------

void CZtVerovePadQt::OnAssociatedLightAvailabilityChanged() {
    VEROVE_LOG("CZtVerovePadQt::OnAssociatedLightAvailabilityChanged",
               L"CZtVerovePadQt::OnMultilaserAvailabilityChanged()");
}

void CZtVerovePadQt::ConnectLine(CZtVeroveLaserLine* widget) {
    connect(widget, &CZtVeroveLaserLine::LinePowerChanged, this,
            &CZtVerovePadQt::OnLaserlinePowerChanged);
    connect(widget, &CZtVeroveLaserLine::LineUsedChanged, this, &CZtVerovePadQt::OnLaserlineUsed);
    connect(widget, &CZtVeroveLaserLine::LineVisibilityChanged, this,
            &CZtVerovePadQt::OnLaserLineCountChange);
}

void CZtVerovePadQt::RebuildLaserSection(const SZtVerovePadLight& light) {
    VEROVE_LOG("CZtVerovePadQt::RebuildLaserSection", L"Start - %d lines",
               static_cast<int>(light.lines.size()));
    if (!m_layoutBuilt) {
        return;
    }
    m_laserSection.Rebuild(light, [this](CZtVeroveLaserLine* line) { ConnectLine(line); });
    OnLaserLineCountChange();
    if (m_ui.m_pBtnShutter) {
        EnableDirectControls(!m_ui.m_pBtnShutter->isEnabled() || m_ui.m_pBtnShutter->isChecked());
    }
}

void CZtVerovePadQt::ClearLaserLines() {
    if (m_layoutBuilt) {
        m_laserSection.Clear();
        OnLaserLineCountChange();
    }
}

void CZtVerovePadQt::AddLaserLine(int line) {
    if (m_layoutBuilt &&
        m_laserSection.AddOrShow(CZtVerovePadLaserSection::ReadLight(m_device), line,
                                 [this](CZtVeroveLaserLine* widget) { ConnectLine(widget); })) {
        OnLaserLineCountChange();
    }
}

void CZtVerovePadQt::ShowLine(int line) {
    const SZtVerovePadLight light = CZtVerovePadLaserSection::ReadLight(m_device);
    if (line >= 0 && line < static_cast<int>(light.lines.size())) {
        m_laserSection.ShowValues(light.lines[static_cast<size_t>(line)]);
    }
}

void CZtVerovePadQt::OnLaserLineShow(int iLaserLineId, bool bShow) {
    VEROVE_LOG("CZtVerovePadQt::OnLaserLineShow", L"CZtVerovePadQt::OnLaserLineShow(%d, %d)",
               iLaserLineId, bShow ? 1 : 0);
    if (iLaserLineId >= 0) {
        m_laserSection.SetShown(static_cast<std::uint32_t>(iLaserLineId), bShow);
    }
}

SZtVerovePadLaserLine* CZtVerovePadQt::SenderLine(EZtStimGroup group) {
    SZtVerovePadLaserLine* record = m_laserSection.FindByWidget(sender());
    if (!record || group < 0 || group >= ZT_STIM_GROUP_COUNT) {
        VEROVE_LOG("CZtVerovePadQt::OnLaserPowerChanged",
                   L"CZtVerovePadQt::OnLaserPowerChanged: Unknown sender, returning");
        return nullptr;
    }
    return record;
}

void CZtVerovePadQt::OnLaserlinePowerChanged(EZtStimGroup eGrp, double dPower) {
    if (SZtVerovePadLaserLine* record = SenderLine(eGrp)) {
        VEROVE_LOG("CZtVerovePadQt::OnLaserPowerChanged",
                   L"CZtVerovePadQt::OnLaserPowerChanged(%d, %d, %f)", static_cast<int>(eGrp),
                   static_cast<int>(record->line), dPower);
        record->power[eGrp] = dPower;
        if (m_device) {
            m_device->SetLinePower(static_cast<int>(record->line), eGrp, dPower);
        }
    }
}

void CZtVerovePadQt::OnLaserlineUsed(EZtStimGroup eGrp, bool bLineUsed) {
    if (SZtVerovePadLaserLine* record = SenderLine(eGrp)) {
        VEROVE_LOG("CZtVerovePadQt::OnLaserPowerChanged",
                   L"CZtVerovePadQt::OnLaserPowerChanged(%d, %d, %d)", static_cast<int>(eGrp),
                   static_cast<int>(record->line), bLineUsed ? 1 : 0);
        record->used[eGrp] = bLineUsed;
        if (m_device) {
            m_device->SetLineUsed(static_cast<int>(record->line), eGrp, bLineUsed);
        }
    }
}

void CZtVerovePadQt::OnLaserLineCountChange() {
    const int count = m_laserSection.CountShown(m_device);
    const int change = count - m_visibleLaserLineCount;
    m_visibleLaserLineCount = count;
    if (change != 0 && m_wrapper) {
        m_wrapper->ChangeBaseHeight(40 * change);
    }
}

// ---- Refresh from the device
// ---------------------------------------------------------------------

void CZtVerovePadQt::RefreshFromDevice() {
    VEROVE_LOG("CZtVerovePadQt::RefreshFromDevice", L"Start");
    if (!m_device || !m_layoutBuilt) {
        return;
    }
    const SZtVerovePadLight light = CZtVerovePadLaserSection::ReadLight(m_device);
    if (m_laserSection.Shows(light)) {
        m_laserSection.Sync(light);
    } else {
        RebuildLaserSection(light);
    }
    CZtStringW text;
    bool enabled = false;
    bool open = false;
    CZtVerovePadRules::ReadShutter(m_device, &text, &enabled, &open);
    emit sigChangeAssociatedShutter(text, enabled, open);
    SetGrayscaleLevels(m_device->GetGrayscaleLevels());
    SetGrayscaleChecked(m_device->IsGrayscaleEnabled());
    OnUpdateDurationsCombo();
    OnUpdateStimulationGroupButtonsAvailability();
    OnUpdateStatusMessage();
}
