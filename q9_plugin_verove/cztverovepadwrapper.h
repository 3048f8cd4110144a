// The device's GUI element: its signals carry device events to the GUI thread.
#pragma once

#include <QObject>
#include <cstdint>

class CZtStimulationDeviceVerove;

using zt_uint32 = std::uint32_t;
using zt_int32 = std::int32_t;

// Thread-affine to the GUI thread that created it; the emitting methods may be called from any
// thread: the delayed handlers run through queued connections on the GUI thread.
class CZtVerovePadWrapper : public QObject {
    Q_OBJECT

public:
    // device is borrowed: the device owns the wrapper and detaches itself before it goes.
    explicit CZtVerovePadWrapper(CZtStimulationDeviceVerove* device);
    ~CZtVerovePadWrapper() override;

    // Called by the device as it is destroyed; the slots do nothing afterwards.
    void DetachDevice();
    CZtStimulationDeviceVerove* GetDevice() const { return m_device; }

    // Each only emits the matching signal.
    void DMRefresh();
    void CameraNewParams();
    // One sigDelayDeviceChanged per id, in list order.
    void DeviceChanged(const std::uint32_t* ids, int count);
    void DisableGUIModeChanged();
    void PortActivated(bool activated, bool show);
    void ActivePattern(zt_uint32 id);
    void Durations();
    void Patterns();
    void GroupButtons();
    void StimulationState();

signals:
    void sigDelayDMRefresh();
    void sigDelayDeviceChanged(zt_uint32 uiDeviceID);
    void sigDelayCameraNewParams();
    void sigUpdateStimulationState();
    void sigPortActivated(bool bActivated, bool bShow);
    void sigUpdateActivePattern(zt_uint32 uiPatternID);
    void sigUpdatePatternsCombo();
    void sigUpdateStimulationGroupButtonsAvailability();
    void sigUpdateDurationsCombo();
    void sigDisableGUIModeChanged();

public slots:
    void OnContentResize() {}
    void OnDeviceChangedDelayed(zt_uint32 uiDeviceID);
    void OnDMRefreshDelayed();
    void OnCameraNewParamsDelayed();
    void OnDeviceGUIReady();
    void OnPortActivated(bool bActivated, bool bShow);
    void OnDisableGUIModeChanged();

private:
    // Borrowed; written and read on the GUI thread only.
    CZtStimulationDeviceVerove* m_device = nullptr;
};
