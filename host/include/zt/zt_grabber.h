// The host's grabber provider (the active camera) and its camera-geometry helpers.
#pragma once

#include <cstdint>

#include "zt/zt_class.h"
#include "zt/zt_export.h"
#include "zt/zt_string.h"

// An integer rectangle; right and bottom are exclusive.
struct SZtRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

// The part of a scanning (confocal) grabber's field that its image shows: a rectangle of the
// field in field pixels, imaged onto width x height image pixels.
struct SZtScanAreaDesc {
    double left = 0.0;
    double top = 0.0;
    double right = 0.0;
    double bottom = 0.0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// The element of the grabber's scan-area form that holds the scan area a scanning grabber images;
// the form's GUI element answers it through QueryInterface("CZtScanAreaElement").
class IZtScanAreaElement : public virtual IZtInterface {
public:
    // 0, -4 for a null out parameter.
    virtual int GetScanAreaDesc(SZtScanAreaDesc* desc) = 0;
};

// The geometry of the camera's images. Rectangles are in sensor pixels (unbinned, unturned).
struct SZtGrabberFormatValue {
    SZtRect sensorRect;     // the whole sensor: (0, 0, sensor width, sensor height)
    SZtRect imageRect;      // the part of the sensor the image shows: the ROI, or sensorRect
    double binningX = 1.0;  // sensor pixels per image pixel
    double binningY = 1.0;
    std::int32_t bitDepth = 16;
    bool flipY = false;  // the image is mirrored top to bottom
};

struct SZtGrabberFormatDesc {
    SZtGrabberFormatValue value;
    wchar_t name[64] = {};
};

// A camera of a grabber.
struct SZtCameraDesc {
    CZtStringW name;
    std::int32_t index = 0;
};

// One entry of the list "ZT_MODULEEVENT_CAMERA_NEW_PARAMS" carries (param: the entry count): a
// camera whose parameters changed, its region rectangle (empty when no region is set) and the
// secondary grabber it belongs to.
struct SZtCameraNewParams {
    SZtCameraDesc camera;
    SZtRect region;
    int grabber = 0;
};

// The host's grabber provider, reached through IZtHostContext::GetGrabberProvider(). Every call
// returns 0 on success and fills its out parameters, or a status and leaves them unchanged:
//   -4  a null out parameter or an invalid argument
//   -5  nothing of that name, index or channel
//   -6  the grabber has no active camera
class IZtGrabberProvider {
public:
    virtual int SecGrabber_GetActive(int* grabberIndex) = 0;
    virtual int CameraGet_WRP(int grabberIndex, SZtCameraDesc* camera) = 0;
    virtual int IsConfocal(bool* confocal) = 0;
    // A named integer property of the active provider ("ScannerTypeIndex": 0 galvano,
    // 1 resonant).
    virtual int GetPropertyInt(const wchar_t* name, std::int32_t* value) = 0;
    // The software rotation of a channel's image, degrees.
    virtual int Interp_Rotate_Get(int channel, double* degrees) = 0;
    // The camera's four angle parameters (params: four doubles); the image is mirrored when the
    // first and the fourth differ by more than 0.0001.
    virtual int CameraAngleParamsGet(double* params) = 0;
    // The software camera angle, radians.
    virtual int CameraAngleSWGet(double* radians) = 0;
    // The active camera's current format.
    virtual int CameraSettingsGet(SZtGrabberFormatDesc* format) = 0;
    // The camera ROI, in sensor pixels; kept while the ROI is off.
    virtual int CameraRoiGet(SZtRect* roi) = 0;
    virtual int CameraRoiIsOn(bool* on) = 0;
    // The part of the rectangle on the sensor becomes the ROI; -4 when that part is empty.
    virtual int CameraRoiSet(const SZtRect* roi) = 0;
    virtual int CameraRoiEnable(bool on) = 0;
    // A GUI element of the provider by name (the scan-area form is "CZtScanAreaElement"), with a
    // reference added; -5 when the provider shows no such element.
    virtual int GetGUIElement(const wchar_t* name, IZtInterface** element) {
        return name && element ? -5 : -4;
    }

protected:
    virtual ~IZtGrabberProvider() = default;
};

// ---- Camera geometry ---------------------------------------------------------------------------
// Matrices are 3x3, row-major, acting on column vectors (x, y, 1). Coordinates are continuous:
// pixel (i, j) covers [i, i + 1) x [j, j + 1), so an image w pixels wide has its centre at w / 2.
// Sensor coordinates are unbinned pixels of the whole, unturned sensor. Image coordinates are
// pixels of the image as displayed: the format's imageRect, binned, mirrored top to bottom when
// flipped, then turned by the camera angle about its centre; the displayed image is the binned
// size, width and height swapped when the angle is nearest an odd multiple of 90 degrees. Chip
// coordinates are sensor coordinates turned with the display: the sensor mirrored and turned like
// the image about t, half the shown region's size (halves truncated), so that
// GetMappingToUnrotatedCamera about that t takes chip coordinates to the sensor. Unturned and
// unmirrored, chip and sensor coordinates are the same. See docs/camera_geometry.md.
// All return 0, -4 for a null pointer or an unusable format, -9 for a singular matrix; outputs
// are untouched on failure. Input and output may be the same array.

// inverse = matrix^-1, both n x n row-major.
ZTHOST_API int InvertMatrix(int n, const double* matrix, double* inverse);

// U: a point of the camera image as displayed (the unrotated image flipped by F, then turned by
// R, about the image centre t = (tx, ty, 1)) -> the same point of the unrotated image.
// U = Tr(t) (R F)^-1 Tr(-t).
ZTHOST_API int GetMappingToUnrotatedCamera(const double* rotation, const double* flip,
                                           const double* translation, double* mapping);

// Image -> chip for a format (its flipY mirrors), a camera angle (radians) and an optional ROI
// (the shown part of the sensor; null: the format's imageRect). A confocal grabber's image shows
// its scan area instead (scanArea required; ROI and binning are not used); t is still half the
// ROI's or imageRect's size.
ZTHOST_API int CalcTransformImgToChip(const SZtGrabberFormatDesc* format, double angleRadians,
                                      const SZtScanAreaDesc* scanArea, const SZtRect* roi,
                                      bool confocal, double* transform);
// Chip -> image: the inverse of CalcTransformImgToChip.
ZTHOST_API int CalcTransformChipToImg(const SZtGrabberFormatDesc* format, double angleRadians,
                                      const SZtScanAreaDesc* scanArea, const SZtRect* roi,
                                      bool confocal, double* transform);

// Rectangles between sensor and image coordinates of a format's image, for a camera angle in
// degrees and a top-to-bottom flip: the bounding box of the turned corners, widened to whole
// pixels (a coordinate within 1e-6 of an integer counts as that integer).
ZTHOST_API int ConvertRectSensorToImage(const SZtGrabberFormatDesc* format, double angleDegrees,
                                        bool flip, const SZtRect* sensor, SZtRect* image);
ZTHOST_API int ConvertRectImageToSensor(const SZtGrabberFormatDesc* format, double angleDegrees,
                                        bool flip, const SZtRect* image, SZtRect* sensor);
