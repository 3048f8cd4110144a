// The device's GUI element and the queued hand-over of device events to the GUI thread.
#include "cztverovepadwrapper.h"

#include "cztstimulationdeviceverove.h"

CZtVerovePadWrapper::CZtVerovePadWrapper(CZtStimulationDeviceVerove* device) : m_device(device) {
    qRegisterMetaType<zt_uint32>("zt_uint32");
    qRegisterMetaType<zt_int32>("zt_int32");
    // Host events arrive inside the host's event dispatch or on work threads: the device's
    // delayed handlers always run later, from the GUI thread's event loop.
    connect(this, &CZtVerovePadWrapper::sigDelayDMRefresh, this,
            &CZtVerovePadWrapper::OnDMRefreshDelayed, Qt::QueuedConnection);
    connect(this, &CZtVerovePadWrapper::sigDelayDeviceChanged, this,
            &CZtVerovePadWrapper::OnDeviceChangedDelayed, Qt::QueuedConnection);
    connect(this, &CZtVerovePadWrapper::sigDelayCameraNewParams, this,
            &CZtVerovePadWrapper::OnCameraNewParamsDelayed, Qt::QueuedConnection);
    connect(this, &CZtVerovePadWrapper::sigPortActivated, this,
            &CZtVerovePadWrapper::OnPortActivated);
}

CZtVerovePadWrapper::~CZtVerovePadWrapper() = default;

void CZtVerovePadWrapper::DetachDevice() {
    m_device = nullptr;
}

void CZtVerovePadWrapper::DMRefresh() {
    emit sigDelayDMRefresh();
}

void CZtVerovePadWrapper::CameraNewParams() {
    emit sigDelayCameraNewParams();
}

void CZtVerovePadWrapper::DeviceChanged(const std::uint32_t* ids, int count) {
    for (int i = 0; ids && i < count; ++i) {
        emit sigDelayDeviceChanged(ids[i]);
    }
}

void CZtVerovePadWrapper::DisableGUIModeChanged() {
    emit sigDisableGUIModeChanged();
}

void CZtVerovePadWrapper::PortActivated(bool activated, bool show) {
    emit sigPortActivated(activated, show);
}

void CZtVerovePadWrapper::ActivePattern(zt_uint32 id) {
    emit sigUpdateActivePattern(id);
}

void CZtVerovePadWrapper::Durations() {
    emit sigUpdateDurationsCombo();
}

void CZtVerovePadWrapper::Patterns() {
    emit sigUpdatePatternsCombo();
}

void CZtVerovePadWrapper::GroupButtons() {
    emit sigUpdateStimulationGroupButtonsAvailability();
}

void CZtVerovePadWrapper::StimulationState() {
    emit sigUpdateStimulationState();
}

void CZtVerovePadWrapper::OnDeviceChangedDelayed(zt_uint32 uiDeviceID) {
    if (m_device) {
        m_device->HandleDeviceChangedDelayed(uiDeviceID);
    }
}

void CZtVerovePadWrapper::OnDMRefreshDelayed() {
    if (m_device) {
        m_device->HandleDMRefreshDelayed();
    }
}

void CZtVerovePadWrapper::OnCameraNewParamsDelayed() {
    if (m_device) {
        m_device->HandleCameraNewParamsDelayed();
    }
}

void CZtVerovePadWrapper::OnDeviceGUIReady() {
    if (m_device) {
        m_device->LoadSettings();
    }
}

// The tab title and the pad's place in the layout follow with the pad itself.
void CZtVerovePadWrapper::OnPortActivated(bool bActivated, bool bShow) {}

void CZtVerovePadWrapper::OnDisableGUIModeChanged() {
    emit sigDisableGUIModeChanged();
}
