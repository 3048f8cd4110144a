// Control side of the host's camera state: documents and live mode, the user's view settings,
// the microscope's focus drive and objectives, the GUI, acquisition mode and camera-update events.
// Plug-ins never include this header; they see this state through zt/zt_camera.h,
// zt/zt_acquisition.h and zt/zt_document.h.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "zt/zt_document.h"
#include "zt/zt_export.h"
#include "zt/zt_grabber.h"

namespace zthost {

// ---- Documents ---------------------------------------------------------------------------------
// Opens the active camera's capture document in live mode (ZT_LiveStart(1)), even without a
// camera: the document then has no picture and no format. While live, its format is the
// camera's, read whenever it is asked for.
ZTHOST_API void OpenCameraDocument();
// Opens a document holding a picture taken earlier (ZT_DOCTYPE_PICTURE) and makes it current:
// its format stays as given.
ZTHOST_API void OpenDocument(const SZtGrabberFormatDesc& format);
// Closes every document, as the user closing all windows: no document is current afterwards.
ZTHOST_API void CloseDocument();

// An open document as the user sees it.
struct DocumentInfo {
    int type = 0;  // ZT_DOCTYPE_...
    ZT_DWORD tag = 0;
    std::wstring title;
    bool current = false;
    bool live = false;  // live mode shows the camera in it now
    bool hasPicture = false;
    std::uint32_t pictureWidth = 0;
    std::uint32_t pictureHeight = 0;
    std::vector<std::wstring> viewTitles;
    int activeView = -1;       // the view last activated; -1 before any
    int refreshCount = 0;      // how often its views were refreshed
    std::uint32_t lutLow = 0;  // what the look-up tables show as black and as white
    std::uint32_t lutHigh = 0;
    SZtCalibrationAttr calibration;
    double cameraZoom = 1.0;
    std::vector<std::wstring> roiActions;  // the names of its "clear all ROIs" actions, in order
    CZtRoiObjectList rois;
};
// The open documents, in the order they were opened.
ZTHOST_API std::vector<DocumentInfo> Documents();
// A copy of the picture of the index-th open document: 0, -5 for no such document, -9 when it
// shows no picture.
ZTHOST_API int DocumentPicture(std::size_t index, SZtPicBuf* picture);
// One step of the host's live loop (host programs call it from a timer): a new frame of the
// camera into the live document. 0; -9 when live mode is off; or the capture's status.
ZTHOST_API int GrabLiveFrame();

// ---- View settings, GUI and microscope ---------------------------------------------------------
// Whether views show the measurement ROIs (ZT_ShowMeasurementRois); the user may hide them.
ZTHOST_API bool MeasurementRoisShown();
ZTHOST_API void SetMeasurementRoisShown(bool shown);
// Whether the main window is enabled (Q9_EnableGUI).
ZTHOST_API bool GuiEnabled();
// Whether the microscope has a Z stage (ZT_HasZStage); it has one at the start.
ZTHOST_API void SetZStagePresent(bool present);
// How often the focus set-up was opened (ZT_ShowFocusSetup).
ZTHOST_API int FocusSetupCount();
// Enters an objective into the host's objective database: micrometres per sensor pixel and the
// scale bar's length.
ZTHOST_API void SetObjective(const std::wstring& code, const std::wstring& name, double pixelSize,
                             double scaleBar);
// The camera adapter's magnification (ZT_GetCameraCalibrationZoom); 1 at the start.
ZTHOST_API void SetCameraCalibrationZoom(double zoom);

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
