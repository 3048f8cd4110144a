#include "roitools.h"

#include <QPainter>
#include <QPen>
#include <QTransform>
#include <cmath>

#include "reportpictures.h"
#include "zt/zt_grabber.h"
#include "zt/zt_module.h"
#include "zt/zt_roi.h"
#include "zt/zt_stimulation.h"
#include "zthost/zthost.h"

namespace {

// A drag shorter than this (image pixels) draws nothing: the user clicked.
constexpr double kSmallest = 2.0;

ScenarioRoi BoxRoi(ScenarioRoiShape shape, const QPointF& a, const QPointF& b) {
    ScenarioRoi roi;
    roi.shape = shape;
    roi.bounds = QRectF(a, b).normalized();
    return roi;
}

}  // namespace

void RoiTools::SetTool(RoiTool tool) {
    m_tool = tool;
    m_polygon.clear();
    m_dragging = false;
}

int RoiTools::RegionAt(const QPointF& point) const {
    // The last drawn lies on top.
    for (int i = static_cast<int>(m_regions.size()) - 1; i >= 0; --i) {
        const ScenarioRoi& roi = m_regions[i].roi;
        const QRectF reach = roi.shape == ScenarioRoiShape::Point
                                 ? QRectF(roi.bounds.center() - QPointF(4, 4), QSizeF(8, 8))
                                 : roi.bounds;
        if (reach.contains(point)) {
            return i;
        }
    }
    return -1;
}

void RoiTools::Press(const QPointF& point) {
    m_anchor = point;
    m_current = point;
    switch (m_tool) {
        case RoiTool::Select:
            m_selected = RegionAt(point);
            m_dragging = m_selected >= 0;
            if (m_dragging) {
                m_movedFrom = m_regions[m_selected].roi;
            }
            break;
        case RoiTool::Polygon:
            m_polygon << point;
            break;
        case RoiTool::Point:
            m_regions.push_back({BoxRoi(ScenarioRoiShape::Point, point, point), m_group});
            m_selected = static_cast<int>(m_regions.size()) - 1;
            emit RegionsChanged();
            break;
        case RoiTool::Rectangle:
        case RoiTool::Ellipse:
            m_dragging = true;
            break;
    }
}

void RoiTools::Move(const QPointF& point) {
    m_current = point;
    if (m_tool == RoiTool::Select && m_dragging) {
        const QPointF shift = point - m_anchor;
        ScenarioRoi& roi = m_regions[m_selected].roi;
        roi.bounds = m_movedFrom.bounds.translated(shift);
        roi.polygon = m_movedFrom.polygon.translated(shift);
    }
}

void RoiTools::Release(const QPointF& point) {
    Move(point);  // the release's own position may differ from the last move's
    if (!m_dragging) {
        return;
    }
    m_dragging = false;
    const QPointF shift = point - m_anchor;
    if (m_tool == RoiTool::Select) {
        if (shift != QPointF()) {
            emit RegionsChanged();
        }
        return;
    }
    if (std::abs(shift.x()) < kSmallest || std::abs(shift.y()) < kSmallest) {
        return;
    }
    const ScenarioRoiShape shape =
        m_tool == RoiTool::Rectangle ? ScenarioRoiShape::Rectangle : ScenarioRoiShape::Ellipse;
    m_regions.push_back({BoxRoi(shape, m_anchor, point), m_group});
    m_selected = static_cast<int>(m_regions.size()) - 1;
    emit RegionsChanged();
}

void RoiTools::DoubleClick(const QPointF& point) {
    if (m_tool != RoiTool::Polygon) {
        return;
    }
    // The double click's first press added a corner already.
    QPolygonF corners = m_polygon;
    m_polygon.clear();
    if (corners.size() < 3 || corners.boundingRect().width() < kSmallest ||
        corners.boundingRect().height() < kSmallest) {
        return;
    }
    ScenarioRoi roi;
    roi.shape = ScenarioRoiShape::Polygon;
    roi.polygon = corners;
    roi.bounds = corners.boundingRect();
    m_regions.push_back({roi, m_group});
    m_selected = static_cast<int>(m_regions.size()) - 1;
    emit RegionsChanged();
}

void RoiTools::Add(const ScenarioRoi& roi, int group) {
    m_regions.push_back({roi, group});
    emit RegionsChanged();
}

void RoiTools::DeleteSelected() {
    if (m_selected < 0 || m_selected >= static_cast<int>(m_regions.size())) {
        return;
    }
    m_regions.erase(m_regions.begin() + m_selected);
    m_selected = -1;
    emit RegionsChanged();
}

void RoiTools::Clear() {
    m_regions.clear();
    m_selected = -1;
    m_polygon.clear();
    emit RegionsChanged();
}

void RoiTools::Paint(QPainter* painter, const QTransform& imageToWidget) const {
    painter->setBrush(Qt::NoBrush);
    for (size_t i = 0; i < m_regions.size(); ++i) {
        const int width = static_cast<int>(i) == m_selected ? 3 : 2;
        painter->setPen(QPen(GroupColour(m_regions[i].group), width));
        DrawRoiOutline(painter, m_regions[i].roi, imageToWidget);
    }
    painter->setPen(QPen(GroupColour(m_group), 1, Qt::DashLine));
    if (m_dragging && (m_tool == RoiTool::Rectangle || m_tool == RoiTool::Ellipse)) {
        const ScenarioRoiShape shape =
            m_tool == RoiTool::Rectangle ? ScenarioRoiShape::Rectangle : ScenarioRoiShape::Ellipse;
        DrawRoiOutline(painter, BoxRoi(shape, m_anchor, m_current), imageToWidget);
    }
    if (!m_polygon.isEmpty()) {
        painter->drawPolyline(imageToWidget.map(QPolygonF(m_polygon) << m_current));
    }
}

int RoiTools::HandOver(IZtStimulationDevice* device, int width, int height) const {
    IZtGrabberProvider* grabber = zthost::HostContext()->GetGrabberProvider();
    SZtGrabberFormatDesc format;
    if (!device || !grabber || grabber->CameraSettingsGet(&format) != 0) {
        return -12;
    }
    CZtRoiObjectList areas;
    for (size_t i = 0; i < m_regions.size(); ++i) {
        areas.Add(Scenario::RoiObject(m_regions[i].roi,
                                      static_cast<std::uint32_t>(m_regions[i].group),
                                      static_cast<std::uint32_t>(i + 1)));
    }
    SZtRLEPicBuf masks;
    ZT_RoiListToRLE(&areas, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
                    &masks);
    const SZtRect rect{0, 0, width, height};
    return device->StimulationAreaSet(&areas, &masks, nullptr, &format, &rect);
}
