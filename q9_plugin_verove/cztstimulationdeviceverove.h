// The stimulation device the host sees as one Verove: its host interfaces, its life cycle and the
// state and locks its collaborators share. The work of each concern is done by a collaborator:
// the DMD-interface slots (CZtVeroveDmdAdapter), the illumination sequence
// (CZtVeroveIlluminationSequence), the stimulation areas (CZtVeroveStimulationAreas), the
// stimulation run and manual shot (CZtVeroveStimulationRun), the calibration procedures
// (CZtVeroveCalibrationProcedures), the host events (CZtVeroveHostEvents), the registry options
// and the settings file (CZtVeroveStartup) and the light path with its laser-power control
// (CZtVeroveLightPath). The device's slots forward to them.
#pragma once

#include <QPointer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "cztautocalibration.h"
#include "cztcalibrationowner.h"
#include "cztmanualcalibration.h"
#include "cztref.h"
#include "cztverovecalibrationprocedures.h"
#include "cztverovedmdadapter.h"
#include "cztverovedriver.h"
#include "cztverovedriverowner.h"
#include "cztverovehostevents.h"
#include "cztveroveilluminationsequence.h"
#include "cztverovelightpath.h"
#include "cztverovesettings.h"
#include "cztverovestartup.h"
#include "cztverovestimulationareas.h"
#include "cztverovestimulationrun.h"
#include "patterns.h"
#include "verovestatus.h"
#include "zt/zt_class.h"
#include "zt/zt_dmd.h"
#include "zt/zt_grabber.h"
#include "zt/zt_gui.h"
#include "zt/zt_laserpower.h"
#include "zt/zt_picbuf.h"
#include "zt/zt_roi.h"
#include "zt/zt_stimulation.h"
#include "zt/zt_sync.h"

class QWidget;
class CZtAutocalibrationDialog;
class CZtVeroveConfig;
class CZtVerovePadQt;
class CZtVerovePadWrapper;
class DMApi;
class IZtStimulationDeviceAggregator;

// Thread-bound to the host's main thread, except the owner callbacks of the driver and the
// calibration data, which run on the thread of the driver or calibration call that needs them,
// and StimulationBegin, StimulationEnd, StimulationAbort and StimulationAreaGet, which host work
// threads call.
//
// Locks, each named after what it guards: m_connectionLock guards Connect, OnPortActivated and the
// driver pointer; m_areasLock the stimulation areas and the text of the last refused stimulation;
// m_aggregatorLock the controlling aggregator; m_deviceManagerRefreshLock the host's
// device-manager refresh; m_runLock one stimulation from its begin to its end. The collaborators
// take these locks on the device: they are its friends and keep only the state of their own
// concern.
class CZtStimulationDeviceVerove : public IZtStimulationDevice,
                                   public CZtDeviceDMD_Default,
                                   public virtual CZtClass,
                                   public IZtStimulationDeviceEx,
                                   public IZtLaserPowerControl,
                                   public IZtVeroveDriverOwner,
                                   public IZtCalibrationOwner {
public:
    CZtStimulationDeviceVerove();

    void* QueryInterface(const char* interfaceName) override;

    // ---- IZtStimulationDevice ----
    CZtStringW GetUniqueName() override { return m_uniqueName; }
    bool IsConnected() override;
    bool IsVisible() override { return m_visible; }
    int SetActive(bool active) override;
    bool HasCapability(std::uint32_t code) override;
    bool HasCapabilityNow(std::uint32_t code) override;
    int GetDisplayName(CZtStringW* name, int kind) override;
    int Reserved07() override { return 0; }
    double Reserved08() override { return 0.0; }
    int Reserved09() override { return 0; }
    double Reserved10() override { return 0.0; }
    int Reserved11() override { return 4; }
    int StimulationAreaGetCount() override { return m_stimulationAreas.StimulationAreaGetCount(); }
    int StimulationAreaSet(const CZtRoiObjectList* areas, const SZtRLEPicBuf* masks,
                           const SZtScanAreaDesc* scanArea, const SZtGrabberFormatDesc* format,
                           const SZtRect* cameraRect) override {
        return m_stimulationAreas.StimulationAreaSet(areas, masks, scanArea, format, cameraRect);
    }
    int StimulationAreaGet(CZtRoiObjectList* areas, SZtRLEPicBuf* masks, SZtScanAreaDesc* scanArea,
                           SZtGrabberFormatDesc* format, SZtRect* cameraRect,
                           std::uint64_t* groupMask) override {
        return m_stimulationAreas.StimulationAreaGet(areas, masks, scanArea, format, cameraRect,
                                                     groupMask);
    }
    int StimulationAreaAppendAsPattern() override {
        return m_stimulationAreas.StimulationAreaAppendAsPattern();
    }
    int StimulationAreaUpload() override { return m_stimulationAreas.StimulationAreaUpload(); }
    bool StimulationAreaIsUpToDate() override {
        return m_stimulationAreas.StimulationAreaIsUpToDate();
    }
    int StimulationReady() override { return m_stimulationAreas.StimulationReady(); }
    bool StimulationIsReady() override { return m_stimulationAreas.StimulationIsReady(); }
    int StimulationBegin(const SZtStimulationRequest* request) override {
        return m_run.StimulationBegin(request);
    }
    // The user text of the last stimulation that could not begin (empty until one failed).
    CZtStringW GetLastStimulationError() { return m_run.GetLastStimulationError(); }
    int StimulationEnd(double* startTimes, double* endTimes, int count) override {
        return m_run.StimulationEnd(startTimes, endTimes, count);
    }
    int StimulationFire(double* startTime, double* endTime) override {
        return m_run.StimulationFire(startTime, endTime);
    }
    int StimulationAbort() override { return m_run.StimulationAbort(); }
    int StimulationROIPrepare() override { return 0; }
    int StimulationValidate(const SZtExperiment* experiment, CZtStringW* error) override {
        return m_run.StimulationValidate(experiment, error);
    }
    IZtLaserPowerControl* GetLaserPowerControl() override { return this; }

    // ---- The device's own operations ----
    // Connects (true) or disconnects (false) the DMD; true when the connected state afterwards
    // equals the request. brand 0 selects the Andor names, others the Velmar names.
    virtual bool Connect(bool connect, std::uint32_t brand, std::int32_t deviceIndex);
    virtual bool OnPortActivated(bool activated, bool show);
    // Registers the device again under the new name when it was registered under the old one.
    virtual void SetUniqueName(const wchar_t* uniqueName);
    virtual void SetGUIElementName(const wchar_t* guiName) {
        m_guiElementName = CZtStringW(guiName);
    }
    virtual CZtStringW GetGUIElementName() { return m_guiElementName; }
    int SetLineUsed(int line, int group, bool used) override {
        return m_lightPath->SetLineUsed(line, group, used);
    }
    virtual void OnLaserLineAdded(int line);
    virtual void OnLaserLinesCleared();
    virtual CZtVerovePadWrapper* GetPadWrapper() { return m_padWrapper.get(); }
    // ---- The pad (GUI thread) ----
    // Not virtual: the host's table of the class's slots fixes the virtual operations.
    // The pad registers itself as it is built, and with null as it goes.
    void SetPad(CZtVerovePadQt* pad);
    CZtVerovePadQt* GetPad();
    // Set by the pad as it starts a manual exposure or a pulse; cleared when the shot ends.
    void SetPadManualStimulation(bool on) { m_padManual.store(on); }
    bool IsPadManualStimulation() const { return m_padManual.load(); }
    void SetPadPulseStimulation(bool on) { m_padPulse.store(on); }
    bool IsPadPulseStimulation() const { return m_padPulse.load(); }
    // The pad's pulse time in milliseconds, kept as the settings' pattern duration.
    double GetPadPulseDuration() const { return m_settings.patternDuration; }
    void SetPadPulseDuration(double ms) { m_settings.patternDuration = ms; }
    // The pad's grey levels: 16, 64 or 256, and whether they are on; kept in the settings.
    int GetGrayscaleLevels() const { return m_settings.grayscalingLevelsIndex; }
    void SetGrayscaleLevels(int count) { m_settings.grayscalingLevelsIndex = count; }
    bool IsGrayscaleEnabled() const { return m_settings.grayscalingEnabled; }
    void SetGrayscaleEnabled(bool on) { m_settings.grayscalingEnabled = on; }
    // What the host's state forbids on the pad; a change reaches the pad through the wrapper.
    void SetDisableMode(EZtDisableMode mode);
    EZtDisableMode GetDisableMode() const { return m_disableMode.load(); }
    // 0, or -8 after refusing a galvo XY configuration (message box once per process).
    virtual int CheckGalvoConflict();
    virtual int SetTraxPort(std::uint32_t portA, std::uint32_t portB);
    virtual int GetAssociatedDeviceInfo(std::uint32_t* lightId, std::uint32_t* switcherId,
                                        std::uint32_t* switcherPort);
    virtual int InitializeDeviceState();
    // phase 0 at the start of an ND experiment, 1 at its end.
    virtual int OnNDExperiment(std::int32_t phase) { return m_run.OnNDExperiment(phase); }
    virtual int OnPluginNDSequence_Validate(const void* actions) {
        return m_run.OnPluginNDSequence_Validate(actions);
    }
    // Starts a manual shot through the host's ManualShot: parameter is the group mask, a duration
    // <= 0 runs until ManualShotEnd.
    virtual void ManualShotBegin(std::int32_t parameter, double duration) {
        m_run.ManualShotBegin(parameter, duration);
    }
    virtual bool IsManualShotActive() { return m_run.IsManualShotActive(); }
    // The manual shot runs until ManualShotEnd rather than for a duration.
    bool IsManualShotInfinite() { return m_run.IsManualShotInfinite(); }
    // A stimulation has switched the light path and not yet put it back.
    bool IsStimulationRunning() { return m_run.IsRunning(); }
    virtual void ManualShotEnd() { m_run.ManualShotEnd(); }
    // Stops a running manual shot through the host's command interpreter.
    virtual void StopShutterAndStimulation() { m_run.StopShutterAndStimulation(); }
    virtual void OnLaserLineShow(int line, bool show);
    virtual int OnAssociatedLightChanged(std::uint32_t lightId) {
        return m_lightPath->AssociateLight(lightId);
    }
    virtual void OnAssociatedShuttersChanged(const std::vector<CZtStringW>& shutterKeys) {
        m_lightPath->AssociateShutters(shutterKeys);
    }
    virtual void OnLaserSwitcherDeviceSelectionChanged(std::uint32_t outputId) {
        m_lightPath->SelectSwitcher(outputId);
    }
    virtual void OnLaserSwitcherPositionSelectionChanged(std::uint32_t port) {
        m_lightPath->SelectSwitcherPort(port);
    }
    virtual int OnAutocalibrationInit() { return m_calibrationProcedures.OnAutocalibrationInit(); }
    virtual int OnManualCalibrationInit() {
        return m_calibrationProcedures.OnManualCalibrationInit();
    }
    virtual int AutocalibrationRun() { return m_calibrationProcedures.AutocalibrationRun(); }
    virtual int OnAutocalibrationEnd(bool apply) {
        return m_calibrationProcedures.OnAutocalibrationEnd(apply);
    }
    virtual int OnManualCalibrationEnd(bool apply) {
        return m_calibrationProcedures.OnManualCalibrationEnd(apply);
    }
    virtual int OnAutocalibrationValidationPhase() {
        return m_calibrationProcedures.OnAutocalibrationValidationPhase();
    }
    virtual int OnManualcalibrationValidationPhase() {
        return m_calibrationProcedures.OnManualcalibrationValidationPhase();
    }
    virtual double GetAutocalibrationProgress() { return m_autocalibration->GetProgress(); }
    // Clears the auto-calibration container, keeping the run's result.
    void ClearACContainer() { m_autocalibration->ClearContainer(false); }
    // The open auto-calibration dialog, whose signals the calibration worker emits; null when it
    // goes.
    void SetAutocalibrationDialog(CZtAutocalibrationDialog* dialog) {
        m_autocalibration->SetDialog(dialog);
    }
    // Set while a calibration dialog runs its procedure: the optical configuration is not
    // re-checked then.
    void SetCalibrationInProgress(bool inProgress) { m_calibrationInProgress.store(inProgress); }
    bool IsCalibrationInProgress() const { return m_calibrationInProgress.load(); }
    // Whether an automatic calibration runs, for the pad.
    void SetAutocalibrationRunning(bool running);
    bool IsAutocalibrationRunning() const { return m_autocalibrationRunning.load(); }
    // The scan area of the grabber's scan-area form; false when the grabber shows none.
    static bool ReadScanAreaForm(IZtGrabberProvider* grabber, SZtScanAreaDesc* desc) {
        return CZtVeroveStimulationAreas::ReadScanAreaForm(grabber, desc);
    }
    // The auto-calibration procedure and its last run.
    CZtAutocalibration& GetAutocalibration() { return *m_autocalibration; }
    // The manual calibration's pairs and result.
    CZtManualCalibration& GetManualCalibration() { return *m_manualCalibration; }
    // 0 none, 2 a manual calibration runs; the pad shows it.
    void SetCalibrationMode(int mode);
    int GetCalibrationMode() const { return m_calibrationMode.load(); }
    // The open configuration dialog, which follows device-manager, camera and version changes;
    // null as it goes. GUI thread.
    void SetConfigurationDialog(CZtVeroveConfig* dialog);
    CZtVeroveConfig* GetConfigurationDialog() const;
    // Closes an open configuration dialog as the device disconnects.
    void CloseConfigurationDialog();
    // Accessors for the pad and the dialogs.
    virtual bool IsSimulated() override { return m_simulated; }
    virtual bool IsActive() { return m_active; }
    virtual bool GetGalvoConflict() { return m_galvoConflict.load(); }
    virtual bool IsStartupDone() { return m_hostEvents.IsStartupDone(); }
    // Device changes that arrived before start-up was done, each id once.
    virtual std::vector<std::uint32_t> GetStartupDeviceChanges() {
        return m_hostEvents.GetStartupDeviceChanges();
    }
    virtual std::int32_t GetExperimentState() { return m_run.GetExperimentState(); }
    virtual int GetDitheringMethod() {
        return static_cast<int>(m_driverSettings.ditheringMethod.load());
    }
    virtual bool GetHideLightPad() { return m_startup.GetHideLightPad(); }
    virtual bool GetDebugDeviceMemory() { return m_driverSettings.debugDeviceMemory.load(); }
    virtual CZtVeroveDriver* GetDriver() { return m_driverView.load(); }
    virtual CZtCalibrationData* GetCalibrationData() { return m_driverSettings.calibration.get(); }
    // 1, 4, 6 or 8 (else -4 and nothing changes); a running manual shot is restarted at the new
    // depth.
    virtual int SetBitDepth(std::int32_t depth, bool force);
    // Manual calibration (CZtManualCalibration): one pair of a DMD point and the camera image
    // point where it shows; the square of half-size mirrors lit at a DMD point. After every
    // operation above, so that the host's table of the device's slots keeps its order.
    virtual int AddManualCalibrationPair(double dmdX, double dmdY, double cameraX, double cameraY) {
        return m_manualCalibration->AddPair({dmdX, dmdY}, {cameraX, cameraY});
    }
    virtual int DisplayRectangleAtPos(std::int32_t x, std::int32_t y, std::int32_t halfSize) {
        return m_manualCalibration->DisplayRectangleAtPos(
            {static_cast<double>(x), static_cast<double>(y)}, halfSize);
    }

    // The group (0-2) a group mask names, the lowest of its bits 0-2, and that bit. 0; -4 for an
    // empty mask; the outputs stay untouched when none of the three bits is set.
    int GetGroupToStimulate(std::uint64_t mask, std::uint32_t* group, std::uint64_t* bit) {
        return CZtVeroveStimulationRun::GetGroupToStimulate(mask, group, bit);
    }
    // The unique name of the controlling aggregator when there is one, else this device's.
    CZtStringW GetControllingDevice();
    // One log line listing the stimulation areas with their groups, identifiers and labels.
    void LogROIContent() { m_stimulationAreas.LogROIContent(); }
    // The patterns SetIlluminationSequence prepared for the next illumination sequence.
    int GetSequencePoolSize() { return m_sequence.GetSequencePoolSize(); }

    void SetVisible(bool visible);
    // Reads the device's options from the host registry, writing the defaults that are missing.
    void UpdateRegistryOptions() { m_startup.UpdateRegistryOptions(); }
    // Re-checks the optical configuration and loads the calibration that fits it.
    int CheckConfigurationDataAndUpdateCalibration(bool* changed) {
        return m_calibrationProcedures.CheckConfigurationDataAndUpdateCalibration(changed);
    }
    // Reads the device's record from its settings file, once, after the host has connected its
    // device list; then validates and applies it. 0, also when it had nothing to do.
    virtual int LoadSettings() { return m_startup.LoadSettings(); }
    CZtStringW GetSettingsFileName() override;
    // Applies the loaded record: marks start-up done, handles the device changes deferred until
    // then and checks the bitmap patterns.
    virtual void ValidateAndApplySettings() { m_startup.ValidateAndApplySettings(); }
    // Rebuilds the user's file patterns in the pattern store from the record's bitmap list.
    virtual void CheckBitmapPatterns() { m_startup.CheckBitmapPatterns(); }
    // The settings record; SaveSettings stores what it holds.
    virtual CZtVeroveSettings& GetSettings() { return m_settings; }

    // ---- Light path: the group's laser settings, switcher and shutters around a stimulation ----
    // Sets the group's (0-2) line powers on the light; previous receives the powers it had.
    void SettingsApply_LaserPower(int group, std::vector<double>* previous) {
        m_lightPath->Apply().ApplyLaserPower(group, previous);
    }
    // Puts the powers back, one per line.
    void SettingsApply_LaserPower(const std::vector<double>& powers) {
        m_lightPath->Apply().RestoreLaserPower(powers);
    }
    // The same for the lines' used flags.
    void SettingsApply_LineUsed(int group, std::vector<bool>* previous) {
        m_lightPath->Apply().ApplyLineUsed(group, previous);
    }
    void SettingsApply_LineUsed(const std::vector<bool>& states) {
        m_lightPath->Apply().RestoreLineUsed(states);
    }
    // Sets the switcher to the stored port, remembering its port before; the revert sets that back.
    void SettingsApply_Switcher() { m_lightPath->Apply().ApplySwitcher(); }
    void SettingsRevert_Switcher() { m_lightPath->Apply().RevertSwitcher(); }
    // Switches deferred completion on for the light's physical device when it supports it; true
    // when it did.
    bool LightDeferredCompletionBegin() { return m_lightPath->Apply().DeferredCompletionBegin(); }
    // Waits for the light's pending commands, then switches deferred completion off again.
    void LightDeferredCompletionWait(std::uint32_t timeoutMs) {
        m_lightPath->Apply().DeferredCompletionWait(timeoutMs);
    }
    // The association with light, switcher and shutters, and the dialog's candidate lists.
    CZtVeroveLightPath& GetLightPath() { return *m_lightPath; }
    // Tells the controlling aggregator, when there is one, about a change of this device.
    void NotifyControllingAggregator(int reason);
    // The host's device manager; null when the host has none.
    DMApi* DeviceManager();

    // Host events: the immediate handlers queue the GUI work through the pad wrapper's signals,
    // whose slots run the delayed handlers on the GUI thread.
    virtual int HandleDMRefresh() { return m_hostEvents.HandleDMRefresh(); }
    virtual int HandleCameraNewParams(bool selected) {
        return m_hostEvents.HandleCameraNewParams(selected);
    }
    virtual int HandleDeviceChanged(const std::uint32_t* ids, int count) {
        return m_hostEvents.HandleDeviceChanged(ids, count);
    }
    virtual int HandleDMRefreshDelayed() { return m_hostEvents.HandleDMRefreshDelayed(); }
    virtual int HandleCameraNewParamsDelayed() {
        return m_hostEvents.HandleCameraNewParamsDelayed();
    }
    virtual int HandleDeviceChangedDelayed(std::uint32_t id) {
        return m_hostEvents.HandleDeviceChangedDelayed(id);
    }

    // ---- IZtDeviceDMD ----
    const wchar_t* GetInterfaceName() override { return L"IDeviceDMD_V2"; }
    const wchar_t* GetTypeName() override { return L""; }
    const wchar_t* GetTypeDescription() override { return L""; }
    const wchar_t* GetTypeText(int kind) override {
        return kind == 1 ? GetTypeName() : kind == 2 ? GetTypeDescription() : L"";
    }
    int GetDeviceID(ZT_DWORD* id) override { return m_dmd.GetDeviceID(id); }
    int SaveKeys(CZtLiteVariantW* keys) override { return m_dmd.SaveKeys(keys); }
    int LoadKeys(CZtLiteVariantR* keys, ZT_DWORD id) override { return m_dmd.LoadKeys(keys, id); }
    bool HasDeviceCapability(ZT_DWORD code) override { return m_dmd.HasDeviceCapability(code); }
    int ShowConfigurationDialog(QWidget* parent) override {
        return m_dmd.ShowConfigurationDialog(parent);
    }
    int Reserved15() override { return 2; }
    int ParameterByCode(ZT_DWORD code, void* value) override {
        return m_dmd.ParameterByCode(code, value);
    }
    QObject* GetControlPadGUIElement() override;
    int GetControlPadGUIElementInfo(CZtStringW* title, CZtStringW* group,
                                    CZtStringW* bitmap) override {
        return m_dmd.GetControlPadGUIElementInfo(title, group, bitmap);
    }
    int UpdateControlPad() override { return m_dmd.UpdateControlPad(); }
    int GetAssociatedShuttersOpen(bool* open) override {
        return m_dmd.GetAssociatedShuttersOpen(open);
    }
    int SetAssociatedShuttersOpenState(bool open) override {
        return m_lightPath->SetShuttersOpen(open);
    }
    int GetAssociatedShutterCount(ZT_DWORD* count) override {
        return m_dmd.GetAssociatedShutterCount(count);
    }
    int GetAssociatedShutterId(int index, ZT_DWORD* id) override {
        return m_dmd.GetAssociatedShutterId(index, id);
    }
    int GetAssociatedLightId(ZT_DWORD* id) override { return m_dmd.GetAssociatedLightId(id); }
    int GetAssociatedSwitcherId(ZT_DWORD* id) override { return m_dmd.GetAssociatedSwitcherId(id); }
    int GetAssociatedSwitcherPort(ZT_DWORD* port) override {
        return m_dmd.GetAssociatedSwitcherPort(port);
    }
    int GetPatternCount(ZT_DWORD* count) override { return m_dmd.GetPatternCount(count); }
    int GetPatternName(ZT_DWORD id, CZtStringW* name) override {
        return m_dmd.GetPatternName(id, name);
    }
    int GetPatternAvailable(ZT_DWORD id, bool* available) override {
        return m_dmd.GetPatternAvailable(id, available);
    }
    int GetActivePatternId(ZT_DWORD* id) override { return m_dmd.GetActivePatternId(id); }
    int SetActivePatternId(ZT_DWORD id) override { return m_dmd.SetActivePatternId(id); }
    int GetPatternIdByName(const wchar_t* name, ZT_DWORD* id) override {
        return m_dmd.GetPatternIdByName(name, id);
    }
    int GetPatternIdByIndex(ZT_DWORD index, ZT_DWORD* id) override {
        return m_dmd.GetPatternIdByIndex(index, id);
    }
    int GetPatternCameraProjection(ZT_DWORD id, SZtPicBuf* picture, const SZtRect* rect1,
                                   const SZtRect* rect2, double value1, double value2,
                                   double angleDegrees) override {
        return m_dmd.GetPatternCameraProjection(id, picture, rect1, rect2, value1, value2,
                                                angleDegrees);
    }
    int IsCalibrated(bool* calibrated) override { return m_dmd.IsCalibrated(calibrated); }
    int SetOperationMode(std::int32_t mode) override { return m_sequence.SetOperationMode(mode); }
    int GetIlluminationSequenceState(std::int32_t* state) override {
        return m_sequence.GetIlluminationSequenceState(state);
    }
    int SetIlluminationSequence(const void* sequence) override {
        return m_sequence.SetIlluminationSequence(sequence);
    }
    int GenerateGridAppendToISPool(int columns, int rows) override {
        return m_sequence.GenerateGridAppendToISPool(columns, rows);
    }
    int Reserved56() override { return VeroveStatus::kDmdUnknownCode; }

    // ---- IZtStimulationDeviceEx ----
    int AddUserPattern(const wchar_t* name, const wchar_t* path, std::int32_t mapping) override {
        return m_dmd.AddUserPattern(name, path, mapping);
    }
    int GetUserPattern(const wchar_t* name, CZtStringW* path) override {
        return m_dmd.GetUserPattern(name, path);
    }
    int ActivatePatternByName(const wchar_t* name) override {
        return m_dmd.ActivatePatternByName(name);
    }
    bool HasPattern(const wchar_t* name) override { return m_dmd.HasPattern(name); }
    void RefreshPad() override;
    int GetValue(int index, std::uint32_t* value) override { return m_dmd.GetValue(index, value); }
    int GetAssociatedLight(std::uint32_t* id) override { return GetValue(0, id); }
    int SetControllingAggregator(IZtInterface* aggregator) override;
    int GetControllingAggregator(IZtInterface** aggregator) override;
    int TakeOverBitDepth(IZtInterface* other) override;
    int StimulationAreaSetFor(IZtInterface* caller, const CZtRoiObjectList* areas,
                              const SZtRLEPicBuf* masks, const SZtScanAreaDesc* scanArea,
                              const SZtGrabberFormatDesc* format,
                              const SZtRect* cameraRect) override;
    int GetBitDepth() override { return m_driverSettings.bitDepth.load(); }
    bool IsExposing() override;

    // ---- IZtLaserPowerControl ----
    int GetLineCount() override { return m_lightPath->GetLineCount(); }
    int GetGroupCount() override { return 3; }
    CZtStringW GetGroupName(int group) override;
    CZtStringW GetLineName(int line) override;
    double GetLineWavelength(int line) override { return m_lightPath->GetLineWavelength(line); }
    double GetLinePower(int line, int group) override {
        return m_lightPath->GetLinePower(line, group);
    }
    bool GetLineVisible(int line) override { return m_lightPath->GetLineVisible(line); }
    bool GetLineUsed(int line, int group) override { return m_lightPath->GetLineUsed(line, group); }
    void SetLinePower(int line, int group, double power) override {
        m_lightPath->SetLinePower(line, group, power);
    }
    int LaserPowerReserved10() override { return 0; }
    int LaserPowerReserved11() override { return 1; }
    CZtStringW LaserPowerReserved12() override { return CZtStringW(); }
    int LaserPowerReserved13() override { return 0; }
    int SetLineFlag(int line, int group, bool flag) override {
        return flag ? VeroveStatus::kRefused : VeroveStatus::kOk;
    }

    // ---- IZtVeroveDriverOwner ----
    SZtVeroveDriverSettings* GetDriverSettings() override { return &m_driverSettings; }
    IZtCalibrationOwner* GetCalibrationOwner() override { return this; }
    void SetInvalidHardware(bool invalid) override { m_galvoConflict.store(invalid); }
    int GetPatternCount() override { return m_dmd.GetPatternCount(); }
    void GetTraxPorts(std::uint32_t* portA, std::uint32_t* portB) override;
    // The driver tells before it matches the camera ROI; the ROI change it causes reaches the
    // device as a camera event, which the module lets pass while the driver reports the matching.
    void OnDriverEvent(int code) override {}
    void OnExposureStateChanged() override;
    void SaveSettings() override { m_startup.SaveSettings(); }
    // The configuration dialog shows the versions.
    void OnVersionsChanged() override;

    // ---- IZtCalibrationOwner ----
    IZtGrabberProvider* GetGrabberProvider() override;
    bool HasDriver() override { return GetDriver() != nullptr; }
    int GetCurrentFormat(SZtGrabberFormatDesc* format) override;
    void SetCalibrated(EZtCalibrationState state) override {
        m_calibrationProcedures.SetCalibrated(state);
    }

protected:
    ~CZtStimulationDeviceVerove() override;

    bool m_simulated = false;

private:
    friend class CZtVeroveCalibrationProcedures;
    friend class CZtVeroveDmdAdapter;
    friend class CZtVeroveHostEvents;
    friend class CZtVeroveIlluminationSequence;
    friend class CZtVeroveStartup;
    friend class CZtVeroveStimulationAreas;
    friend class CZtVeroveStimulationRun;

    // The pattern exposed now; takes the driver's buffer lock.
    static int CurrentPatternId(CZtVeroveDriver* driver);
    // Runs work with the pad on the GUI thread: at once there, queued from other threads (through
    // the wrapper, whose deletion drops what is still queued). Nothing without a pad.
    void RunOnPad(std::function<void(CZtVerovePadQt&)> work);

    // The locks; see the class comment.
    CZtCriticalSection m_connectionLock;
    CZtCriticalSection m_areasLock;
    CZtCriticalSection m_aggregatorLock;
    CZtCriticalSection m_deviceManagerRefreshLock;
    std::mutex m_runLock;

    CZtStringW m_uniqueName;
    CZtStringW m_guiElementName;
    ZT_DWORD m_logicalDeviceId = 0;

    // Owned; m_connectionLock. Readers on other threads (owner callbacks) use m_driverView.
    std::unique_ptr<CZtVeroveDriver> m_driver;
    std::atomic<CZtVeroveDriver*> m_driverView{nullptr};
    bool m_driverOpened = false;
    bool m_connected = false;
    std::unique_ptr<CZtVerovePadWrapper> m_padWrapper;
    QPointer<CZtVerovePadQt> m_pad;  // GUI thread
    std::atomic<bool> m_padManual{false};
    std::atomic<bool> m_padPulse{false};
    std::atomic<EZtDisableMode> m_disableMode{ZtDisableNone};

    bool m_active = false;
    bool m_visible = true;
    std::atomic<bool> m_galvoConflict{false};

    std::atomic<std::uint32_t> m_traxPortA{0};  // read by the driver on its threads
    std::atomic<std::uint32_t> m_traxPortB{0};

    // The user's settings; read once, saved whenever a stored setting changes (CZtVeroveStartup).
    CZtVeroveSettings m_settings;

    // Declared after m_settings, which it works on, so that it is destroyed first.
    std::unique_ptr<CZtVeroveLightPath> m_lightPath;

    SZtVeroveDriverSettings m_driverSettings;
    // Stopped before the driver goes: its worker uses the driver.
    std::unique_ptr<CZtAutocalibration> m_autocalibration;
    std::unique_ptr<CZtManualCalibration> m_manualCalibration;
    std::atomic<int> m_calibrationMode{0};
    QPointer<CZtVeroveConfig> m_configDialog;  // GUI thread
    std::atomic<bool> m_calibrationInProgress{false};
    std::atomic<bool> m_autocalibrationRunning{false};
    // m_aggregatorLock. The aggregator holds this device too: the module has it let its devices
    // go (ReleaseDevices) before dropping it, which breaks the cycle.
    CZtRef<IZtStimulationDeviceAggregator> m_aggregator;
    // Set while TakeOverBitDepth sets the depth another device of the aggregator has.
    bool m_takingOverBitDepth = false;

    // The collaborators: each works on this device and keeps its own concern's state.
    CZtVeroveStartup m_startup{*this};
    CZtVeroveHostEvents m_hostEvents{*this};
    CZtVeroveDmdAdapter m_dmd{*this};
    CZtVeroveIlluminationSequence m_sequence{*this};
    CZtVeroveStimulationAreas m_stimulationAreas{*this};
    CZtVeroveStimulationRun m_run{*this};
    CZtVeroveCalibrationProcedures m_calibrationProcedures{*this};
};

// Thread-bound like its base. The same device over the simulated unit of the SDK proxy.
class CZtStimulationDeviceVeroveSim : public CZtStimulationDeviceVerove {
public:
    CZtStimulationDeviceVeroveSim();

protected:
    ~CZtStimulationDeviceVeroveSim() override;
};
