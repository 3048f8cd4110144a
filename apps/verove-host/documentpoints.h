// The camera document's stimulation points over the live image: the cross a manual calibration
// puts there for the user to drag onto the spot the mirrors light.
#pragma once

#include <QPointF>
#include <QTransform>
#include <cstdint>
#include <vector>

class QPainter;

// GUI thread only. The points are read from the host's current document whenever they are painted
// or grabbed, so a cross the plug-in adds, moves or removes shows at the next frame.
class DocumentPoints {
public:
    struct Point {
        std::uint32_t id = 0;
        QPointF position;  // image pixels; pixel i spans [i, i + 1)
    };

    static std::vector<Point> Read();
    void Paint(QPainter* painter, const QTransform& imageToWidget) const;
    // Takes a press within reach (image pixels) of a point: true when it did, and the point follows
    // the mouse until Release moves it in the document.
    bool Press(const QPointF& at, double reach);
    bool Dragging() const { return m_dragged != 0; }
    void Move(const QPointF& at);
    // 0, or the document's status for the move.
    int Release(const QPointF& at);

private:
    std::uint32_t m_dragged = 0;
    QPointF m_at;
};
