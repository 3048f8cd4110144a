#include "documentpoints.h"

#include <QPainter>
#include <cmath>

#include "zt/zt_document.h"
#include "zt/zt_roi.h"

std::vector<DocumentPoints::Point> DocumentPoints::Read() {
    std::vector<Point> points;
    IZtDocument* document = ZT_GetCurrentDocument();
    if (!document) {
        return points;
    }
    CZtRoiObjectList rois;
    document->GetRois(&rois);
    document->Release();
    for (const CZtRoiObject& roi : rois) {
        const std::vector<double>& geometry = roi.GetGeometry();
        if (roi.GetStimulation() && roi.GetType() == ZT_ROITYPE_POINT && geometry.size() >= 2) {
            points.push_back({roi.GetId(), QPointF(geometry[0], geometry[1])});
        }
    }
    return points;
}

void DocumentPoints::Paint(QPainter* painter, const QTransform& imageToWidget) const {
    constexpr double kArm = 9.0;  // widget pixels, whatever the zoom
    painter->save();
    painter->setPen(QPen(QColor(255, 40, 40), 1.5));
    for (const Point& point : Read()) {
        const QPointF centre = imageToWidget.map(point.id == m_dragged ? m_at : point.position);
        painter->drawLine(centre - QPointF(kArm, 0), centre + QPointF(kArm, 0));
        painter->drawLine(centre - QPointF(0, kArm), centre + QPointF(0, kArm));
    }
    painter->restore();
}

bool DocumentPoints::Press(const QPointF& at, double reach) {
    m_dragged = 0;
    double nearest = reach;
    for (const Point& point : Read()) {
        const double distance =
            std::hypot(point.position.x() - at.x(), point.position.y() - at.y());
        if (distance <= nearest) {
            nearest = distance;
            m_dragged = point.id;
        }
    }
    m_at = at;
    return m_dragged != 0;
}

void DocumentPoints::Move(const QPointF& at) {
    m_at = at;
}

int DocumentPoints::Release(const QPointF& at) {
    const std::uint32_t id = m_dragged;
    m_dragged = 0;
    IZtDocument* document = id ? ZT_GetCurrentDocument() : nullptr;
    if (!document) {
        return id ? -1 : 0;
    }
    const int status = document->MoveRoi(id, at.x(), at.y());
    document->Release();
    return status;
}
