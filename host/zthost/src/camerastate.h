// CameraState: the host's camera-update listeners, acquisition mode and the device manager's
// galvo-warning flag.
#pragma once

#include <functional>
#include <mutex>
#include <vector>

#include "zt/zt_camera.h"

// Thread-safe. Listener slots run under m_listenerMutex (recursive, so a slot may register,
// unregister or notify again on its own thread); the other state has its own leaf mutex.
class CameraState {
public:
    static CameraState& Instance();

    void Register(CZtCameraUpdate* listener);
    void Unregister(CZtCameraUpdate* listener);
    int ListenerCount();
    // Calls slot for every listener registered at the time it is reached.
    void Notify(const std::function<void(CZtCameraUpdate*)>& slot);

    void SetFastTimelapse(bool on);
    bool IsFastTimelapse();
    void SetGalvoMessageShown(bool shown);
    bool GalvoMessageShown();

    // Back to the start state; listeners stay registered (their owners unregister them).
    void Clear();

private:
    std::recursive_mutex m_listenerMutex;
    std::vector<CZtCameraUpdate*> m_listeners;  // m_listenerMutex

    std::mutex m_mutex;
    bool m_fastTimelapse = false;      // m_mutex
    bool m_galvoMessageShown = false;  // m_mutex
};
