// The host's camera state and its exported functions (zt/zt_camera.h, zthost/camera_control.h).
#include "camerastate.h"

#include <algorithm>

#include "zthost/camera_control.h"

CameraState& CameraState::Instance() {
    // Never destroyed: listeners of plug-ins released at exit still unregister.
    static CameraState* const state = new CameraState;
    return *state;
}

void CameraState::Register(CZtCameraUpdate* listener) {
    std::lock_guard lock(m_listenerMutex);
    m_listeners.push_back(listener);
}

void CameraState::Unregister(CZtCameraUpdate* listener) {
    std::lock_guard lock(m_listenerMutex);
    std::erase(m_listeners, listener);
}

int CameraState::ListenerCount() {
    std::lock_guard lock(m_listenerMutex);
    return static_cast<int>(m_listeners.size());
}

void CameraState::Notify(const std::function<void(CZtCameraUpdate*)>& slot) {
    std::lock_guard lock(m_listenerMutex);
    const std::vector<CZtCameraUpdate*> listeners = m_listeners;
    for (CZtCameraUpdate* listener : listeners) {
        // An earlier slot may have unregistered a later listener.
        if (std::find(m_listeners.begin(), m_listeners.end(), listener) != m_listeners.end()) {
            slot(listener);
        }
    }
}

void CameraState::SetFastTimelapse(bool on) {
    std::lock_guard lock(m_mutex);
    m_fastTimelapse = on;
}

bool CameraState::IsFastTimelapse() {
    std::lock_guard lock(m_mutex);
    return m_fastTimelapse;
}

void CameraState::SetGalvoMessageShown(bool shown) {
    std::lock_guard lock(m_mutex);
    m_galvoMessageShown = shown;
}

bool CameraState::GalvoMessageShown() {
    std::lock_guard lock(m_mutex);
    return m_galvoMessageShown;
}

void CameraState::Clear() {
    std::lock_guard lock(m_mutex);
    m_fastTimelapse = false;
    m_galvoMessageShown = false;
}

// ---- Plug-in side ------------------------------------------------------------------------------

CZtCameraUpdate::CZtCameraUpdate() {
    CameraState::Instance().Register(this);
}

CZtCameraUpdate::~CZtCameraUpdate() {
    UnregisterCameraUpdate();
}

void CZtCameraUpdate::UnregisterCameraUpdate() {
    CameraState::Instance().Unregister(this);
}

void ZT_CameraFormatChanged() {
    CameraState::Instance().Notify(
        [](CZtCameraUpdate* listener) { listener->CameraFormatChanged(); });
}

bool ZT_IsFastTimelapse() {
    return CameraState::Instance().IsFastTimelapse();
}

bool ZT_GetGalvoMessageShown() {
    return CameraState::Instance().GalvoMessageShown();
}

void ZT_SetGalvoMessageShown(bool shown) {
    CameraState::Instance().SetGalvoMessageShown(shown);
}

// ---- Control side ------------------------------------------------------------------------------

namespace zthost {

void SetFastTimelapse(bool on) {
    CameraState::Instance().SetFastTimelapse(on);
}

int CameraUpdateCount() {
    return CameraState::Instance().ListenerCount();
}

void NotifyCameraConfigurationChanged() {
    CameraState::Instance().Notify(
        [](CZtCameraUpdate* listener) { listener->CameraConfigurationChanged(); });
}

void NotifyCameraAngleChanged() {
    CameraState::Instance().Notify(
        [](CZtCameraUpdate* listener) { listener->CameraAngleChanged(); });
}

void NotifyActiveCameraChanged() {
    CameraState::Instance().Notify(
        [](CZtCameraUpdate* listener) { listener->ActiveCameraChanged(); });
}

void NotifyLiveChanged(bool live, bool userRequest) {
    CameraState::Instance().Notify([live, userRequest](CZtCameraUpdate* listener) {
        listener->LiveChanged(live, userRequest);
    });
}

}  // namespace zthost
