// The auto-calibration dialog.
#include "cztautocalibrationdialog.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStringList>
#include <QStyle>
#include <QVBoxLayout>
#include <QVariant>
#include <cmath>

#include "cztautocalibration.h"
#include "cztstimulationdeviceverove.h"
#include "cztverovelightpath.h"
#include "cztverovepadqt.h"
#include "verove_log.h"
#include "verovestatus.h"
#include "zt/zt_acquisition.h"
#include "zt/zt_util.h"

namespace {

QString Tr(const wchar_t* text) {
    return QString::fromStdWString(ZT_GetTranslation(text).Str());
}

QLabel* AddLabel(QVBoxLayout* layout, const wchar_t* text) {
    auto* label = new QLabel(Tr(text));
    label->setWordWrap(true);
    layout->addWidget(label);
    return label;
}

}  // namespace

CZtAutocalibrationDialog::CZtAutocalibrationDialog(CZtStimulationDeviceVerove* device,
                                                   QWidget* parent)
    : QDialog(parent), m_pDevice(device) {}

CZtAutocalibrationDialog::~CZtAutocalibrationDialog() {
    if (m_pDevice) {
        m_pDevice->SetAutocalibrationDialog(nullptr);
        m_pDevice->SetCalibrationInProgress(false);
    }
}

int CZtAutocalibrationDialog::SetupUi() {
    if (!m_pDevice) {
        ZT_MessageBox_(this,
                       ZT_GetTranslation(L"Autocalibration failed due to internal error, aborting.")
                           .GetString(),
                       ZT_GetTranslation(L"Verove autocalibration error").GetString(),
                       ZT_MB_OK | ZT_MB_ICONERROR);
        VEROVE_LOG("CZtAutocalibrationDialog::SetupUi",
                   L"Autocalibration failed, Stimulation Device pointer not set.");
        reject();
        return VeroveStatus::kRefused;
    }
    setWindowTitle(Tr(L"Autocalibration dialog"));
    QFile styleSheet(
        QStringLiteral(":/q9_plugin_Verove/resources/Stylesheets/VeroveAutocalibration.qss"));
    if (styleSheet.open(QIODevice::ReadOnly)) {
        setStyleSheet(QString::fromUtf8(styleSheet.readAll()));
    }
    auto* layout = new QVBoxLayout(this);

    m_pPageFocus = new QGroupBox(this);
    auto* focus = new QVBoxLayout(m_pPageFocus);
    AddLabel(focus, L"DMD is now set to display Calibration grid.");
    AddLabel(focus,
             L"Please focus the grid. DMD pattern illumination and the specimen plane should be "
             L"parfocal. Then click on \"Next\".");
    AddLabel(focus,
             L"Hint: for best results, provide a highly reflective sample and turn off "
             L"binning.");
    m_pBtnFocus = new QPushButton(Tr(L"Auto Focus..."), m_pPageFocus);
    if (!ZT_HasZStage()) {
        m_pBtnFocus->setEnabled(false);
        m_pBtnFocus->setStatusTip(Tr(L"No Z stage connected."));
    }
    focus->addWidget(m_pBtnFocus);
    layout->addWidget(m_pPageFocus);

    m_pPageProgress = new QGroupBox(this);
    auto* progress = new QVBoxLayout(m_pPageProgress);
    AddLabel(progress, L"Calibration progress");
    m_pProgressBar = new QProgressBar(m_pPageProgress);
    m_pProgressBar->setRange(0, 100);
    m_pProgressBar->setValue(0);
    progress->addWidget(m_pProgressBar);
    layout->addWidget(m_pPageProgress);

    m_pPageVerify = new QGroupBox(this);
    auto* verify = new QVBoxLayout(m_pPageVerify);
    AddLabel(verify, L"Verify calibration by stimulation inside ROI.");
    m_pBtnStimulate = new QPushButton(Tr(L"Stimulate S1 group"), m_pPageVerify);
    m_pBtnStimulate->setCheckable(true);
    verify->addWidget(m_pBtnStimulate);
    AddLabel(verify, L"Push the \"Stimulate S1 group\" button to stimulate inside the ROI.");
    AddLabel(verify, L"Click on \"OK\" to confirm the callibration.");
    m_pLabelQuality = new QLabel(m_pPageVerify);
    m_pLabelQuality->setWordWrap(true);
    verify->addWidget(m_pLabelQuality);
    m_pLabelWarning = new QLabel(m_pPageVerify);
    m_pLabelWarning->setWordWrap(true);
    m_pLabelWarning->setProperty("warning", true);
    m_pLabelWarning->hide();
    verify->addWidget(m_pLabelWarning);
    layout->addWidget(m_pPageVerify);

    m_pLabelMessage = new QLabel(this);
    m_pLabelMessage->setWordWrap(true);
    layout->addWidget(m_pLabelMessage);

    m_pButtonBox = new QDialogButtonBox(this);
    m_pBtnNext = m_pButtonBox->addButton(Tr(L"Next"), QDialogButtonBox::ActionRole);
    m_pBtnOK = m_pButtonBox->addButton(Tr(L"OK"), QDialogButtonBox::AcceptRole);
    m_pBtnCancel = m_pButtonBox->addButton(Tr(L"Cancel"), QDialogButtonBox::RejectRole);
    m_pBtnOK->hide();
    layout->addWidget(m_pButtonBox);

    connect(m_pBtnFocus, &QPushButton::clicked, this, &CZtAutocalibrationDialog::OnButtonFocus);
    connect(m_pBtnNext, &QPushButton::clicked, this, &CZtAutocalibrationDialog::OnButtonNext);
    connect(m_pBtnStimulate, &QPushButton::clicked, this,
            &CZtAutocalibrationDialog::OnButtonStimulate);
    connect(m_pButtonBox, &QDialogButtonBox::accepted, this, &CZtAutocalibrationDialog::accept);
    connect(m_pButtonBox, &QDialogButtonBox::rejected, this, &CZtAutocalibrationDialog::reject);
    // The worker emits these on its own thread.
    connect(this, &CZtAutocalibrationDialog::NotifyProgress, this,
            &CZtAutocalibrationDialog::UpdateProgress, Qt::QueuedConnection);
    connect(this, &CZtAutocalibrationDialog::NotifyCalibrationRunEnded, this,
            &CZtAutocalibrationDialog::OnCalibrationRunEnded, Qt::QueuedConnection);
    connect(this, &CZtAutocalibrationDialog::NotifyPictureUpdate, this,
            &CZtAutocalibrationDialog::OnPictureUpdate, Qt::QueuedConnection);

    ShowStep(0);
    m_pDevice->SetAutocalibrationDialog(this);
    return m_pDevice->OnAutocalibrationInit();
}

void CZtAutocalibrationDialog::ShowStep(int step) {
    m_iStep = step;
    m_pPageFocus->setEnabled(step == 0);
    m_pPageProgress->setEnabled(step == 1);
    m_pPageVerify->setEnabled(step == 2);
    m_pBtnStimulate->setEnabled(step == 2);
}

void CZtAutocalibrationDialog::OnButtonNext() {
    if (m_bFinished || !m_pDevice) {
        return;
    }
    if (m_iStep == 0) {
        m_pBtnNext->setEnabled(false);
        ShowStep(1);
        m_pProgressBar->setValue(0);
        const int result = m_pDevice->AutocalibrationRun();
        // Without a worker no run-ended signal will come.
        if (result != 0) {
            OnCalibrationRunEnded(result);
        }
    } else if (m_iStep == 1) {
        ShowStep(2);
        m_pBtnNext->hide();
        m_pBtnOK->show();
        m_pDevice->OnAutocalibrationValidationPhase();
        ShowQuality(0);
    }
}

void CZtAutocalibrationDialog::OnCalibrationRunEnded(int result) {
    if (m_bFinished || m_iStep != 1) {
        return;
    }
    if (result == 0) {
        m_pProgressBar->setValue(100);
        OnButtonNext();
        return;
    }
    // Lets the waiting worker end; the failed run has nothing to apply.
    m_pDevice->OnAutocalibrationEnd(true);
    ShowStep(2);
    m_pBtnNext->hide();
    m_pBtnOK->show();
    ShowQuality(result);
}

void CZtAutocalibrationDialog::ShowQuality(int result) {
    const CZtAutocalibration& run = m_pDevice->GetAutocalibration();
    const auto found = static_cast<qulonglong>(run.GetDmdPoints().size());
    const auto asked = static_cast<qulonglong>(CZtAutocalibration::kSquaresAsked);
    const SZtCalibrationFit& fit = run.GetFit();
    if (result != 0 || fit.pairs == 0) {
        m_pLabelQuality->setText(Tr(L"Calibration failed: %1 of the %2 squares asked were found.")
                                     .arg(found)
                                     .arg(asked));
    } else {
        m_pLabelQuality->setText(Tr(L"Pairs used: %1 of %2 squares found (%3 asked). Residual "
                                    L"of the fit on its own pairs: %4 px rms, %5 px max (camera "
                                    L"pixels).")
                                     .arg(static_cast<qulonglong>(fit.pairs))
                                     .arg(found)
                                     .arg(asked)
                                     .arg(fit.rms, 0, 'f', 3)
                                     .arg(fit.max, 0, 'f', 3));
    }
    QStringList warnings;
    if (found < asked) {
        warnings << Tr(L"Warning: only %1 of the %2 squares asked were found. Check the focus "
                       L"and that the DMD field lies inside the camera image.")
                        .arg(found)
                        .arg(asked);
    }
    if (result == 0 && fit.IsHigh()) {
        warnings << Tr(
            L"Warning: the residual of the fit is high; some squares may have been "
            L"found off their place. Check the focus and the sample, then calibrate "
            L"again.");
    }
    m_pLabelWarning->setText(warnings.join('\n'));
    m_pLabelWarning->setVisible(!warnings.isEmpty());
}

void CZtAutocalibrationDialog::UpdateProgress() {
    if (m_pDevice) {
        m_pProgressBar->setValue(
            static_cast<int>(std::lround(m_pDevice->GetAutocalibrationProgress())));
    }
}

void CZtAutocalibrationDialog::OnPictureUpdate() {
    if (m_pDevice) {
        m_pDevice->GetAutocalibration().RefreshCalibrationDocument();
    }
}

void CZtAutocalibrationDialog::OnButtonFocus() {
    ZT_ShowFocusSetup();
}

void CZtAutocalibrationDialog::OnButtonStimulate() {
    CZtVerovePadQt* pad = m_pDevice ? m_pDevice->GetPad() : nullptr;
    if (pad && m_pDevice->GetLightPath().GetLightId() != 0) {
        pad->StimulateS1();
        return;
    }
    m_pLabelMessage->setText(Tr(L"No associated laser launch, cannot stimulate."));
    m_pLabelMessage->setProperty("error", true);
    m_pLabelMessage->style()->unpolish(m_pLabelMessage);
    m_pLabelMessage->style()->polish(m_pLabelMessage);
    m_pBtnStimulate->setChecked(false);
}

void CZtAutocalibrationDialog::OnStimulationButtonAvailabilityChanged(bool available) {
    m_pBtnStimulate->setEnabled(available && m_iStep == 2);
}

void CZtAutocalibrationDialog::OnStimulationStateChangedExternal(bool state) {
    const QSignalBlocker blocker(m_pBtnStimulate);
    m_pBtnStimulate->setChecked(state);
}

bool CZtAutocalibrationDialog::Finish() {
    if (m_bFinished) {
        return false;
    }
    m_bFinished = true;
    // The light of a verification still running must not outlive the dialog.
    if (CZtVerovePadQt* pad = m_pDevice ? m_pDevice->GetPad() : nullptr) {
        pad->OnStopAllStimulation();
    }
    return true;
}

void CZtAutocalibrationDialog::accept() {
    if (Finish()) {
        QDialog::accept();
    }
}

void CZtAutocalibrationDialog::reject() {
    if (Finish()) {
        QDialog::reject();
    }
}

bool CZtAutocalibrationDialog::close() {
    if (!Finish()) {
        return false;
    }
    emit closed();
    setResult(QDialog::Rejected);
    hide();
    return true;
}
