// The live camera image: the frames the camera thread delivers, zoomed and panned, with the region
// tools over it.
#pragma once

#include <QPointF>
#include <QTransform>
#include <QWidget>

#include "camerathread.h"
#include "documentpoints.h"

class RoiTools;

// GUI thread only. The left button drags the document's points (a calibration's cross) when it
// presses near one and goes to the region tools otherwise; the wheel zooms about the cursor,
// the right or middle button pans.
class LiveView : public QWidget {
    Q_OBJECT

public:
    // tools is borrowed and outlives the view.
    explicit LiveView(RoiTools* tools, QWidget* parent = nullptr);

    // The frame shown now; empty before the first.
    const LiveFrame& Frame() const { return m_frame; }
    // Displayed image pixels to the widget's pixels.
    QTransform ImageToWidget() const;
    double Zoom() const { return m_zoom; }
    // Zoom factor about the widget's centre; FitToWindow shows the whole image.
    void ZoomBy(double factor);
    void FitToWindow();

public slots:
    void ShowFrame(const LiveFrame& frame);

signals:
    // After each shown frame, for the window's status line.
    void FrameShown();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QPointF ToImage(const QPointF& widgetPoint) const;
    void ZoomAbout(double factor, const QPointF& widgetPoint);

    RoiTools* m_tools;  // borrowed
    DocumentPoints m_points;
    LiveFrame m_frame;
    double m_zoom = 1.0;
    QPointF m_offset;   // where the image's origin lies in the widget
    bool m_fit = true;  // follows the widget's size until the user zooms or pans
    bool m_panning = false;
    QPointF m_panFrom;
};
