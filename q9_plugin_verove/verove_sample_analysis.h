// Finding a projected calibration square in a camera frame, and the least-squares affine mappings
// between DMD mirrors and camera pixels built from such finds.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "cztcalibrationdata.h"
#include "zt/zt_picbuf.h"

// A point in camera pixels or DMD mirrors.
struct SZtPointD {
    double x = 0.0;
    double y = 0.0;
};

// Reads the camera's image correction now in effect: the rotation and flip matrices and the
// centre (x, y, 1) the image turns about, as CZtVeroveDriver::GetCameraTransform answers them.
// Non-zero when they cannot be read.
using CZtCameraTransformQuery =
    std::function<int(CZtMatrix3* rotation, CZtMatrix3* flip, std::array<double, 3>* centre)>;

// The free functions are reentrant: they work only on what they are given.

// point through an affine matrix: (m[0] x + m[1] y + m[2], m[3] x + m[4] y + m[5]).
SZtPointD ApplyAffine(const CZtMatrix3& matrix, const SZtPointD& point);

// The widest vector steps the contrast stretch takes on processors that have them: 512 (AVX-512,
// the default), 256 (AVX2) or less (SSE2 and plain steps). All give the same pixels; tests run
// each path on one machine.
void SetSpotDetectionVectorBits(int bits);

// The smallest and largest value of a grey picture of 8 or 9..16 bits. 0, or -4 for another
// picture.
int GetMinMax(const SZtPicBuf& picture, std::uint32_t* minimum, std::uint32_t* maximum);
// The largest value of a 9..16-bit grey picture and where it is met first, rows top to bottom
// and pixels left to right. 0, or -4 for another picture.
int FindFirstMaximum(const SZtPicBuf& picture, std::uint32_t* value, std::uint32_t* x,
                     std::uint32_t* y);
// Spreads a grey picture's values over its depth's range: v becomes the integer part of
// (v - min) * f + 0.5 with f = (2^bits - 1) / (max - min), 255 / (max - min) at 8 bits; a uniform
// picture is copied as it is. A target of the source's format and size that owns its pixels is
// written over (the source itself too), any other is allocated anew. 0, -4 for another picture,
// -3 when memory runs out.
int StretchContrast(const SZtPicBuf& source, SZtPicBuf* target);
// The same in place. 0, or -4 for another picture.
int StretchContrast(SZtPicBuf* picture);

struct SZtQueuedPixel;

// Thread-bound: finds the projected square in frame after frame of one calibration run, keeping
// its working pictures between frames so that a run allocates them once.
class CZtSpotDetector {
public:
    CZtSpotDetector();
    ~CZtSpotDetector();
    CZtSpotDetector(const CZtSpotDetector&) = delete;
    CZtSpotDetector& operator=(const CZtSpotDetector&) = delete;

    // Finds the one bright spot of a grey or colour picture (any depth): the centre of its
    // brightest part, in pixel coordinates of the picture (pixel (i, j) at (i, j)). 0 with point
    // set; -9 for a null or empty picture or one that cannot be read; -3 when memory runs out;
    // -13 when the picture shows no spot. The picture is only read.
    int DetectSpot(const SZtPicBuf* picture, SZtPointD* point);

    // Otsu's threshold of a 16-bit grey picture's central part, as DetectSpot takes it for the
    // box around a spot: 2 * (height / 3) runs of 2 * (width / 3) pixels, the first beginning
    // r * height / 6 + width / 6 pixels into the pixel array (r: pixels from one row to the
    // next) and each one row after the one before, counted into one bin per value, each count
    // divided by width * height * 4 / 9. The bin that best separates two classes wins, the
    // lowest on ties.
    std::uint32_t CentralOtsuThreshold(const SZtPicBuf& box);

private:
    // An occupied bin of a histogram: the value and its share of the counted pixels.
    struct SZtBin {
        std::uint32_t value;
        double share;
    };

    // Writes a grey frame of 8..15 bits into m_work converted to 16 bits and stretched, in one
    // pass through a table of each value's result: the pixels of the host's conversion followed by
    // StretchContrast. 0, or the picture status.
    int ConvertStretched(const SZtPicBuf& frame);

    // The frame as 16-bit grey, contrast stretched.
    SZtPicBuf m_work;
    // The host's 16-bit value of each value of m_convertedBits bits, and the stretched one.
    std::vector<std::uint16_t> m_converted;
    std::uint32_t m_convertedBits = 0;
    std::vector<std::uint16_t> m_levels;
    // The frame smoothed; the flood fill clears the region in it.
    SZtPicBuf m_smoothed;
    // One entry per pixel of the frame; only the part a region fills is ever touched.
    std::unique_ptr<SZtQueuedPixel[]> m_queue;
    std::uint64_t m_queueLength = 0;
    // The histogram's counts, one per value, and a bit per value that occurs; both are all 0
    // between frames.
    std::vector<std::uint32_t> m_counts;
    std::vector<std::uint64_t> m_occupied;
    // The occupied bins of the latest histogram, in ascending order.
    std::vector<SZtBin> m_bins;
};

// The affine matrix that maps the source points onto the target points with the least squared
// error (third row 0, 0, 1). Consumes both lists: they are empty on return. -9 for lists of
// different lengths (logged with detailed logging), fewer than three pairs, or points on one
// line.
int CalibrateWithLeastSquares_64f(std::vector<SZtPointD>* source, std::vector<SZtPointD>* target,
                                  CZtMatrix3* matrix);

// How well an affine fit matches the pairs it was made from, in camera image pixels.
struct SZtCalibrationFit {
    std::size_t pairs = 0;  // pairs the fit used; 0 when none was made
    double rms = 0.0;       // root mean square of the distances
    double max = 0.0;

    // A residual above 0.5 px rms or 1.5 px at most means some squares were found off their
    // place (a smudge, a reflection, a square cut by the image border) or the optics are not
    // affine.
    bool IsHigh() const { return rms > 0.5 || max > 1.5; }
};

// The distances, in image pixels, between the chip points and where dmdToChip puts their DMD
// points, both taken to the image by imageFromChip. Pairs are element i of each list.
SZtCalibrationFit MeasureFit(const CZtMatrix3& dmdToChip, const std::vector<SZtPointD>& dmdPoints,
                             const std::vector<SZtPointD>& chipPoints,
                             const CZtMatrix3& imageFromChip);

// The calibration matrices from pairs of DMD points and the camera sensor (chip) points where
// they were seen. Pairs seen within a 9-mirror square's diagonal of the image border are left
// out; the camera's current rotation and mirroring, read through cameraTransform, are taken out
// so that the matrices hold for the unturned camera (when it cannot be read, the plain fits are
// stored). imageFromChip maps chip points to the width x height image. Both lists are empty on
// return. fit, when given, receives how the DMD -> chip fit matches the pairs it used. 0, or -9
// when fewer than three usable pairs remain or a matrix is singular (outputs untouched then).
int ComputeCalibrationMatrices(std::vector<SZtPointD>* dmdPoints,
                               std::vector<SZtPointD>* cameraPoints, int imageWidth,
                               int imageHeight, const CZtMatrix3& imageFromChip,
                               const CZtCameraTransformQuery& cameraTransform,
                               CZtMatrix3* dmdToCamera, CZtMatrix3* cameraToDmd,
                               SZtCalibrationFit* fit = nullptr);
