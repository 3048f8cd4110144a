// The device's configuration dialog.
#include "cztveroveconfig.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>
#include <vector>

#include "cztautocalibrationdialog.h"
#include "cztcalibrationdata.h"
#include "cztcalibrationtreewidget.h"
#include "cztmanualcalibrationdialog.h"
#include "cztstimulationdeviceverove.h"
#include "cztverovedriver.h"
#include "cztverovelightpath.h"
#include "verove_log.h"
#include "zt/zt_devices.h"
#include "zt/zt_util.h"

namespace {

QString Tr(const wchar_t* text) {
    return QString::fromStdWString(ZT_GetTranslation(text).Str());
}

// The driver's text, or "<unavailable>" when it cannot tell.
QString VersionText(int status, const CZtStringW& text) {
    return status == 0 && !text.IsEmpty() ? QString::fromStdWString(text.Str())
                                          : Tr(L"<unavailable>");
}

// Fills combo with "<none>" (id 0) and the candidates, selecting the one with id current; no
// signal reaches the dialog meanwhile.
void FillCombo(QComboBox* combo, const std::vector<const std::vector<SZtVeroveCandidate>*>& lists,
               ZT_DWORD current) {
    const QSignalBlocker blocker(combo);
    combo->clear();
    combo->addItem(Tr(L"<none>"), 0u);
    for (const auto* list : lists) {
        for (const SZtVeroveCandidate& candidate : *list) {
            combo->addItem(QString::fromStdWString(candidate.key.Str()), candidate.id);
            if (candidate.id == current) {
                combo->setCurrentIndex(combo->count() - 1);
            }
        }
    }
}

}  // namespace

CZtVeroveConfig::CZtVeroveConfig(CZtStimulationDeviceVerove* device, bool fromDevice,
                                 QWidget* parent)
    : CZtQ9DialogForQt(parent), m_pDevice(device), m_bFromDevice(fromDevice) {}

CZtVeroveConfig::~CZtVeroveConfig() {
    // A calibration dialog still open ends with the configuration dialog, restoring the device.
    if (m_pManualDialog) {
        disconnect(m_pManualDialog, nullptr, this, nullptr);
        delete m_pManualDialog;
        if (m_pDevice) {
            m_pDevice->OnManualCalibrationEnd(false);
            ReloadCalibration();
        }
    }
    if (m_pAutoDialog) {
        disconnect(m_pAutoDialog, nullptr, this, nullptr);
        delete m_pAutoDialog;
        if (m_pDevice) {
            m_pDevice->OnAutocalibrationEnd(false);
            ReloadCalibration();
        }
    }
    if (m_pDevice) {
        m_pDevice->SetConfigurationDialog(nullptr);
    }
}

int CZtVeroveConfig::RunModal(CZtStimulationDeviceVerove* device, QWidget* parent) {
    CZtVeroveConfig dialog(device, true);
    dialog.SetupUi();
    int result = 0;
    if (parent) {
        result = dialog.DoModal(parent->window(), true, 0);
    } else {
        Q9_EnableGUI(false);
        result = dialog.exec();
        Q9_EnableGUI(true);
    }
    VEROVE_LOG("CZtStimulationDeviceVerove::ShowConfigurationDialog", L"End, dialog result %d",
               result);
    return 0;
}

void CZtVeroveConfig::SetupUi() {
    setWindowTitle(Tr(L"DMD Configuration"));
    QFile styleSheet(QStringLiteral(":/q9_plugin_Verove/resources/Stylesheets/VeroveConfig.qss"));
    if (styleSheet.open(QIODevice::ReadOnly)) {
        setStyleSheet(QString::fromUtf8(styleSheet.readAll()));
    }
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(BuildHardwareInterface());
    layout->addWidget(BuildAssociatedDevices());
    layout->addWidget(BuildCalibration(), 1);
    layout->addWidget(BuildDmdInfo());
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CZtVeroveConfig::OnOK);
    connect(buttons, &QDialogButtonBox::rejected, this, &CZtVeroveConfig::OnCancel);
    layout->addWidget(buttons);

    UpdateExternalTriggeringRadios();
    UpdateAssociatedLightComboBox();
    UpdateAssociatedLightLaserlineCheckboxes();
    UpdateAssociatedSwitcherComboBox();
    UpdateAssociatedSwitcherPortComboBox();
    UpdateAssociatedShutterCheckboxes();
    UpdateDMDInfo();
    RebuildCalibrationTree();
    if (m_pDevice) {
        m_pDevice->SetConfigurationDialog(this);
    }
}

QWidget* CZtVeroveConfig::BuildHardwareInterface() {
    auto* group = new QGroupBox(Tr(L"HW Interface"), this);
    auto* layout = new QVBoxLayout(group);
    m_pRadioPLDA = new QRadioButton(Tr(L"USB/PCIe"), group);
    m_pRadioPLDATriggerIn = new QRadioButton(Tr(L"USB/PCIe + Ext Trig"), group);
    m_pLabelHWIfaceTriggerHint =
        new QLabel(Tr(L"If Ext Trig input is connected with the camera Exposure signal, pattern "
                      L"switching in Illumination Sequence is available."),
                   group);
    m_pLabelHWIfaceTriggerHint->setWordWrap(true);
    layout->addWidget(m_pRadioPLDA);
    layout->addWidget(m_pRadioPLDATriggerIn);
    layout->addWidget(m_pLabelHWIfaceTriggerHint);
    connect(m_pRadioPLDA, &QRadioButton::toggled, this, &CZtVeroveConfig::OnRadioPLDAToggled);
    connect(m_pRadioPLDATriggerIn, &QRadioButton::toggled, this,
            &CZtVeroveConfig::OnRadioPLDATriggerInToggled);
    return group;
}

QWidget* CZtVeroveConfig::BuildAssociatedDevices() {
    auto* group = new QGroupBox(Tr(L"Associated devices"), this);
    auto* form = new QFormLayout(group);
    auto* light = new QWidget(group);
    auto* lightLayout = new QVBoxLayout(light);
    lightLayout->setContentsMargins(0, 0, 0, 0);
    m_pComboLight = new QComboBox(light);
    m_pLaserLines = new QWidget(light);
    m_pLaserLinesLayout = new QVBoxLayout(m_pLaserLines);
    m_pLaserLinesLayout->setContentsMargins(0, 0, 0, 0);
    lightLayout->addWidget(m_pComboLight);
    lightLayout->addWidget(m_pLaserLines);
    form->addRow(Tr(L"Light:"), light);
    auto* switcher = new QWidget(group);
    auto* switcherLayout = new QHBoxLayout(switcher);
    switcherLayout->setContentsMargins(0, 0, 0, 0);
    m_pComboSwitcher = new QComboBox(switcher);
    m_pComboSwitcherPort = new QComboBox(switcher);
    switcherLayout->addWidget(m_pComboSwitcher);
    switcherLayout->addWidget(m_pComboSwitcherPort);
    form->addRow(Tr(L"Switcher:"), switcher);
    m_pListShutters = new QListWidget(group);
    form->addRow(Tr(L"Shutters:"), m_pListShutters);
    connect(m_pComboLight, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &CZtVeroveConfig::OnAssociatedLightCurrentIndexChanged);
    connect(m_pComboSwitcher, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &CZtVeroveConfig::OnAssociatedSwitcherCurrentIndexChanged);
    connect(m_pComboSwitcherPort, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &CZtVeroveConfig::OnAssociatedSwitcherPortCurrentIndexChanged);
    connect(m_pListShutters, &QListWidget::itemChanged, this,
            &CZtVeroveConfig::OnAssociatedShutterCheckboxStateChanged);
    return group;
}

QWidget* CZtVeroveConfig::BuildCalibration() {
    auto* group = new QGroupBox(Tr(L"Calibration"), this);
    m_pCalibrationLayout = new QVBoxLayout(group);
    auto* buttons = new QHBoxLayout();
    m_pBtnCalibrateAuto = new QPushButton(Tr(L"Auto Calibration"), group);
    m_pBtnCalibrateManual = new QPushButton(Tr(L"Manual Calibration"), group);
    m_pBtnCalibrationsClear = new QPushButton(Tr(L"Clear Calibrations"), group);
    for (QPushButton* button : {m_pBtnCalibrateAuto, m_pBtnCalibrateManual}) {
        button->setProperty("button_type", QStringLiteral("calibration_button"));
    }
    if (m_bFromDevice) {
        m_pBtnCalibrateAuto->hide();
        m_pLabelAutoFromPad = new QLabel(
            Tr(L"Use the 'Calibrate' button on the device pad to run this calibration."), group);
        m_pLabelAutoFromPad->setWordWrap(true);
        buttons->addWidget(m_pLabelAutoFromPad);
    }
    buttons->addWidget(m_pBtnCalibrateAuto);
    buttons->addWidget(m_pBtnCalibrateManual);
    buttons->addWidget(m_pBtnCalibrationsClear);
    m_pCalibrationLayout->addLayout(buttons);
    m_pCalibrationLayout->addWidget(new QLabel(Tr(L"Configurations:"), group));
    connect(m_pBtnCalibrateAuto, &QPushButton::clicked, this, &CZtVeroveConfig::OnBtnCalibrateAuto);
    connect(m_pBtnCalibrateManual, &QPushButton::clicked, this,
            &CZtVeroveConfig::OnBtnCalibrateManual);
    connect(m_pBtnCalibrationsClear, &QPushButton::clicked, this,
            &CZtVeroveConfig::OnBtnCalibrationsClear);
    return group;
}

QWidget* CZtVeroveConfig::BuildDmdInfo() {
    auto* group = new QGroupBox(Tr(L"DMD Info"), this);
    auto* form = new QFormLayout(group);
    m_pLabelFirmware = new QLabel(group);
    m_pLabelPCIe = new QLabel(group);
    m_pLabelSDK = new QLabel(group);
    form->addRow(Tr(L"Device Firmware:"), m_pLabelFirmware);
    form->addRow(Tr(L"PCIe Card Version:"), m_pLabelPCIe);
    form->addRow(Tr(L"SDK Version:"), m_pLabelSDK);
    return group;
}

// ---- Calibration section --------------------------------------------------------------------

CZtCalibrationTreeWidget* CZtVeroveConfig::GetCalibrationTree() const {
    return m_pTree;
}

CZtManualCalibrationDialog* CZtVeroveConfig::GetManualCalibrationDialog() const {
    return m_pManualDialog;
}

CZtAutocalibrationDialog* CZtVeroveConfig::GetAutoCalibrationDialog() const {
    return m_pAutoDialog;
}

int CZtVeroveConfig::RebuildCalibrationTree() {
    if (m_pTree) {
        m_pCalibrationLayout->removeWidget(m_pTree);
        m_pTree->deleteLater();
    }
    m_pTree = new CZtCalibrationTreeWidget(this);
    m_pCalibrationLayout->addWidget(m_pTree, 1);
    CZtCalibrationData* calibration = m_pDevice ? m_pDevice->GetCalibrationData() : nullptr;
    if (!calibration) {
        return -12;
    }
    std::vector<std::wstring> keys;
    calibration->GetStoredKeys(&keys);
    m_pTree->Fill(calibration->GetCurrentConfigurationString(), keys,
                  m_pDevice->GetGrabberProvider());
    m_pTree->expandAll();
    return 0;
}

void CZtVeroveConfig::SetCalibrationButtonsEnabled(bool enabled, const QString& tooltip) {
    for (QPushButton* button : {m_pBtnCalibrateAuto, m_pBtnCalibrateManual}) {
        button->setEnabled(enabled);
        if (!enabled && !tooltip.isEmpty()) {
            button->setToolTip(tooltip);
        }
    }
}

int CZtVeroveConfig::OnBtnCalibrationsClear() {
    VEROVE_LOG("CZtVeroveConfig::OnBtnCalibrationsClear", L"Start");
    CZtCalibrationData* calibration = m_pDevice ? m_pDevice->GetCalibrationData() : nullptr;
    if (!calibration || !m_pDevice->GetDriver()) {
        return -6;
    }
    // Clearing loads again and finds nothing: its -13 is the expected outcome, not a failure.
    calibration->ClearCalibrations();
    return RebuildCalibrationTree();
}

void CZtVeroveConfig::OnBtnCalibrateAuto() {
    VEROVE_LOG("CZtVeroveConfig::OnBtnCalibrateAuto", L"Start");
    SetCalibrationButtonsEnabled(false, Tr(L"Auto Calibration running."));
    if (m_pAutoDialog && m_pAutoDialog->isVisible()) {
        m_pAutoDialog->activateWindow();
        return;
    }
    QApplication::setOverrideCursor(Qt::BusyCursor);
    if (m_pAutoDialog) {
        m_pAutoDialog->deleteLater();
    }
    m_pAutoDialog = new CZtAutocalibrationDialog(m_pDevice.get(), this);
    connect(m_pAutoDialog, &QDialog::accepted, this,
            &CZtVeroveConfig::OnAutoCalibrationDialogAccepted);
    connect(m_pAutoDialog, &QDialog::rejected, this,
            &CZtVeroveConfig::OnAutoCalibrationDialogRejected);
    connect(m_pAutoDialog, &CZtAutocalibrationDialog::closed, this,
            &CZtVeroveConfig::OnAutoCalibrationDialogRejected);
    m_pAutoDialog->SetupUi();
    m_pAutoDialog->show();
    QApplication::restoreOverrideCursor();
}

void CZtVeroveConfig::OnBtnCalibrateManual() {
    VEROVE_LOG("CZtVeroveConfig::OnBtnCalibrateManual", L"Start");
    SetCalibrationButtonsEnabled(false, Tr(L"Manual Calibration running."));
    if (m_pManualDialog && m_pManualDialog->isVisible()) {
        m_pManualDialog->activateWindow();
        return;
    }
    QApplication::setOverrideCursor(Qt::BusyCursor);
    if (m_pManualDialog) {
        m_pManualDialog->deleteLater();
    }
    m_pManualDialog = new CZtManualCalibrationDialog(m_pDevice.get(), this);
    connect(m_pManualDialog, &QDialog::accepted, this,
            &CZtVeroveConfig::OnManualCalibrationDialogAccepted);
    connect(m_pManualDialog, &QDialog::rejected, this,
            &CZtVeroveConfig::OnManualCalibrationDialogRejected);
    connect(m_pManualDialog, &CZtManualCalibrationDialog::closed, this,
            &CZtVeroveConfig::OnManualCalibrationDialogRejected);
    m_pManualDialog->SetupUi();
    m_pManualDialog->show();
    QApplication::restoreOverrideCursor();
}

void CZtVeroveConfig::OnAutoCalibrationDialogAccepted() {
    if (!m_pAutoDialog) {
        return;
    }
    disconnect(m_pAutoDialog, nullptr, this, nullptr);
    m_pDevice->OnAutocalibrationEnd(true);
    m_pAutoDialog->deleteLater();
    m_pAutoDialog = nullptr;
    SetCalibrationButtonsEnabled(true, QString());
    RebuildCalibrationTree();
}

void CZtVeroveConfig::OnManualCalibrationDialogAccepted() {
    if (!m_pManualDialog) {
        return;
    }
    disconnect(m_pManualDialog, nullptr, this, nullptr);
    m_pDevice->OnManualCalibrationEnd(true);
    m_pManualDialog->deleteLater();
    m_pManualDialog = nullptr;
    SetCalibrationButtonsEnabled(true, QString());
    RebuildCalibrationTree();
}

void CZtVeroveConfig::OnAutoCalibrationDialogRejected() {
    if (!m_pAutoDialog) {
        return;
    }
    disconnect(m_pAutoDialog, nullptr, this, nullptr);
    m_pDevice->OnAutocalibrationEnd(false);
    m_pAutoDialog->deleteLater();
    m_pAutoDialog = nullptr;
    ReloadCalibration();
    SetCalibrationButtonsEnabled(true, QString());
}

void CZtVeroveConfig::OnManualCalibrationDialogRejected() {
    if (!m_pManualDialog) {
        return;
    }
    disconnect(m_pManualDialog, nullptr, this, nullptr);
    m_pDevice->OnManualCalibrationEnd(false);
    m_pManualDialog->deleteLater();
    m_pManualDialog = nullptr;
    ReloadCalibration();
    SetCalibrationButtonsEnabled(true, QString());
}

void CZtVeroveConfig::ReloadCalibration() {
    CZtVeroveDriver* driver = m_pDevice->GetDriver();
    if (driver && m_pDevice->GetCalibrationData()) {
        driver->ReloadCalibration();
    }
}

void CZtVeroveConfig::OnOK() {
    accept();
}

void CZtVeroveConfig::OnCancel() {
    reject();
}

void CZtVeroveConfig::OnDeviceDisconnecting() {
    OnManualCalibrationDialogRejected();
    OnAutoCalibrationDialogRejected();
    reject();
}

void CZtVeroveConfig::OnDeviceChanged() {
    UpdateAssociatedLightComboBox();
    UpdateAssociatedLightLaserlineCheckboxes();
    UpdateAssociatedSwitcherComboBox();
    UpdateAssociatedSwitcherPortComboBox();
    UpdateAssociatedShutterCheckboxes();
    RebuildCalibrationTree();
}

// ---- Hardware interface and versions ----------------------------------------------------------

void CZtVeroveConfig::UpdateExternalTriggeringRadios() {
    const bool trigger = m_pDevice && m_pDevice->GetSettings().externalTriggerSet;
    const QSignalBlocker a(m_pRadioPLDA);
    const QSignalBlocker b(m_pRadioPLDATriggerIn);
    m_pRadioPLDATriggerIn->setChecked(trigger);
    m_pRadioPLDA->setChecked(!trigger);
}

void CZtVeroveConfig::OnRadioPLDAToggled(bool bVal) {
    OnRadioPLDATriggerInToggled(!bVal);
}

void CZtVeroveConfig::OnRadioPLDATriggerInToggled(bool bVal) {
    if (!m_pDevice || m_pDevice->GetSettings().externalTriggerSet == bVal) {
        return;
    }
    m_pDevice->GetSettings().externalTriggerSet = bVal;
    m_pDevice->SaveSettings();
}

void CZtVeroveConfig::UpdateDMDInfo() {
    CZtVeroveDriver* driver = m_pDevice ? m_pDevice->GetDriver() : nullptr;
    CZtStringW firmware;
    CZtStringW card;
    CZtStringW sdk;
    m_pLabelFirmware->setText(
        VersionText(driver ? driver->GetFirmwareVersion(&firmware) : -12, firmware));
    m_pLabelPCIe->setText(
        VersionText(driver ? driver->GetControllerFirmwareVersion(&card) : -12, card));
    m_pLabelSDK->setText(VersionText(driver ? driver->GetSDKVersion(&sdk) : -12, sdk));
}

// ---- Associated devices -------------------------------------------------------------------------

void CZtVeroveConfig::UpdateAssociatedLightComboBox() {
    if (!m_pDevice) {
        return;
    }
    CZtVeroveLightPath& path = m_pDevice->GetLightPath();
    FillCombo(m_pComboLight, {&path.GetLaunchCandidates(), &path.GetLightCandidates()},
              path.GetLightId());
}

void CZtVeroveConfig::UpdateAssociatedLightLaserlineCheckboxes() {
    while (QLayoutItem* item = m_pLaserLinesLayout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    if (!m_pDevice) {
        return;
    }
    CZtVeroveLightPath& path = m_pDevice->GetLightPath();
    for (int line = 0; line < path.GetLineCount(); ++line) {
        auto* box = new QCheckBox(
            QString::fromStdWString(ZT_FormatW(L"%u nm", path.GetLineWavelength(line))),
            m_pLaserLines);
        box->setChecked(path.GetLineVisible(line));
        box->setProperty("line", line);
        connect(box, &QCheckBox::stateChanged, this,
                &CZtVeroveConfig::OnLaserLineCheckboxStateChanged);
        m_pLaserLinesLayout->addWidget(box);
    }
}

void CZtVeroveConfig::OnAssociatedLightCurrentIndexChanged(int iCurrentIndex) {
    if (!m_pDevice || iCurrentIndex < 0) {
        return;
    }
    // The text names a launch first, a light otherwise.
    const std::wstring text = m_pComboLight->itemText(iCurrentIndex).toStdWString();
    CZtVeroveLightPath& path = m_pDevice->GetLightPath();
    ZT_DWORD id = 0;
    for (const auto* list : {&path.GetLaunchCandidates(), &path.GetLightCandidates()}) {
        for (const SZtVeroveCandidate& candidate : *list) {
            if (id == 0 && candidate.key.Str() == text) {
                id = candidate.id;
            }
        }
    }
    m_pDevice->OnAssociatedLightChanged(id);
    UpdateAssociatedLightLaserlineCheckboxes();
}

void CZtVeroveConfig::OnLaserLineCheckboxStateChanged(int iChecked) {
    const QObject* box = sender();
    if (!m_pDevice || !box) {
        return;
    }
    m_pDevice->OnLaserLineShow(box->property("line").toInt(), iChecked == Qt::Checked);
}

void CZtVeroveConfig::UpdateAssociatedSwitcherComboBox() {
    if (!m_pDevice) {
        return;
    }
    CZtVeroveLightPath& path = m_pDevice->GetLightPath();
    FillCombo(m_pComboSwitcher, {&path.GetSwitcherCandidates()}, path.GetSwitcherId());
}

void CZtVeroveConfig::UpdateAssociatedSwitcherPortComboBox() {
    const QSignalBlocker blocker(m_pComboSwitcherPort);
    m_pComboSwitcherPort->clear();
    DMApi* devices = m_pDevice ? m_pDevice->DeviceManager() : nullptr;
    const ZT_DWORD switcher = m_pDevice ? m_pDevice->GetLightPath().GetSwitcherId() : 0;
    int count = 0;
    if (!devices || switcher == 0 ||
        devices->LaserOutput_GetPortCombinationCount(switcher, &count) != 0) {
        m_pComboSwitcherPort->setEnabled(false);
        return;
    }
    for (int i = 0; i < count; ++i) {
        CZtStringW name;
        devices->LaserOutput_GetPortCombinationName(switcher, i, &name);
        m_pComboSwitcherPort->addItem(QString::fromStdWString(name.Str()));
    }
    m_pComboSwitcherPort->setEnabled(count > 0);
    m_pComboSwitcherPort->setCurrentIndex(
        static_cast<int>(m_pDevice->GetLightPath().GetSwitcherPort()));
}

void CZtVeroveConfig::OnAssociatedSwitcherCurrentIndexChanged() {
    if (!m_pDevice) {
        return;
    }
    m_pDevice->OnLaserSwitcherDeviceSelectionChanged(m_pComboSwitcher->currentData().toUInt());
    UpdateAssociatedSwitcherPortComboBox();
}

void CZtVeroveConfig::OnAssociatedSwitcherPortCurrentIndexChanged() {
    const int index = m_pComboSwitcherPort->currentIndex();
    if (m_pDevice && index >= 0) {
        m_pDevice->OnLaserSwitcherPositionSelectionChanged(static_cast<std::uint32_t>(index));
    }
}

void CZtVeroveConfig::UpdateAssociatedShutterCheckboxes() {
    const QSignalBlocker blocker(m_pListShutters);
    m_pListShutters->clear();
    if (!m_pDevice) {
        return;
    }
    CZtVeroveLightPath& path = m_pDevice->GetLightPath();
    const std::vector<ZT_DWORD> chain = path.GetShutterIds();
    for (const SZtVeroveCandidate& candidate : path.GetShutterCandidates()) {
        auto* item =
            new QListWidgetItem(QString::fromStdWString(candidate.key.Str()), m_pListShutters);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        const bool ticked = std::find(chain.begin(), chain.end(), candidate.id) != chain.end();
        item->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
    }
}

void CZtVeroveConfig::OnAssociatedShutterCheckboxStateChanged(QListWidgetItem* item) {
    if (!m_pDevice || !item) {
        return;
    }
    std::vector<CZtStringW> keys;
    for (int i = 0; i < m_pListShutters->count(); ++i) {
        if (m_pListShutters->item(i)->checkState() == Qt::Checked) {
            keys.emplace_back(m_pListShutters->item(i)->text().toStdWString().c_str());
        }
    }
    m_pDevice->OnAssociatedShuttersChanged(keys);
}

void CZtVeroveConfig::OnAssociatedLightAvailabilityChanged() {
    UpdateAssociatedLightComboBox();
}

void CZtVeroveConfig::OnAssociatedLightLaserlineAvailabilityChanged() {
    UpdateAssociatedLightLaserlineCheckboxes();
}

void CZtVeroveConfig::OnAssociatedSwitcherAvailabilityChanged() {
    UpdateAssociatedSwitcherComboBox();
}

void CZtVeroveConfig::OnAssociatedSwitcherPortAvailabilityChanged() {
    UpdateAssociatedSwitcherPortComboBox();
}

void CZtVeroveConfig::OnAssociatedShutterAvailabilityChanged() {
    UpdateAssociatedShutterCheckboxes();
}
