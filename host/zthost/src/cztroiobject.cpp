// ROI objects, their lists, and the run-length masks built from them.
#include <algorithm>
#include <cmath>
#include <utility>

#include "zt/zt_roi.h"

namespace {

constexpr double kDegreesToRadians = 3.14159265358979323846 / 180.0;

bool GeometryFits(std::uint32_t type, const std::vector<double>& geometry) {
    if (!std::all_of(geometry.begin(), geometry.end(), [](double v) { return std::isfinite(v); })) {
        return false;
    }
    switch (type) {
        case ZT_ROITYPE_POINT:
            return geometry.size() == 2;
        case ZT_ROITYPE_ELLIPSE:
        case ZT_ROITYPE_RECTANGLE:
            return geometry.size() == 4 && geometry[2] > 0.0 && geometry[3] > 0.0;
        case ZT_ROITYPE_POLYGON:
            return geometry.size() >= 6 && geometry.size() % 2 == 0;
        default:
            return false;
    }
}

// The pixels whose centres lie inside the turned ellipse: for each row the centres inside form
// one interval, the roots of the ellipse equation along that row.
void AddEllipse(SZtRLEPicBuf* masks, std::uint32_t id, const std::vector<double>& g, double angle) {
    SZtRLEObject object;
    object.id = id;
    const double cx = g[0];
    const double cy = g[1];
    const double rx2 = g[2] * g[2];
    const double ry2 = g[3] * g[3];
    const double c = std::cos(angle * kDegreesToRadians);
    const double s = std::sin(angle * kDegreesToRadians);
    // Inside when (c dx + s dy)^2 / rx^2 + (-s dx + c dy)^2 / ry^2 <= 1.
    const double a = c * c / rx2 + s * s / ry2;
    const double extent = std::max(g[2], g[3]);
    // Clamped to the frame before the conversions, so far-off shapes cannot overflow them.
    const double width = masks->width;
    const double height = masks->height;
    const auto firstRow =
        static_cast<std::int64_t>(std::clamp(std::floor(cy - extent), 0.0, height));
    const auto endRow =
        static_cast<std::int64_t>(std::clamp(std::ceil(cy + extent) + 1, 0.0, height));
    for (std::int64_t y = firstRow; y < endRow; ++y) {
        const double dy = static_cast<double>(y) + 0.5 - cy;
        const double b = 2.0 * dy * s * c * (1.0 / rx2 - 1.0 / ry2);
        const double k = dy * dy * (s * s / rx2 + c * c / ry2) - 1.0;
        const double discriminant = b * b - 4.0 * a * k;
        if (discriminant < 0.0) {
            continue;
        }
        const double root = std::sqrt(discriminant);
        const double lo = cx + (-b - root) / (2.0 * a);
        const double hi = cx + (-b + root) / (2.0 * a);
        const auto x0 = static_cast<std::int64_t>(std::clamp(std::ceil(lo - 0.5), 0.0, width));
        const auto x1 = static_cast<std::int64_t>(std::clamp(std::floor(hi - 0.5) + 1, 0.0, width));
        if (x0 < x1) {
            object.runs.push_back({static_cast<std::int32_t>(y), static_cast<std::int32_t>(x0),
                                   static_cast<std::int32_t>(x1 - x0)});
        }
    }
    masks->objects.push_back(std::move(object));
}

void AddTurnedRectangle(SZtRLEPicBuf* masks, std::uint32_t id, const std::vector<double>& g,
                        double angle) {
    const double c = std::cos(angle * kDegreesToRadians);
    const double s = std::sin(angle * kDegreesToRadians);
    const double corners[4][2] = {{-g[2], -g[3]}, {g[2], -g[3]}, {g[2], g[3]}, {-g[2], g[3]}};
    double xy[8];
    for (int i = 0; i < 4; ++i) {
        xy[2 * i] = g[0] + c * corners[i][0] - s * corners[i][1];
        xy[2 * i + 1] = g[1] + s * corners[i][0] + c * corners[i][1];
    }
    CZtRLEPicBufAPI::AddPolygon(masks, id, xy, 4);
}

void AddPoint(SZtRLEPicBuf* masks, std::uint32_t id, const std::vector<double>& g) {
    // Far-off points must not overflow the integer rectangle: clamp them just outside the frame.
    const auto clamp = [](double v) { return std::clamp(std::floor(v), -2.0, 2147483000.0); };
    const int x = static_cast<int>(clamp(g[0]));
    const int y = static_cast<int>(clamp(g[1]));
    CZtRLEPicBufAPI::AddRectangle(masks, id, x, y, x + 1, y + 1);
}

}  // namespace

CZtRoiObject::CZtRoiObject(std::uint32_t type, std::vector<double> geometry, double angle)
    : m_type(type), m_geometry(std::move(geometry)), m_angle(angle) {}

void CZtRoiObject::SetGeometry(std::uint32_t type, std::vector<double> geometry, double angle) {
    m_type = type;
    m_geometry = std::move(geometry);
    m_angle = angle;
}

void CZtRoiObject::SetIntensity(std::uint32_t mode, double intensity, double secondIntensity) {
    m_intensityMode = mode;
    m_intensity = intensity;
    m_secondIntensity = secondIntensity;
}

bool CZtRoiObject::IsStimulationRoi() const {
    return m_stimulation && GeometryFits(m_type, m_geometry);
}

const CZtRoiObject* CZtRoiObjectList::GetAt(int index) const {
    if (index < 0 || index >= GetCount()) {
        return nullptr;
    }
    return &m_rois[static_cast<std::size_t>(index)];
}

CZtRoiObject* CZtRoiObjectList::GetAt(int index) {
    if (index < 0 || index >= GetCount()) {
        return nullptr;
    }
    return &m_rois[static_cast<std::size_t>(index)];
}

int CZtRoiObjectList::RemoveAt(int index) {
    if (index < 0 || index >= GetCount()) {
        return ZT_PIC_INVALID_ARG;
    }
    m_rois.erase(m_rois.begin() + index);
    return 0;
}

const CZtRoiObject* CZtRoiObjectList::FindById(std::uint32_t id) const {
    for (const CZtRoiObject& roi : m_rois) {
        if (roi.GetId() == id) {
            return &roi;
        }
    }
    return nullptr;
}

int ZT_RoiListToRLE(const CZtRoiObjectList* rois, std::uint32_t width, std::uint32_t height,
                    SZtRLEPicBuf* masks) {
    if (!rois || !masks) {
        return ZT_PIC_INVALID_ARG;
    }
    CZtRLEPicBufAPI::Alloc(masks, width, height, 8);
    for (const CZtRoiObject& roi : *rois) {
        const std::vector<double>& g = roi.GetGeometry();
        if (!GeometryFits(roi.GetType(), g)) {
            masks->objects.push_back({roi.GetId(), {}});
            continue;
        }
        switch (roi.GetType()) {
            case ZT_ROITYPE_POINT:
                AddPoint(masks, roi.GetId(), g);
                break;
            case ZT_ROITYPE_ELLIPSE:
                AddEllipse(masks, roi.GetId(), g, roi.GetAngle());
                break;
            case ZT_ROITYPE_POLYGON:
                CZtRLEPicBufAPI::AddPolygon(masks, roi.GetId(), g.data(),
                                            static_cast<int>(g.size() / 2));
                break;
            default:
                AddTurnedRectangle(masks, roi.GetId(), g, roi.GetAngle());
                break;
        }
    }
    return 0;
}
