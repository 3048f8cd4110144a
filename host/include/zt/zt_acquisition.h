// The host's acquisition: grabber samples, picture metadata, live mode and freeze, focus.
#pragma once

#include <cstdint>

#include "zt/zt_export.h"
#include "zt/zt_grabber.h"
#include "zt/zt_picbuf.h"
#include "zt/zt_string.h"

// What the grabber records with every picture it takes: the camera, its format and its turn.
struct SZtPictureMetadata {
    CZtStringW cameraName;
    std::int32_t cameraIndex = 0;  // the grabber index of the camera (SecGrabber_GetActive)
    SZtGrabberFormatDesc format;   // the camera format the picture was taken with
    double cameraAngle = 0.0;      // the software camera angle, radians (CameraAngleSWGet)
    double timeMs = 0.0;           // ZT_GetTimeCounter when the picture was taken
};

// The metadata the active grabber gives the pictures it takes now. 0; -4 for null; -12 when the
// host has no grabber; -6 when the grabber has no active camera.
ZTHOST_API int ZT_GetGrabberPictureMetadata(SZtPictureMetadata* metadata);

// Thread-compatible: one sample must not be used from two threads at once; different samples
// may be captured on different threads at the same time.
//
// One frame taken from the active grabber, with its metadata. A sample owns its picture until it
// is released (or destroyed); it moves but does not copy.
class ZTHOST_API CZtGrabberSample {
public:
    CZtGrabberSample() = default;
    CZtGrabberSample(CZtGrabberSample&&) noexcept = default;
    CZtGrabberSample& operator=(CZtGrabberSample&&) noexcept = default;

    // Takes a frame from the active camera now, replacing what the sample held. The picture is
    // the image as displayed (region, binning, flip and turn of the camera's format) at the
    // camera's bit depth: 8-bit pictures for 8 bits, 16-bit storage for 9 to 16. 0; -12 when
    // the host has no grabber; -6 when the grabber has no active camera; -4 for a camera whose
    // bit depth is outside 8..16 or whose image is empty; -3 when memory runs out. The sample
    // is empty after a failure.
    int Capture();
    // Replaces picture with an owned copy of the sample's picture. 0; -4 for null; -9 when the
    // sample is empty; -3 when memory runs out.
    int CopyPicture(SZtPicBuf* picture) const;
    // The picture itself, for reading; empty when the sample is.
    const SZtPicBuf& GetPicture() const { return m_picture; }
    const SZtPictureMetadata& GetMetadata() const { return m_metadata; }
    bool IsEmpty() const { return m_picture.IsEmpty(); }
    // Frees the picture; releasing an empty sample does nothing.
    void Release();

private:
    SZtPicBuf m_picture;
    SZtPictureMetadata m_metadata;
};

// ---- Live mode ---------------------------------------------------------------------------------
// Live mode shows the active camera in its capture document (a document of type
// ZT_DOCTYPE_CAPTURE tagged with the camera's grabber index, zt/zt_document.h): starting it
// reuses that document, or opens one, and makes it current. Freezing stops live mode; the capture
// document stays open as a frozen picture. Camera-update listeners hear LiveChanged(live, false)
// on every change between live and frozen.

// Starts live mode, or changes its mode when it runs. mode is the host's live mode number (1
// ordinary live, 2 live for a device's set-up; any positive number is kept). 0; -4 for a mode
// below 1; -12 when the host has no grabber; -6 when the grabber has no active camera.
ZTHOST_API int ZT_LiveStart(int mode);
// Stops live mode; nothing happens when it is off. 0.
ZTHOST_API int ZT_Freeze();
ZTHOST_API bool ZT_IsLive();
// The mode live mode runs in, or the mode it ran in last (1 before it ever ran).
ZTHOST_API int ZT_GetLiveMode();
// Whether a capture document (live or frozen) is open.
ZTHOST_API bool ZT_HasLiveOrFrozenDocument();

// ---- Focus
// --------------------------------------------------------------------------------------- Whether
// the microscope has a motorised Z stage (focus drive).
ZTHOST_API bool ZT_HasZStage();
// Opens the host's focus set-up (where the user runs an auto-focus). 0; -12 without a Z stage.
ZTHOST_API int ZT_ShowFocusSetup();
