// The host's documents: pictures with their views, look-up tables, calibration and ROIs; the
// current document; the host's ROI and look-up-table settings; the objective's calibration.
#pragma once

#include <cstdint>

#include "zt/zt_acquisition.h"
#include "zt/zt_class.h"
#include "zt/zt_export.h"
#include "zt/zt_picbuf.h"
#include "zt/zt_roi.h"
#include "zt/zt_string.h"

// Document types.
constexpr int ZT_DOCTYPE_PICTURE = 0;  // a picture opened from a file or made by the user
constexpr int ZT_DOCTYPE_CAPTURE = 1;  // a picture of a camera: live, frozen, or a captured sample

// The calibration an objective gives the pictures taken through it.
struct SZtCalibrationAttr {
    double pixelSize = 0.0;  // micrometres per sensor pixel at camera zoom 1; 0: uncalibrated
    double scaleBar = 0.0;   // the length of the scale bar the views draw, micrometres
};

// An objective of the host's objective database. An objective the database does not know, or
// none, is named "Uncalibrated" and carries no calibration.
struct SZtObjective {
    CZtStringW code;  // the nosepiece's objective code
    CZtStringW name;
    SZtCalibrationAttr m_attr;
};

// Thread-safe: the host's GUI thread and a plug-in's worker may use one document at once.
//
// A document of the host, reference-counted: the functions that hand one out add a reference
// the caller releases. A closed document stays valid while referenced; it answers as before but
// is in no list, cannot be activated and is never current again. Views are numbered from 0.
// Every call returns 0 or a negative status: -4 for a null argument or an invalid value, -5 for
// a view that does not exist.
class IZtDocument : public virtual IZtInterface {
public:
    virtual int GetType() = 0;  // ZT_DOCTYPE_...
    // The tag marks a document for whoever looks for it: a capture document of live mode is
    // tagged with its camera's grabber index.
    virtual ZT_DWORD GetTag() = 0;
    virtual int SetTag(ZT_DWORD tag) = 0;
    virtual CZtStringW GetTitle() = 0;
    virtual bool IsOpen() = 0;

    // ---- Picture ----
    // Shows the sample's picture, taken with metadata (null: the sample's own). With the host's
    // automatic look-up tables on, the tables then span the picture's values. -9 for an empty
    // sample.
    virtual int LoadSample(const CZtGrabberSample* sample, const SZtPictureMetadata* metadata) = 0;
    // An owned copy of the picture; -9 when the document shows none yet.
    virtual int GetPicture(SZtPicBuf* picture) = 0;
    virtual int GetMetadata(SZtPictureMetadata* metadata) = 0;  // -9 without a picture
    // Every channel shows values from low (black) to high (white); -4 unless low < high.
    virtual int SetLookUpTables(std::uint32_t low, std::uint32_t high) = 0;
    // The objective calibration and the camera's calibration zoom the picture's scale comes from.
    virtual int SetCalibration(const SZtCalibrationAttr* attr) = 0;
    virtual int SetCameraZoom(double zoom) = 0;  // -4 unless zoom > 0
    // Redraws every view and re-reads the picture's channels.
    virtual int RefreshViews() = 0;

    // ---- Views ----
    virtual int AddView(int* view) = 0;  // the new view's number; its title is the document's
    virtual int GetViewCount() = 0;
    virtual int GetViewTitle(int view, CZtStringW* title) = 0;
    virtual int SetViewTitle(int view, const wchar_t* title) = 0;
    // Makes the document current and the view its active one. -5 also for a closed document.
    virtual int ActivateView(int view) = 0;
    // The centre of the picture the view shows, in image pixels (the view shows the whole
    // picture). -5 for a view that does not exist; -9 while the document shows no picture.
    virtual int GetViewCentre(int view, double* x, double* y) = 0;

    // ---- ROIs ----
    // Removes every ROI as one user action named actionName (the name the host's undo shows).
    virtual int ClearAllRois(const wchar_t* actionName) = 0;
    // Appends a copy; the document gives it its identifier (from 1, never reused).
    virtual int AddRoi(const CZtRoiObject* roi) = 0;
    virtual int GetRois(CZtRoiObjectList* rois) = 0;
    // Whether an ROI passes the host's stimulation test (CZtRoiObject::IsStimulationRoi).
    virtual bool HasStimulationRoi() = 0;
    // Removes every ROI marked for stimulation as one user action named actionName.
    virtual int ClearStimulationRois(const wchar_t* actionName) = 0;
    // Moves the ROI with the identifier so that its centre (a point: the point) lies at (x, y),
    // as the user drags it. -4 for an identifier no ROI has.
    virtual int MoveRoi(std::uint32_t id, double x, double y) = 0;
};

// ---- Documents ---------------------------------------------------------------------------------
// Each returns a document with a reference added, or null.
// The document the user works in now: the one activated last.
ZTHOST_API IZtDocument* ZT_GetCurrentDocument();
// The open capture document with the tag; the one activated last when several have it.
ZTHOST_API IZtDocument* ZT_FindCaptureDocument(ZT_DWORD tag);

// Opens a capture document showing the sample (tag 0, no view yet) and makes it current.
// 0; -4 for a null argument; -9 for an empty sample; -3 when memory runs out.
ZTHOST_API int ZT_CreateDocumentFromSample(const CZtGrabberSample* sample, const wchar_t* title,
                                           IZtDocument** document);
// Closes the current document; the one activated before it becomes current. Closing the document
// live mode shows stops live mode. 0; -5 when no document is open.
ZTHOST_API int ZT_CloseCurrentDocument();

// ---- Settings of the host's views
// ---------------------------------------------------------------- Views show the measurement ROIs
// (rather than hiding them). 0.
ZTHOST_API int ZT_ShowMeasurementRois();
// Whether views write each ROI's label beside it.
ZTHOST_API bool ZT_GetRoiLabels();
ZTHOST_API void ZT_SetRoiLabels(bool on);
// Whether each picture loaded into a document gets look-up tables spanning its values.
ZTHOST_API bool ZT_GetAutoLookUpTables();
ZTHOST_API void ZT_SetAutoLookUpTables(bool on);

// ---- Calibration of pictures -------------------------------------------------------------------
// The objective of the nosepiece's current position (the first nosepiece of the device manager).
// 0; -4 for null.
ZTHOST_API int ZT_GetSelectedObjective(SZtObjective* objective);
// The objective the host's objective database keeps under the nosepiece's objective code. 0;
// -4 for null; -5 when the database does not know the code (objective then untouched).
ZTHOST_API int ZT_GetObjectiveByCode(const wchar_t* code, SZtObjective* objective);
// The magnification of the camera's adapter, by which the objective's pixel size is divided.
// 0; -4 for null.
ZTHOST_API int ZT_GetCameraCalibrationZoom(double* zoom);
