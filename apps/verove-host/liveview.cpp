#include "liveview.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>

#include "roitools.h"

LiveView::LiveView(RoiTools* tools, QWidget* parent) : QWidget(parent), m_tools(tools) {
    setMinimumSize(320, 240);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAutoFillBackground(false);
    connect(tools, &RoiTools::RegionsChanged, this, qOverload<>(&QWidget::update));
}

QTransform LiveView::ImageToWidget() const {
    return QTransform(m_zoom, 0, 0, m_zoom, m_offset.x(), m_offset.y());
}

QPointF LiveView::ToImage(const QPointF& widgetPoint) const {
    return (widgetPoint - m_offset) / m_zoom;
}

void LiveView::ShowFrame(const LiveFrame& frame) {
    const bool newSize = frame.image.size() != m_frame.image.size();
    m_frame = frame;
    if (newSize && m_fit) {
        FitToWindow();
    }
    update();
    emit FrameShown();
}

void LiveView::FitToWindow() {
    m_fit = true;
    const QSize image = m_frame.image.size();
    if (image.isEmpty()) {
        return;
    }
    m_zoom = std::min(width() / double(image.width()), height() / double(image.height()));
    m_offset =
        QPointF((width() - image.width() * m_zoom) / 2, (height() - image.height() * m_zoom) / 2);
    update();
}

void LiveView::ZoomBy(double factor) {
    ZoomAbout(factor, rect().center());
}

void LiveView::ZoomAbout(double factor, const QPointF& widgetPoint) {
    const QPointF anchor = ToImage(widgetPoint);
    m_zoom = std::clamp(m_zoom * factor, 0.02, 64.0);
    m_offset = widgetPoint - anchor * m_zoom;
    m_fit = false;
    update();
}

void LiveView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(20, 20, 20));
    if (m_frame.image.isNull()) {
        painter.setPen(Qt::lightGray);
        painter.drawText(rect(), Qt::AlignCenter, tr("No camera image"));
        return;
    }
    painter.setTransform(ImageToWidget());
    painter.drawImage(QPointF(0, 0), m_frame.image);
    painter.resetTransform();
    painter.setRenderHint(QPainter::Antialiasing);
    m_tools->Paint(&painter, ImageToWidget());
    m_points.Paint(&painter, ImageToWidget());
}

void LiveView::mousePressEvent(QMouseEvent* event) {
    constexpr double kReach = 8.0;  // widget pixels
    if (event->button() == Qt::LeftButton) {
        // A document's point (a calibration cross) is dragged whatever the tool.
        if (!m_points.Press(ToImage(event->localPos()), kReach / m_zoom)) {
            m_tools->Press(ToImage(event->localPos()));
        }
    } else {
        m_panning = true;
        m_panFrom = event->localPos();
    }
    update();
}

void LiveView::mouseMoveEvent(QMouseEvent* event) {
    if (m_panning) {
        m_offset += event->localPos() - m_panFrom;
        m_panFrom = event->localPos();
        m_fit = false;
    } else if (m_points.Dragging()) {
        m_points.Move(ToImage(event->localPos()));
    } else {
        m_tools->Move(ToImage(event->localPos()));
    }
    update();
}

void LiveView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && m_points.Dragging()) {
        m_points.Release(ToImage(event->localPos()));
    } else if (event->button() == Qt::LeftButton) {
        m_tools->Release(ToImage(event->localPos()));
    } else {
        m_panning = false;
    }
    update();
}

void LiveView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        m_tools->DoubleClick(ToImage(event->localPos()));
    }
    update();
}

void LiveView::wheelEvent(QWheelEvent* event) {
    ZoomAbout(event->angleDelta().y() > 0 ? 1.25 : 0.8, event->position());
}

void LiveView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace) {
        m_tools->DeleteSelected();
        return;
    }
    QWidget::keyPressEvent(event);
}

void LiveView::resizeEvent(QResizeEvent*) {
    if (m_fit) {
        FitToWindow();
    }
}
