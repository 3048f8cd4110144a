// The window's region tools: rectangles, ellipses, polygons and points drawn on the live image per
// stimulation group, moved and deleted, and handed to the device as a host hands over its
// stimulation ROIs.
#pragma once

#include <QObject>
#include <QPointF>
#include <QPolygonF>
#include <vector>

#include "scenario.h"

class IZtStimulationDevice;
class QPainter;
class QTransform;

enum class RoiTool { Select, Rectangle, Ellipse, Polygon, Point };

// GUI thread only. Coordinates are displayed camera image pixels.
class RoiTools : public QObject {
    Q_OBJECT

public:
    struct Region {
        ScenarioRoi roi;
        int group = 0;  // 0 S1 ... 2 S3
    };

    void SetTool(RoiTool tool);
    RoiTool Tool() const { return m_tool; }
    void SetGroup(int group) { m_group = group; }
    int Group() const { return m_group; }
    const std::vector<Region>& Regions() const { return m_regions; }
    int Selected() const { return m_selected; }

    // The image's mouse: press, drag and release draw or move; with the polygon tool each press
    // adds a corner and a double click closes it.
    void Press(const QPointF& point);
    void Move(const QPointF& point);
    void Release(const QPointF& point);
    void DoubleClick(const QPointF& point);
    // Adds a region drawn elsewhere (the scenario's).
    void Add(const ScenarioRoi& roi, int group);
    // Deletes the selected region.
    void DeleteSelected();
    void Clear();

    // The regions and the one being drawn, each in its group's colour; the selected one thicker.
    void Paint(QPainter* painter, const QTransform& imageToWidget) const;

    // Hands every region over as the device's stimulation areas on an image of width x height:
    // the ROI objects and their run-length masks through StimulationAreaSet. Its status.
    int HandOver(IZtStimulationDevice* device, int width, int height) const;

signals:
    // A region was added, moved or deleted.
    void RegionsChanged();

private:
    int RegionAt(const QPointF& point) const;

    RoiTool m_tool = RoiTool::Rectangle;
    int m_group = 0;
    std::vector<Region> m_regions;
    int m_selected = -1;
    bool m_dragging = false;
    QPointF m_anchor;         // where the drag began
    QPointF m_current;        // where it is now
    QPolygonF m_polygon;      // the corners of a polygon being drawn
    ScenarioRoi m_movedFrom;  // the selected region as it was when the move began
};
