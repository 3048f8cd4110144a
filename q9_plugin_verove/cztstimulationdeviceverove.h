// The stimulation device the host sees as one Verove: its four host interfaces and its life cycle.
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
#include "cztverovedriver.h"
#include "cztverovedriverowner.h"
#include "cztverovesettings.h"
#include "patterns.h"
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
class CZtVeroveLightPath;
class CZtVerovePadQt;
class CZtVerovePadWrapper;
class DMApi;
class IZtStimulationDeviceAggregator;

// One stimulation phase of a validated ND experiment, 24 bytes: its groups (bit g for group g) and
// its duration; the device steps through them with a cursor.
struct SZtFiredStimulation {
    std::uint64_t groupMask = 0;
    double durationMs = 0.0;
    std::int32_t phase = 0;  // the phase's place in the experiment
    std::int32_t reserved = 0;
};

// Thread-bound to the host's main thread, except the owner callbacks of the driver and the
// calibration data, which run on the thread of the driver or calibration call that needs them,
// and StimulationBegin, StimulationEnd, StimulationAbort and StimulationAreaGet, which host work
// threads call.
//
// The device lock guards Connect, OnPortActivated and the driver pointer; the second lock the
// stimulation areas; the aggregator lock the controlling aggregator; the device-manager lock the
// host's device-manager refresh; the run lock one stimulation from its begin to its end.
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
    CZtStringW GetUniqueName() override;
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
    int StimulationAreaGetCount() override;
    int StimulationAreaSet(const CZtRoiObjectList* areas, const SZtRLEPicBuf* masks,
                           const SZtScanAreaDesc* scanArea, const SZtGrabberFormatDesc* format,
                           const SZtRect* cameraRect) override;
    int StimulationAreaGet(CZtRoiObjectList* areas, SZtRLEPicBuf* masks, SZtScanAreaDesc* scanArea,
                           SZtGrabberFormatDesc* format, SZtRect* cameraRect,
                           std::uint64_t* groupMask) override;
    int StimulationAreaAppendAsPattern() override;
    int StimulationAreaUpload() override;
    bool StimulationAreaIsUpToDate() override;
    int StimulationReady() override;
    bool StimulationIsReady() override;
    int StimulationBegin(const SZtStimulationRequest* request) override;
    // The user text of the last stimulation that could not begin (empty until one failed).
    CZtStringW GetLastStimulationError();
    int StimulationEnd(double* startTimes, double* endTimes, int count) override;
    int StimulationFire(double* startTime, double* endTime) override;
    int StimulationAbort() override;
    int StimulationROIPrepare() override { return 0; }
    int StimulationValidate(const SZtExperiment* experiment, CZtStringW* error) override;
    IZtLaserPowerControl* GetLaserPowerControl() override;

    // ---- The device's own operations ----
    // Connects (true) or disconnects (false) the DMD; true when the connected state afterwards
    // equals the request. brand 0 selects the Andor names, others the Velmar names.
    virtual bool Connect(bool connect, std::uint32_t brand, std::int32_t deviceIndex);
    virtual bool OnPortActivated(bool activated, bool show);
    // Registers the device again under the new name when it was registered under the old one.
    virtual void SetUniqueName(const wchar_t* uniqueName);
    virtual void SetGUIElementName(const wchar_t* guiName);
    virtual CZtStringW GetGUIElementName();
    int SetLineUsed(int line, int group, bool used) override;
    virtual void OnLaserLineAdded(int line);
    virtual void OnLaserLinesCleared();
    virtual CZtVerovePadWrapper* GetPadWrapper();
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
    virtual int OnNDExperiment(std::int32_t phase);
    virtual int OnPluginNDSequence_Validate(const void* actions);
    // Starts a manual shot through the host's ManualShot: parameter is the group mask, a duration
    // <= 0 runs until ManualShotEnd.
    virtual void ManualShotBegin(std::int32_t parameter, double duration);
    virtual bool IsManualShotActive();
    // The manual shot runs until ManualShotEnd rather than for a duration.
    bool IsManualShotInfinite() { return m_manualShotInfinite; }
    // A stimulation has switched the light path and not yet put it back.
    bool IsStimulationRunning() { return m_running; }
    virtual void ManualShotEnd();
    // Stops a running manual shot through the host's command interpreter.
    virtual void StopShutterAndStimulation();
    virtual void OnLaserLineShow(int line, bool show);
    virtual int OnAssociatedLightChanged(std::uint32_t lightId);
    virtual void OnAssociatedShuttersChanged(const std::vector<CZtStringW>& shutterKeys);
    virtual void OnLaserSwitcherDeviceSelectionChanged(std::uint32_t outputId);
    virtual void OnLaserSwitcherPositionSelectionChanged(std::uint32_t port);
    virtual int OnAutocalibrationInit();
    virtual int OnManualCalibrationInit();
    virtual int AutocalibrationRun();
    virtual int OnAutocalibrationEnd(bool apply);
    virtual int OnManualCalibrationEnd(bool apply);
    virtual int OnAutocalibrationValidationPhase();
    virtual int OnManualcalibrationValidationPhase();
    virtual double GetAutocalibrationProgress();
    // Clears the auto-calibration container, keeping the run's result.
    void ClearACContainer();
    // The open auto-calibration dialog, whose signals the calibration worker emits; null when it
    // goes.
    void SetAutocalibrationDialog(CZtAutocalibrationDialog* dialog);
    // Set while a calibration dialog runs its procedure: the optical configuration is not
    // re-checked then.
    void SetCalibrationInProgress(bool inProgress) { m_calibrationInProgress.store(inProgress); }
    bool IsCalibrationInProgress() const { return m_calibrationInProgress.load(); }
    // Whether an automatic calibration runs, for the pad.
    void SetAutocalibrationRunning(bool running);
    bool IsAutocalibrationRunning() const { return m_autocalibrationRunning.load(); }
    // The scan area of the grabber's scan-area form; false when the grabber shows none.
    static bool ReadScanAreaForm(IZtGrabberProvider* grabber, SZtScanAreaDesc* desc);
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
    // Accessors for the pad and the dialogs.
    virtual bool IsSimulated() override { return m_simulated; }
    virtual bool IsActive() { return m_active; }
    virtual bool GetGalvoConflict() { return m_galvoConflict.load(); }
    virtual bool IsStartupDone() { return m_startupDone; }
    // Device changes that arrived before start-up was done, each id once.
    virtual std::vector<std::uint32_t> GetStartupDeviceChanges() { return m_startupDeviceChanges; }
    virtual std::int32_t GetExperimentState() { return m_experimentState; }
    virtual int GetDitheringMethod();
    virtual bool GetHideLightPad() { return m_hideLightPad; }
    virtual bool GetDebugDeviceMemory();
    virtual CZtVeroveDriver* GetDriver();
    virtual CZtCalibrationData* GetCalibrationData();
    // 1, 4, 6 or 8 (else -4 and nothing changes); a running manual shot is restarted at the new
    // depth.
    virtual int SetBitDepth(std::int32_t depth, bool force);
    // Manual calibration (CZtManualCalibration): one pair of a DMD point and the camera image
    // point where it shows; the square of half-size mirrors lit at a DMD point. After every
    // operation above, so that the host's table of the device's slots keeps its order.
    virtual int AddManualCalibrationPair(double dmdX, double dmdY, double cameraX, double cameraY);
    virtual int DisplayRectangleAtPos(std::int32_t x, std::int32_t y, std::int32_t halfSize);

    // The group (0-2) a group mask names, the lowest of its bits 0-2, and that bit. 0; -4 for an
    // empty mask; the outputs stay untouched when none of the three bits is set.
    int GetGroupToStimulate(std::uint64_t mask, std::uint32_t* group, std::uint64_t* bit);
    // The unique name of the controlling aggregator when there is one, else this device's.
    CZtStringW GetControllingDevice();
    // One log line listing the stimulation areas with their groups, identifiers and labels.
    void LogROIContent();
    // The patterns SetIlluminationSequence prepared for the next illumination sequence.
    int GetSequencePoolSize();

    void SetVisible(bool visible);
    // Reads the device's options from the host registry, writing the defaults that are missing.
    void UpdateRegistryOptions();
    // Re-checks the optical configuration and loads the calibration that fits it.
    int CheckConfigurationDataAndUpdateCalibration(bool* changed);
    // Reads the device's record from its settings file, once, after the host has connected its
    // device list; then validates and applies it. 0, also when it had nothing to do.
    virtual int LoadSettings();
    CZtStringW GetSettingsFileName() override;
    // Applies the loaded record: marks start-up done, handles the device changes deferred until
    // then and checks the bitmap patterns.
    virtual void ValidateAndApplySettings();
    // Rebuilds the user's file patterns in the pattern store from the record's bitmap list.
    virtual void CheckBitmapPatterns();
    // The settings record; SaveSettings stores what it holds.
    virtual CZtVeroveSettings& GetSettings() { return m_settings; }

    // ---- Light path: the group's laser settings, switcher and shutters around a stimulation ----
    // Sets the group's (0-2) line powers on the light; previous receives the powers it had.
    void SettingsApply_LaserPower(int group, std::vector<double>* previous);
    // Puts the powers back, one per line.
    void SettingsApply_LaserPower(const std::vector<double>& powers);
    // The same for the lines' used flags.
    void SettingsApply_LineUsed(int group, std::vector<bool>* previous);
    void SettingsApply_LineUsed(const std::vector<bool>& states);
    // Sets the switcher to the stored port, remembering its port before; the revert sets that back.
    void SettingsApply_Switcher();
    void SettingsRevert_Switcher();
    // Switches deferred completion on for the light's physical device when it supports it; true
    // when it did.
    bool LightDeferredCompletionBegin();
    // Waits for the light's pending commands, then switches deferred completion off again.
    void LightDeferredCompletionWait(std::uint32_t timeoutMs);
    // The association with light, switcher and shutters, and the dialog's candidate lists.
    CZtVeroveLightPath& GetLightPath() { return *m_lightPath; }
    // Tells the controlling aggregator, when there is one, about a change of this device.
    void NotifyControllingAggregator(int reason);
    // The host's device manager; null when the host has none.
    DMApi* DeviceManager();

    // Host events: the immediate handlers queue the GUI work through the pad wrapper's signals,
    // whose slots run the delayed handlers on the GUI thread.
    virtual int HandleDMRefresh();
    virtual int HandleCameraNewParams(bool selected);
    virtual int HandleDeviceChanged(const std::uint32_t* ids, int count);
    virtual int HandleDMRefreshDelayed();
    virtual int HandleCameraNewParamsDelayed();
    virtual int HandleDeviceChangedDelayed(std::uint32_t id);

    // ---- IZtDeviceDMD ----
    const wchar_t* GetInterfaceName() override { return L"IDeviceDMD_V2"; }
    const wchar_t* GetTypeName() override { return L""; }
    const wchar_t* GetTypeDescription() override { return L""; }
    const wchar_t* GetTypeText(int kind) override;
    int GetDeviceID(ZT_DWORD* id) override;
    int SaveKeys(CZtLiteVariantW* keys) override;
    int LoadKeys(CZtLiteVariantR* keys, ZT_DWORD id) override;
    bool HasDeviceCapability(ZT_DWORD code) override;
    int ShowConfigurationDialog(QWidget* parent) override;
    int Reserved15() override { return 2; }
    int ParameterByCode(ZT_DWORD code, void* value) override;
    QObject* GetControlPadGUIElement() override;
    int GetControlPadGUIElementInfo(CZtStringW* title, CZtStringW* group,
                                    CZtStringW* bitmap) override;
    int UpdateControlPad() override;
    int GetAssociatedShuttersOpen(bool* open) override;
    int SetAssociatedShuttersOpenState(bool open) override;
    int GetAssociatedShutterCount(ZT_DWORD* count) override;
    int GetAssociatedShutterId(int index, ZT_DWORD* id) override;
    int GetAssociatedLightId(ZT_DWORD* id) override;
    int GetAssociatedSwitcherId(ZT_DWORD* id) override;
    int GetAssociatedSwitcherPort(ZT_DWORD* port) override;
    int GetPatternCount(ZT_DWORD* count) override;
    int GetPatternName(ZT_DWORD id, CZtStringW* name) override;
    int GetPatternAvailable(ZT_DWORD id, bool* available) override;
    int GetActivePatternId(ZT_DWORD* id) override;
    int SetActivePatternId(ZT_DWORD id) override;
    int GetPatternIdByName(const wchar_t* name, ZT_DWORD* id) override;
    int GetPatternIdByIndex(ZT_DWORD index, ZT_DWORD* id) override;
    int GetPatternCameraProjection(ZT_DWORD id, SZtPicBuf* picture, const SZtRect* rect1,
                                   const SZtRect* rect2, double value1, double value2,
                                   double angleDegrees) override;
    int IsCalibrated(bool* calibrated) override;
    int SetOperationMode(std::int32_t mode) override;
    int GetIlluminationSequenceState(std::int32_t* state) override;
    int SetIlluminationSequence(const void* sequence) override;
    int GenerateGridAppendToISPool(int columns, int rows) override;
    int Reserved56() override { return 22; }

    // ---- IZtStimulationDeviceEx ----
    int AddUserPattern(const wchar_t* name, const wchar_t* path, std::int32_t mapping) override;
    int GetUserPattern(const wchar_t* name, CZtStringW* path) override;
    int ActivatePatternByName(const wchar_t* name) override;
    bool HasPattern(const wchar_t* name) override;
    void RefreshPad() override;
    int GetValue(int index, std::uint32_t* value) override;
    int GetAssociatedLight(std::uint32_t* id) override { return GetValue(0, id); }
    int SetControllingAggregator(IZtInterface* aggregator) override;
    int GetControllingAggregator(IZtInterface** aggregator) override;
    int TakeOverBitDepth(IZtInterface* other) override;
    int StimulationAreaSetFor(IZtInterface* caller, const CZtRoiObjectList* areas,
                              const SZtRLEPicBuf* masks, const SZtScanAreaDesc* scanArea,
                              const SZtGrabberFormatDesc* format,
                              const SZtRect* cameraRect) override;
    int GetBitDepth() override;
    bool IsExposing() override;

    // ---- IZtLaserPowerControl ----
    int GetLineCount() override;
    int GetGroupCount() override { return 3; }
    CZtStringW GetGroupName(int group) override;
    CZtStringW GetLineName(int line) override;
    double GetLineWavelength(int line) override;
    double GetLinePower(int line, int group) override;
    bool GetLineVisible(int line) override;
    bool GetLineUsed(int line, int group) override;
    void SetLinePower(int line, int group, double power) override;
    int LaserPowerReserved10() override { return 0; }
    int LaserPowerReserved11() override { return 1; }
    CZtStringW LaserPowerReserved12() override { return CZtStringW(); }
    int LaserPowerReserved13() override { return 0; }
    int SetLineFlag(int line, int group, bool flag) override { return flag ? -9 : 0; }

    // ---- IZtVeroveDriverOwner ----
    SZtVeroveDriverSettings* GetDriverSettings() override { return &m_driverSettings; }
    IZtCalibrationOwner* GetCalibrationOwner() override { return this; }
    void SetInvalidHardware(bool invalid) override { m_galvoConflict.store(invalid); }
    int GetPatternCount() override;
    void GetTraxPorts(std::uint32_t* portA, std::uint32_t* portB) override;
    void OnDriverEvent(int code) override;
    void OnExposureStateChanged() override;
    void SaveSettings() override;
    void OnVersionsChanged() override;

    // ---- IZtCalibrationOwner ----
    IZtGrabberProvider* GetGrabberProvider() override;
    bool HasDriver() override;
    int GetCurrentFormat(SZtGrabberFormatDesc* format) override;
    void SetCalibrated(EZtCalibrationState state) override;

protected:
    ~CZtStimulationDeviceVerove() override;

    bool m_simulated = false;

private:
    void Init();
    // Adds the ids not yet in list.
    static void AppendUnique(std::vector<std::uint32_t>* list, const std::uint32_t* ids, int count);
    // Gives each group pattern its areas and masks, renders it once at the current depth and shows
    // it again when it is the exposed one and its content changed.
    void UpdateGroupPatterns(CZtVeroveDriver* driver);
    // A manual shot ended: clears it and the running flags; tellPad refreshes the pad.
    void FinishManualShot(bool tellPad);
    // Runs work with the pad on the GUI thread: at once there, queued from other threads (through
    // the wrapper, whose deletion drops what is still queued). Nothing without a pad.
    void RunOnPad(std::function<void(CZtVerovePadQt&)> work);
    int CurrentPatternId(CZtVeroveDriver* driver);
    // A pattern of the store, or from 10000 on of the sequence pool; the caller holds the driver's
    // buffer lock.
    const CZtPattern* FindPattern(CZtVeroveDriver* driver, ZT_DWORD id);
    int EnterIlluminationSequence(CZtVeroveDriver* driver);
    void LeaveIlluminationSequence(CZtVeroveDriver* driver);

    // Locks: the device lock, the second lock, the aggregator lock, the device-manager lock.
    CZtCriticalSection m_csDevice;
    CZtCriticalSection m_csSecond;
    CZtCriticalSection m_csAggregator;
    CZtCriticalSection m_csDeviceManager;
    // Hand control between the host's main thread and its work thread during a stimulation.
    CZtEvent m_freezeEvent{false, false};
    CZtEvent m_releaseEvent{false, false};

    CZtStringW m_uniqueName;
    CZtStringW m_guiElementName;
    ZT_DWORD m_logicalDeviceId = 0;

    // Owned; m_csDevice. Readers on other threads (owner callbacks) use m_driverView.
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
    bool m_startupDone = false;

    // Registry options; the debug and dithering options live in the driver settings.
    bool m_hideLightPad = true;

    std::atomic<std::int32_t> m_experimentState{1};
    std::int32_t m_expectedPhases = 0;
    std::atomic<std::uint32_t> m_traxPortA{0};  // read by the driver on its threads
    std::atomic<std::uint32_t> m_traxPortB{0};
    std::vector<std::uint32_t> m_startupDeviceChanges;
    std::vector<std::uint32_t> m_sequenceDeviceChanges;
    // The stimulation phases of a validated ND experiment and the one the next stimulation fires;
    // m_runLock.
    std::vector<SZtFiredStimulation> m_firedStimulations;
    std::size_t m_firedCursor = 0;
    bool m_triggerAvailable = false;

    // The user's settings; read once (m_settingsLoaded), saved whenever a stored setting changes.
    CZtVeroveSettings m_settings;
    bool m_settingsLoaded = false;

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
    // One counted reference while set; m_csAggregator.
    IZtStimulationDeviceAggregator* m_aggregator = nullptr;

    std::atomic<std::int32_t> m_operationMode{0};  // read by stimulations on work threads
    std::int32_t m_previousOperationMode = 0;
    // What SetIlluminationSequence prepared, and the pattern and depth to return to afterwards.
    std::vector<std::unique_ptr<CZtPattern>> m_sequencePool;
    std::vector<SZtVeroveSequenceEvent> m_sequenceEvents;
    std::int32_t m_sequenceRepeatCount = 0;
    int m_sequenceReturnPatternId = 0;
    std::int32_t m_sequenceReturnBitDepth = 1;

    // The stimulation areas as the host gave them; m_csSecond.
    CZtRoiObjectList m_areas;
    SZtRLEPicBuf m_areaMasks;
    SZtScanAreaDesc m_scanArea;
    SZtGrabberFormatDesc m_cameraFormat;
    SZtRect m_cameraRect;
    std::atomic<bool> m_areasSet{false};
    // m_csSecond.
    CZtStringW m_lastStimulationError;

    // A stimulation from StimulationBegin to StimulationEnd. The run mode (0 none, 1 timed by the
    // caller, 2 frozen until released) and the flags are read without the lock.
    std::mutex m_runLock;
    std::atomic<std::int32_t> m_runMode{0};
    std::atomic<bool> m_running{false};
    double m_startTime = -1.0;  // m_runLock
    double m_endTime = -1.0;    // m_runLock
    // The light path before the stimulation, put back by StimulationEnd; m_runLock.
    int m_previousPatternId = 0;
    std::vector<double> m_previousPowers;
    std::vector<bool> m_previousLineStates;
    bool m_previousShuttersOpen = false;

    // The manual shot the pad started; its parameter (the group mask) and duration go to the host.
    std::atomic<bool> m_manualShotActive{false};
    std::atomic<bool> m_manualShotInfinite{false};
    std::atomic<std::int32_t> m_manualShotParameter{0};
    std::atomic<double> m_manualShotDuration{0.0};
    // Set while TakeOverBitDepth sets the depth another device of the aggregator has.
    bool m_takingOverBitDepth = false;
    const wchar_t* const m_emptyText = L"";
};

// Thread-bound like its base. The same device over the simulated unit of the SDK proxy.
class CZtStimulationDeviceVeroveSim : public CZtStimulationDeviceVerove {
public:
    CZtStimulationDeviceVeroveSim();

protected:
    ~CZtStimulationDeviceVeroveSim() override;
};
