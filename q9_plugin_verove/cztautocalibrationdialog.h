// The auto-calibration dialog: focus, run and verification steps around the device's procedure.
#pragma once

#include <QDialog>

#include "cztref.h"

class QDialogButtonBox;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class CZtStimulationDeviceVerove;

// Thread-bound to the GUI thread. The calibration worker emits NotifyProgress,
// NotifyCalibrationRunEnded and NotifyPictureUpdate from its own thread; they reach the slots
// queued.
class CZtAutocalibrationDialog : public QDialog {
    Q_OBJECT

public:
    // device is borrowed and must outlive the dialog; null makes SetupUi refuse.
    explicit CZtAutocalibrationDialog(CZtStimulationDeviceVerove* device,
                                      QWidget* parent = nullptr);
    ~CZtAutocalibrationDialog() override;

    // Builds the window, registers it with the device and starts the calibration's first step
    // (the grid on the DMD, live on). The result of OnAutocalibrationInit, or -9 without device.
    int SetupUi();
    // 0 focus, 1 run, 2 verification.
    int GetStep() const { return m_iStep; }

public slots:
    void OnButtonFocus();
    void OnButtonNext();
    void OnStimulationStateChangedExternal(bool state);
    void OnCalibrationRunEnded(int result);
    void OnPictureUpdate();
    void OnStimulationButtonAvailabilityChanged(bool available);
    void OnButtonStimulate();
    void accept() override;
    void reject() override;
    // Closes without accepting or rejecting: emits closed only.
    bool close();
    void UpdateProgress();

signals:
    void closed();
    void NotifyProgress();
    void NotifyCalibrationRunEnded(int result);
    void NotifyPictureUpdate();

private:
    void ShowStep(int step);
    // The verification page's account of the run: squares found, pairs used and the fit's
    // residual, and a warning for too few squares or a high residual. result: the run's.
    void ShowQuality(int result);
    // Marks the dialog done; false when it already was.
    bool Finish();

    // The dialog may outlive the plug-in's own hold on the device (a disconnect while it shows):
    // its reference keeps the device it tells of its end.
    const CZtRef<CZtStimulationDeviceVerove> m_pDevice;
    int m_iStep = 0;
    // Set once the dialog was accepted, rejected or closed: a run-ended signal still queued then
    // must not act any more.
    bool m_bFinished = false;
    QGroupBox* m_pPageFocus = nullptr;
    QGroupBox* m_pPageProgress = nullptr;
    QGroupBox* m_pPageVerify = nullptr;
    QPushButton* m_pBtnFocus = nullptr;
    QProgressBar* m_pProgressBar = nullptr;
    QPushButton* m_pBtnStimulate = nullptr;
    QLabel* m_pLabelQuality = nullptr;
    QLabel* m_pLabelWarning = nullptr;
    QLabel* m_pLabelMessage = nullptr;
    QDialogButtonBox* m_pButtonBox = nullptr;
    QPushButton* m_pBtnNext = nullptr;
    QPushButton* m_pBtnOK = nullptr;
    QPushButton* m_pBtnCancel = nullptr;
};
