// Control side of the simulated camera's optics: how the DMD's light reaches the camera sensor,
// the camera's noise, and where the mirror frame the DMD shows comes from.
// Plug-ins never include this header; they see the camera's pictures through
// CZtGrabberSample (zt/zt_acquisition.h).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "zt/zt_export.h"
#include "zt/zt_grabber.h"
#include "zt/zt_picbuf.h"

namespace zthost {

// The mirrors the DMD shows now: one byte per mirror, row by row, 0 dark ... 255 fully lit
// (a grey level is the light of a mirror averaged over the frame). No levels: no light.
struct MirrorFrame {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> levels;
};

// Asked once per captured frame, on the capturing thread, without a host lock held.
using MirrorFrameSource = std::function<MirrorFrame()>;

// How light goes from the DMD to the camera and how the camera turns it into numbers. Mirror
// (i, j) covers [i, i + 1) x [j, j + 1) of the DMD plane; sensor coordinates are those of
// docs/camera_geometry.md (unbinned, unturned pixels, pixel (i, j) centred on (i + 0.5, j + 0.5)).
struct OpticsSetup {
    // The ground truth, DMD plane -> sensor, row-major 2 x 3:
    // (x, y) -> (m[0] x + m[1] y + m[2], m[3] x + m[4] y + m[5]). Default: 2 sensor pixels per
    // mirror, the centre of an 800 x 600 DMD on the centre of a 2048 x 2048 sensor.
    std::array<double, 6> dmdToSensor = {2.0, 0.0, 224.0, 0.0, 2.0, 424.0};
    double blurSigma = 1.0;     // Gaussian point spread, sensor pixels (0: none)
    double signal = 1000.0;     // photoelectrons per sensor pixel under fully lit mirrors
    double background = 100.0;  // photoelectrons per sensor pixel of light from elsewhere
    double gain = 1.0;          // grey values per photoelectron
    double offset = 100.0;      // grey values the camera adds to every pixel (its baseline)
    bool shotNoise = true;      // Poisson noise of the photoelectrons
    double readNoise = 2.0;     // Gaussian noise, photoelectrons rms per image pixel
    std::uint64_t seed = 1;     // the noise of the n-th frame after SetOptics depends on this
};

// The ground-truth matrix from placement parameters: mirrors of scale sensor pixels, mirrored
// top to bottom (about the DMD point) when flip, turned by rotationDegrees (clockwise on the
// screen for a positive angle, as the camera's turn), with the DMD point (dmdX, dmdY) landing
// on the sensor point (sensorX, sensorY).
ZTHOST_API std::array<double, 6> DmdToSensor(double scale, double rotationDegrees, bool flip,
                                             double dmdX, double dmdY, double sensorX,
                                             double sensorY);

// Displayed image -> sensor for a format (its flipY mirrors), a camera angle (radians) and an
// optional ROI (null: the format's imageRect): where on the unbinned, unturned sensor a pixel of
// the picture the camera shows lies. The plug-in's chip coordinates (CalcTransformImgToChip) turn
// with the display; these do not. 0, -4 for a null pointer or an unusable format, -9 for a
// singular matrix.
ZTHOST_API int CalcTransformImageToSensor(const SZtGrabberFormatDesc* format, double angleRadians,
                                          const SZtRect* roi, double* transform);
// Its inverse: sensor -> displayed image.
ZTHOST_API int CalcTransformSensorToImage(const SZtGrabberFormatDesc* format, double angleRadians,
                                          const SZtRect* roi, double* transform);

// An axis-parallel box of the plane: [left, right] x [top, bottom].
struct Box {
    double left = 0.0;
    double top = 0.0;
    double right = 0.0;
    double bottom = 0.0;
};

// The smallest box holding a box mapped by the row-major 2 x 3 matrix m (as dmdToSensor): the
// box of its mapped corners.
ZTHOST_API Box MapBox(const std::array<double, 6>& m, const Box& box);

// 0; -4 for a singular or non-finite matrix, or a negative or non-finite sigma, signal,
// background, gain, offset or read noise. Restarts the noise sequence from the seed.
ZTHOST_API int SetOptics(const OpticsSetup& optics);
ZTHOST_API OpticsSetup Optics();

// Where captures read the mirrors from (fake_atcore's shown frame, say). None: the DMD is dark.
ZTHOST_API void SetMirrorFrameSource(MirrorFrameSource source);

// The DMD of a further unit that projects into the same microscope: its mirrors and its own
// ground truth (as OpticsSetup::dmdToSensor). Its light adds to that of the first DMD; blur,
// light and noise are those of SetOptics.
struct FurtherDmd {
    MirrorFrameSource source;
    std::array<double, 6> dmdToSensor = {2.0, 0.0, 224.0, 0.0, 2.0, 424.0};
};

// Replaces the further DMDs (none removes them). 0; -4 for a singular or non-finite matrix, when
// nothing changes.
ZTHOST_API int SetFurtherDmds(std::vector<FurtherDmd> dmds);

// A reflective specimen in the focal plane: its picture (8 or 9..16 bits, grey; RGB is taken by
// its first component) is stretched over the whole sensor and multiplies the DMD's light by
// value / maximum value. Null: none (everything reflects fully). 0; -4 for an empty picture or
// another depth; -3 when memory runs out.
ZTHOST_API int SetSpecimen(const SZtPicBuf* picture);

}  // namespace zthost
