// The host's camera geometry: matrix inversion, the mapping to the unrotated camera, image <-> chip
// transforms and rectangle conversions (derivation in docs/camera_geometry.md).
#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>

#include "zt/zt_grabber.h"
#include "zthost/optics.h"

namespace {

using Mat3 = std::array<double, 9>;

Mat3 Multiply(const Mat3& a, const Mat3& b) {
    Mat3 c{};
    for (int r = 0; r < 3; ++r) {
        for (int k = 0; k < 3; ++k) {
            c[r * 3 + k] = a[r * 3] * b[k] + a[r * 3 + 1] * b[3 + k] + a[r * 3 + 2] * b[6 + k];
        }
    }
    return c;
}

Mat3 Translation(double x, double y) {
    return {1.0, 0.0, x, 0.0, 1.0, y, 0.0, 0.0, 1.0};
}

Mat3 Scale(double x, double y) {
    return {x, 0.0, 0.0, 0.0, y, 0.0, 0.0, 0.0, 1.0};
}

Mat3 Rotation(double radians) {
    const double c = std::cos(radians);
    const double s = std::sin(radians);
    return {c, -s, 0.0, s, c, 0.0, 0.0, 0.0, 1.0};
}

Mat3 Flip(bool flip) {
    return Scale(1.0, flip ? -1.0 : 1.0);
}

Mat3 Load(const double* m) {
    Mat3 a;
    std::copy(m, m + 9, a.begin());
    return a;
}

// The part of the sensor (or of a scanner's field) an image shows, and how many of its pixels
// one image pixel covers.
struct Region {
    double left, top, right, bottom;
    double binningX, binningY;
};

bool IsUsable(const Region& r) {
    const bool finite = std::isfinite(r.left) && std::isfinite(r.top) && std::isfinite(r.right) &&
                        std::isfinite(r.bottom) && std::isfinite(r.binningX) &&
                        std::isfinite(r.binningY);
    return finite && r.right > r.left && r.bottom > r.top && r.binningX > 0.0 && r.binningY > 0.0;
}

// Image -> sensor: undo the turn about the displayed centre (the mapping to the unrotated image),
// move from the displayed centre to the unturned one, unbin, and offset by the region's origin.
int ImageToSensor(const Region& region, double radians, bool flip, Mat3* out) {
    if (!IsUsable(region) || !std::isfinite(radians)) {
        return -4;
    }
    // A camera reads whole binned pixels: a region that is not a multiple of the binning loses
    // its last partial row and column, and the image turns about the centre of what is read.
    const double w = std::floor((region.right - region.left) / region.binningX + 1e-6);
    const double h = std::floor((region.bottom - region.top) / region.binningY + 1e-6);
    const long quarterTurns = std::lround(radians * 180.0 / std::numbers::pi / 90.0);
    const bool swapped = quarterTurns % 2 != 0;
    const double shownW = swapped ? h : w;
    const double shownH = swapped ? w : h;

    const Mat3 rotation = Rotation(radians);
    const Mat3 mirror = Flip(flip);
    const double centre[3] = {shownW / 2.0, shownH / 2.0, 1.0};
    Mat3 unrotate;
    const int status =
        GetMappingToUnrotatedCamera(rotation.data(), mirror.data(), centre, unrotate.data());
    if (status != 0) {
        return status;
    }
    const Mat3 recentre = Translation((w - shownW) / 2.0, (h - shownH) / 2.0);
    const Mat3 unbin = Scale(region.binningX, region.binningY);
    const Mat3 offset = Translation(region.left, region.top);
    *out = Multiply(offset, Multiply(unbin, Multiply(recentre, unrotate)));
    return 0;
}

int SensorToImage(const Region& region, double radians, bool flip, Mat3* out) {
    Mat3 forward;
    int status = ImageToSensor(region, radians, flip, &forward);
    if (status == 0) {
        status = InvertMatrix(3, forward.data(), out->data());
    }
    return status;
}

// Sensor -> chip: the sensor turned and mirrored with the display about t, half the size of the
// region the format shows (the ROI when given, else its image rectangle), halves truncated the
// way the plug-in takes them. The mapping to the unrotated camera about the same t takes chip
// coordinates back to the sensor, whatever the turn.
int SensorToChip(const SZtGrabberFormatDesc& format, const SZtRect* roi, double radians, bool flip,
                 Mat3* out) {
    const SZtRect& r = roi ? *roi : format.value.imageRect;
    const double t[3] = {static_cast<double>((r.right - r.left) / 2),
                         static_cast<double>((r.bottom - r.top) / 2), 1.0};
    const Mat3 rotation = Rotation(radians);
    const Mat3 mirror = Flip(flip);
    Mat3 unturn;
    const int status =
        GetMappingToUnrotatedCamera(rotation.data(), mirror.data(), t, unturn.data());
    return status != 0 ? status : InvertMatrix(3, unturn.data(), out->data());
}

// The camera's image region: the ROI when given, else the format's image rectangle; a confocal
// grabber's image shows its scan area instead.
int CameraRegion(const SZtGrabberFormatDesc* format, const SZtScanAreaDesc* scanArea,
                 const SZtRect* roi, bool confocal, Region* region) {
    if (confocal) {
        if (!scanArea || scanArea->width <= 0 || scanArea->height <= 0) {
            return -4;
        }
        *region = {scanArea->left,
                   scanArea->top,
                   scanArea->right,
                   scanArea->bottom,
                   (scanArea->right - scanArea->left) / scanArea->width,
                   (scanArea->bottom - scanArea->top) / scanArea->height};
        return 0;
    }
    if (!format) {
        return -4;
    }
    const SZtRect& r = roi ? *roi : format->value.imageRect;
    *region = {static_cast<double>(r.left),  static_cast<double>(r.top),
               static_cast<double>(r.right), static_cast<double>(r.bottom),
               format->value.binningX,       format->value.binningY};
    return 0;
}

int ConvertRect(const Mat3& m, const SZtRect& in, SZtRect* out) {
    constexpr double kSnap = 1e-6;  // absorbs rounding of the turned corners
    const zthost::Box box =
        zthost::MapBox({m[0], m[1], m[2], m[3], m[4], m[5]},
                       {static_cast<double>(in.left), static_cast<double>(in.top),
                        static_cast<double>(in.right), static_cast<double>(in.bottom)});
    const double limit = 2147483647.0;
    if (!(std::fabs(box.left) < limit && std::fabs(box.right) < limit &&
          std::fabs(box.top) < limit && std::fabs(box.bottom) < limit)) {
        return -4;
    }
    out->left = static_cast<std::int32_t>(std::floor(box.left + kSnap));
    out->top = static_cast<std::int32_t>(std::floor(box.top + kSnap));
    out->right = static_cast<std::int32_t>(std::ceil(box.right - kSnap));
    out->bottom = static_cast<std::int32_t>(std::ceil(box.bottom - kSnap));
    return 0;
}

int ConvertFormatRect(const SZtGrabberFormatDesc* format, double degrees, bool flip,
                      const SZtRect* in, SZtRect* out, bool toImage) {
    if (!format || !in || !out || in->right < in->left || in->bottom < in->top) {
        return -4;
    }
    Region region;
    int status = CameraRegion(format, nullptr, nullptr, false, &region);
    Mat3 m;
    if (status == 0) {
        const double radians = degrees * std::numbers::pi / 180.0;
        status = toImage ? SensorToImage(region, radians, flip, &m)
                         : ImageToSensor(region, radians, flip, &m);
    }
    return status == 0 ? ConvertRect(m, *in, out) : status;
}

}  // namespace

int InvertMatrix(int n, const double* matrix, double* inverse) {
    if (n < 1 || !matrix || !inverse) {
        return -4;
    }
    const size_t size = static_cast<size_t>(n);
    // Gauss-Jordan with partial pivoting on [A | I].
    std::vector<double> a(matrix, matrix + size * size);
    std::vector<double> inv(size * size, 0.0);
    double scale = 0.0;
    for (double v : a) {
        if (!std::isfinite(v)) {
            return -4;
        }
        scale = std::max(scale, std::fabs(v));
    }
    for (size_t i = 0; i < size; ++i) {
        inv[i * size + i] = 1.0;
    }
    // A pivot this small against the largest entry means the rows are dependent.
    const double tiny = scale * 1e-12;
    for (size_t col = 0; col < size; ++col) {
        size_t pivot = col;
        for (size_t r = col + 1; r < size; ++r) {
            if (std::fabs(a[r * size + col]) > std::fabs(a[pivot * size + col])) {
                pivot = r;
            }
        }
        const double p = a[pivot * size + col];
        if (!(std::fabs(p) > tiny)) {
            return -9;
        }
        if (pivot != col) {
            for (size_t k = 0; k < size; ++k) {
                std::swap(a[pivot * size + k], a[col * size + k]);
                std::swap(inv[pivot * size + k], inv[col * size + k]);
            }
        }
        for (size_t k = 0; k < size; ++k) {
            a[col * size + k] /= p;
            inv[col * size + k] /= p;
        }
        for (size_t r = 0; r < size; ++r) {
            const double f = a[r * size + col];
            if (r == col || f == 0.0) {
                continue;
            }
            for (size_t k = 0; k < size; ++k) {
                a[r * size + k] -= f * a[col * size + k];
                inv[r * size + k] -= f * inv[col * size + k];
            }
        }
    }
    std::copy(inv.begin(), inv.end(), inverse);
    return 0;
}

int GetMappingToUnrotatedCamera(const double* rotation, const double* flip,
                                const double* translation, double* mapping) {
    if (!rotation || !flip || !translation || !mapping) {
        return -4;
    }
    // Displayed = Tr(t) R F Tr(-t) unrotated, so U is its inverse: Tr(t) (R F)^-1 Tr(-t).
    const Mat3 turn = Multiply(Load(rotation), Load(flip));
    Mat3 unturn;
    const int status = InvertMatrix(3, turn.data(), unturn.data());
    if (status != 0) {
        return status;
    }
    const Mat3 u = Multiply(Translation(translation[0], translation[1]),
                            Multiply(unturn, Translation(-translation[0], -translation[1])));
    std::copy(u.begin(), u.end(), mapping);
    return 0;
}

int CalcTransformImgToChip(const SZtGrabberFormatDesc* format, double angleRadians,
                           const SZtScanAreaDesc* scanArea, const SZtRect* roi, bool confocal,
                           double* transform) {
    if (!transform || !format) {
        return -4;
    }
    Region region;
    Mat3 toSensor;
    Mat3 toChip;
    int status = CameraRegion(format, scanArea, roi, confocal, &region);
    if (status == 0) {
        status = ImageToSensor(region, angleRadians, format->value.flipY, &toSensor);
    }
    if (status == 0) {
        status = SensorToChip(*format, roi, angleRadians, format->value.flipY, &toChip);
    }
    if (status == 0) {
        const Mat3 m = Multiply(toChip, toSensor);
        std::copy(m.begin(), m.end(), transform);
    }
    return status;
}

int CalcTransformChipToImg(const SZtGrabberFormatDesc* format, double angleRadians,
                           const SZtScanAreaDesc* scanArea, const SZtRect* roi, bool confocal,
                           double* transform) {
    Mat3 forward;
    int status = CalcTransformImgToChip(format, angleRadians, scanArea, roi, confocal,
                                        transform ? forward.data() : nullptr);
    if (status == 0) {
        status = InvertMatrix(3, forward.data(), transform);
    }
    return status;
}

namespace zthost {

int CalcTransformImageToSensor(const SZtGrabberFormatDesc* format, double angleRadians,
                               const SZtRect* roi, double* transform) {
    if (!transform || !format) {
        return -4;
    }
    Region region;
    Mat3 m;
    int status = CameraRegion(format, nullptr, roi, false, &region);
    if (status == 0) {
        status = ImageToSensor(region, angleRadians, format->value.flipY, &m);
    }
    if (status == 0) {
        std::copy(m.begin(), m.end(), transform);
    }
    return status;
}

int CalcTransformSensorToImage(const SZtGrabberFormatDesc* format, double angleRadians,
                               const SZtRect* roi, double* transform) {
    Mat3 forward;
    int status =
        CalcTransformImageToSensor(format, angleRadians, roi, transform ? forward.data() : nullptr);
    if (status == 0) {
        status = InvertMatrix(3, forward.data(), transform);
    }
    return status;
}

Box MapBox(const std::array<double, 6>& m, const Box& box) {
    Box mapped{HUGE_VAL, HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    for (double x : {box.left, box.right}) {
        for (double y : {box.top, box.bottom}) {
            const double u = m[0] * x + m[1] * y + m[2];
            const double v = m[3] * x + m[4] * y + m[5];
            mapped.left = std::min(mapped.left, u);
            mapped.right = std::max(mapped.right, u);
            mapped.top = std::min(mapped.top, v);
            mapped.bottom = std::max(mapped.bottom, v);
        }
    }
    return mapped;
}

}  // namespace zthost

int ConvertRectSensorToImage(const SZtGrabberFormatDesc* format, double angleDegrees, bool flip,
                             const SZtRect* sensor, SZtRect* image) {
    return ConvertFormatRect(format, angleDegrees, flip, sensor, image, true);
}

int ConvertRectImageToSensor(const SZtGrabberFormatDesc* format, double angleDegrees, bool flip,
                             const SZtRect* image, SZtRect* sensor) {
    return ConvertFormatRect(format, angleDegrees, flip, image, sensor, false);
}
