// The device pad: direct control of one Verove stimulation device in the host's acquisition
// controls.
#pragma once

#include <QPointer>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <vector>

#include "cztverovepadlasersection.h"
#include "cztverovepadpatterns.h"
#include "cztverovepadui.h"
#include "cztverovepadwrapper.h"
#include "zt/zt_gui.h"
#include "zt/zt_qtwidgets.h"
#include "zt/zt_string.h"

class QAction;
class QTimer;
class CZtStimulationDeviceVerove;

using zt_result = std::int32_t;
using vecpItemsToDisable = std::vector<QPointer<QWidget>>;

// GUI thread only: device events reach it through the wrapper's queued signals and through its
// own signals, which device and wrapper may emit from other threads.
//
// The pad works on one device, which it reads and drives: the device owns the stimulation
// flags, the pulse time, the grey levels, the calibration and the light path.
class CZtVerovePadQt : public CZtQWidget {
    Q_OBJECT

public:
    // Registers the pad with the device (borrowed; it detaches the pad before it goes).
    CZtVerovePadQt(QWidget* parent, CZtVerovePadWrapper* wrapper,
                   CZtStimulationDeviceVerove* device);
    // Unregisters from the device; open dialogs are detached and deleted later.
    ~CZtVerovePadQt() override;

    // Builds both pages once; ends by emitting sigUpdateStatusMessage.
    void SetupLayout();
    // The sizes that follow the host's GUI zoom, the laser lines' too.
    void ApplyZoom();
    // The device goes: from now on every operation does nothing.
    void DetachDevice();
    CZtStimulationDeviceVerove* GetDevice() const { return m_device; }

    // ---- What the device and the wrapper ask of the pad ----
    // Everything from the device: laser section (rebuilt when the light's lines changed), shutter,
    // grey levels, pulse times, group buttons, patterns and the status line.
    void RefreshFromDevice();
    // Rebuilds the laser section from the light record.
    void RebuildLaserSection(const SZtVerovePadLight& light);
    void ClearLaserLines();
    // A widget for the device's line.
    void AddLaserLine(int line);
    // Shows the device's stored values of the line.
    void ShowLine(int line);
    // Moves the shutter button to open when it shows otherwise (through the queued signal).
    void ShowShutterState(bool open);
    // The grey-level setters of the device side: without picker signals, storing the value back
    // into the device. levels: 16, 64 or 256.
    void SetGrayscaleLevels(int levels);
    void SetGrayscaleChecked(bool checked);
    // The auto-calibration dialog's "Stimulate S1 group": starts or stops a pulse of S1.
    void StimulateS1();

    // Widgets the host's disable mode switches off; the list is emptied first. 0; -4 with an
    // empty list for an unknown mode.
    Q_INVOKABLE zt_result GetWidgetsToDisable(EZtDisableMode eMode,
                                              vecpItemsToDisable& itemsToDisable);

    const CZtVerovePadUi& Ui() const { return m_ui; }
    const QStringList& GetDurationTexts() const { return m_durationTexts; }
    int GetVisibleLaserLineCount() const { return m_visibleLaserLineCount; }
    CZtVerovePadLaserSection& LaserSection() { return m_laserSection; }

signals:
    void sigContentChanged();
    void sigStimulationHasEnded();
    void sigDeviceGUIReady();
    void sigUpdateStatusMessage();
    void sigChangeShutterButtonState(bool bState);
    void sigChangeAssociatedShutter(CZtStringW& shutterText, bool bEnableShutterButton,
                                    bool bShutterButtonState);

public slots:
    void OnTabButtonReleased(int iTab);
    void OnStimGrpButtonReleased(zt_int32 iActiveGrp);
    void OnButtonShutterReleased(bool bUserInteraction = true);
    void OnButtonMatchFOVReleased();
    void OnButtonConfigureReleased();
    void OnConfigurationDialogAccepted();
    void OnConfigurationDialogRejected();
    void OnConfigurationDialogClosed();
    void OnButtonPatternExternalReleased();
    void OnPatternDialogAccepted();
    void OnPatternDialogRejected();
    void OnPatternDialogClosed();
    void OnPatternSelectionChanged(int iIndex);
    void OnActivePatternChanged(zt_uint32 uiActivePatternId);
    void OnPickerGrayscalingChecked();
    void OnPickerGrayscalingSelectionChanged(QAction* pAction);
    void OnComboPulseTimeSelectionChanged(int iIndex);
    void OnButtonPulseReleased();
    void OnButtonManualPressed();
    void OnButtonManualReleased();
    void OnPulseTimerTimeout();
    void OnStopAllStimulation();
    void OnStimulationHasEnded();
    void OnUpdateStimulationState();
    void OnUpdateStatusMessage();
    void OnAssociatedLightAvailabilityChanged();
    void OnLaserLineShow(int iLaserLineId, bool bShow);
    void OnLaserlinePowerChanged(EZtStimGroup eGrp, double dPower);
    void OnLaserlineUsed(EZtStimGroup eGrp, bool bLineUsed);
    void OnLaserLineCountChange();
    void OnSetShutterButtonState(bool bChecked);
    void OnSetAssociatedShutter(CZtStringW& shutterText, bool bEnable, bool bState);
    void OnUpdateStimulationGroupButtonsAvailability();
    void OnUpdatePatternsCombo();
    void OnUpdateDurationsCombo();
    void OnDisableGUIModeChanged();
    void OnAutoSizeUI() {}

public:
    // The open pattern manager, or null.
    CZtQ9DialogForQt* PatternDialog() const { return m_patternDialog; }

protected:
    // The configuration dialog and the pattern manager, created on first use; null while the
    // plug-in has none to offer (the refusal is logged).
    virtual CZtQ9DialogForQt* NewConfigurationDialog();
    virtual CZtQ9DialogForQt* NewPatternDialog();

private:
    void UpdateControlsAvailabilityAndTooltips();
    void ConnectSignals();
    // Direct-control line controls: enabled while the shutter button is disabled, else while the
    // shutter is open.
    void EnableDirectControls(bool enabled);
    // The stimulation button of an open auto-calibration dialog: checked without signals, or
    // enabled.
    void CheckCalibrationStimulation(bool checked);
    void EnableCalibrationStimulation(bool enabled);
    void SetStatus(const QString& text, const char* style);
    void ConnectLine(CZtVeroveLaserLine* widget);
    // The record of the line widget that sent a change; null, logged, for another sender.
    SZtVerovePadLaserLine* SenderLine(EZtStimGroup group);
    bool IsGroupWithAreas(int group) const;
    int CheckedGroup() const;

    CZtStimulationDeviceVerove* m_device = nullptr;  // borrowed
    QPointer<CZtVerovePadWrapper> m_wrapper;
    CZtVerovePadUi m_ui;
    CZtVerovePadLaserSection m_laserSection{m_ui, this};
    bool m_layoutBuilt = false;

    int m_selectedPatternIndex = -1;
    int m_activeTab = 0;
    int m_activeGroup = 0;
    bool m_groupHasAreas[3] = {false, false, false};
    QString m_lastPulseText;
    QPointer<QTimer> m_pulseTimer;
    QStringList m_durationTexts;
    std::vector<PatternVecEntryGroup> m_patternEntries;
    vecpItemsToDisable m_disabledWidgets;
    int m_visibleLaserLineCount = 0;
    QPointer<CZtQ9DialogForQt> m_configDialog;
    QPointer<CZtQ9DialogForQt> m_patternDialog;
};
