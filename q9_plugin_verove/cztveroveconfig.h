// The device's configuration dialog: hardware interface, associated devices, the stored
// calibrations with the calibration dialogs, and the DMD's versions.
#pragma once

#include <QPointer>
#include <string>

#include "cztref.h"
#include "zt/zt_qtwidgets.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QRadioButton;
class QVBoxLayout;
class QWidget;
class CZtAutocalibrationDialog;
class CZtCalibrationTreeWidget;
class CZtManualCalibrationDialog;
class CZtStimulationDeviceVerove;

// Thread-bound to the GUI thread.
class CZtVeroveConfig : public CZtQ9DialogForQt {
    Q_OBJECT

public:
    // device is borrowed (a reference is held while the dialog lives). fromDevice: opened by the
    // device's ShowConfigurationDialog, where auto-calibration runs from the pad instead.
    CZtVeroveConfig(CZtStimulationDeviceVerove* device, bool fromDevice, QWidget* parent = nullptr);
    ~CZtVeroveConfig() override;

    // Builds the window and registers it with the device, which has it follow its changes.
    void SetupUi();
    // The device's own configuration dialog, run modally with the host's GUI disabled (over
    // parent's window when there is one). 0.
    static int RunModal(CZtStimulationDeviceVerove* device, QWidget* parent);
    // 0; -12 without the device's calibration data (the tree then stays empty).
    int RebuildCalibrationTree();
    void SetCalibrationButtonsEnabled(bool enabled, const QString& tooltip);
    CZtCalibrationTreeWidget* GetCalibrationTree() const;
    CZtManualCalibrationDialog* GetManualCalibrationDialog() const;
    CZtAutocalibrationDialog* GetAutoCalibrationDialog() const;
    // Everything the device's light path and calibrations show again, after a device-manager or
    // camera change.
    void OnDeviceChanged();
    // The device is going: open calibration dialogs end without applying (the stored calibration
    // is loaded again while the driver is still there) and the dialog closes. GUI thread.
    void OnDeviceDisconnecting();

public slots:
    void OnAssociatedLightCurrentIndexChanged(int iCurrentIndex);
    void OnLaserLineCheckboxStateChanged(int iChecked);
    void OnAssociatedSwitcherCurrentIndexChanged();
    void OnAssociatedSwitcherPortCurrentIndexChanged();
    void OnAssociatedShutterCheckboxStateChanged(QListWidgetItem* item);
    int OnBtnCalibrationsClear();
    void OnBtnCalibrateAuto();
    void OnBtnCalibrateManual();
    void OnAutoCalibrationDialogAccepted();
    void OnManualCalibrationDialogAccepted();
    void OnAutoCalibrationDialogRejected();
    void OnManualCalibrationDialogRejected();
    void OnOK();
    void OnCancel();
    void OnAssociatedLightAvailabilityChanged();
    void OnAssociatedLightLaserlineAvailabilityChanged();
    void OnAssociatedSwitcherAvailabilityChanged();
    void OnAssociatedSwitcherPortAvailabilityChanged();
    void OnAssociatedShutterAvailabilityChanged();
    void UpdateDMDInfo();
    void UpdateExternalTriggeringRadios();
    void UpdateAssociatedLightComboBox();
    void UpdateAssociatedLightLaserlineCheckboxes();
    void UpdateAssociatedSwitcherComboBox();
    void UpdateAssociatedSwitcherPortComboBox();
    void UpdateAssociatedShutterCheckboxes();
    void OnRadioPLDAToggled(bool bVal);
    void OnRadioPLDATriggerInToggled(bool bVal);

private:
    // The stored calibration loaded again after a dialog that applied its matrices unsaved.
    void ReloadCalibration();
    QWidget* BuildHardwareInterface();
    QWidget* BuildAssociatedDevices();
    QWidget* BuildCalibration();
    QWidget* BuildDmdInfo();

    // The dialog may outlive the plug-in's own hold on the device (a disconnect while it shows).
    const CZtRef<CZtStimulationDeviceVerove> m_pDevice;
    const bool m_bFromDevice;
    QPointer<CZtCalibrationTreeWidget> m_pTree;
    QPointer<CZtAutocalibrationDialog> m_pAutoDialog;
    QPointer<CZtManualCalibrationDialog> m_pManualDialog;
    QRadioButton* m_pRadioPLDA = nullptr;
    QRadioButton* m_pRadioPLDATriggerIn = nullptr;
    QLabel* m_pLabelHWIfaceTriggerHint = nullptr;
    QComboBox* m_pComboLight = nullptr;
    QWidget* m_pLaserLines = nullptr;
    QVBoxLayout* m_pLaserLinesLayout = nullptr;
    QComboBox* m_pComboSwitcher = nullptr;
    QComboBox* m_pComboSwitcherPort = nullptr;
    QListWidget* m_pListShutters = nullptr;
    QPushButton* m_pBtnCalibrateAuto = nullptr;
    QPushButton* m_pBtnCalibrateManual = nullptr;
    QPushButton* m_pBtnCalibrationsClear = nullptr;
    QLabel* m_pLabelAutoFromPad = nullptr;
    QVBoxLayout* m_pCalibrationLayout = nullptr;
    QLabel* m_pLabelFirmware = nullptr;
    QLabel* m_pLabelPCIe = nullptr;
    QLabel* m_pLabelSDK = nullptr;
};
