// Control side of the host's camera state: documents, acquisition mode and camera-update events.
// Plug-ins never include this header; they see this state through zt/zt_camera.h.
#pragma once

#include "zt/zt_export.h"
#include "zt/zt_grabber.h"

namespace zthost {

// ---- Current document --------------------------------------------------------------------------
// A document showing the live camera: its format is the grabber's, read now and again after
// every camera format change. Without a camera the document has no format.
ZTHOST_API void OpenCameraDocument();
// A document holding a picture taken earlier: its format stays as given.
ZTHOST_API void OpenDocument(const SZtGrabberFormatDesc& format);
// No document is current afterwards.
ZTHOST_API void CloseDocument();

// ---- Acquisition -------------------------------------------------------------------------------
ZTHOST_API void SetFastTimelapse(bool on);

// ---- Camera-update listeners -------------------------------------------------------------------
// The number of CZtCameraUpdate objects registered now.
ZTHOST_API int CameraUpdateCount();
// Each calls that slot of every registered listener, as the host does when the event happens.
ZTHOST_API void NotifyCameraConfigurationChanged();
ZTHOST_API void NotifyCameraAngleChanged();
ZTHOST_API void NotifyActiveCameraChanged();
ZTHOST_API void NotifyLiveChanged(bool live, bool userRequest);

}  // namespace zthost
