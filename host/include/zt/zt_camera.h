// The host's camera state beyond the grabber: camera-update listeners, the current document's
// camera format, the acquisition mode, and the device manager's galvo-warning flag.
#pragma once

#include "zt/zt_export.h"
#include "zt/zt_grabber.h"

// Thread-safe registration; the slots run on whichever thread changed the camera.
//
// A listener the host calls when the camera changes. Constructing one registers it and
// destroying it unregisters it. The host calls the slots one listener at a time, under its
// listener lock, so a derived class that must not be called while it is being destroyed calls
// UnregisterCameraUpdate() first thing in its destructor. A slot must not wait for a thread that
// is changing the camera.
class ZTHOST_API CZtCameraUpdate {
public:
    CZtCameraUpdate();
    virtual ~CZtCameraUpdate();
    CZtCameraUpdate(const CZtCameraUpdate&) = delete;
    CZtCameraUpdate& operator=(const CZtCameraUpdate&) = delete;

    // Another camera configuration was loaded.
    virtual int CameraConfigurationChanged() { return 0; }
    // The camera's format (binning, ROI, bit depth, sensor) changed.
    virtual int CameraFormatChanged() { return 0; }
    // The software rotation or the mirroring of the camera image changed.
    virtual int CameraAngleChanged() { return 0; }
    // Another grabber became the active one.
    virtual int ActiveCameraChanged() { return 0; }
    // Live view started or stopped.
    virtual int LiveChanged(bool live, bool userRequest) { return 0; }

protected:
    // Idempotent: after it returns no slot of this object runs or will run.
    void UnregisterCameraUpdate();
};

// Tells every registered listener that the camera format changed; what the grabber does after
// each format change, and what a plug-in calls after it changed the optical path itself.
ZTHOST_API void ZT_CameraFormatChanged();

// The camera format the current document was taken with: 0, or -5 when there is no document
// or its format covers no area, -4 for a null out parameter.
ZTHOST_API int ZT_GetDocumentCameraFormat(SZtGrabberFormatDesc* format);

// Whether an acquisition runs in "Fast Timelapse", which forbids changes of the camera format.
ZTHOST_API bool ZT_IsFastTimelapse();

// The device manager's process-wide flag: the message that a galvo XY scanner rules out a DMD
// has been shown. Every DMD device shares it so that the user sees the message once.
ZTHOST_API bool ZT_GetGalvoMessageShown();
ZTHOST_API void ZT_SetGalvoMessageShown(bool shown);
