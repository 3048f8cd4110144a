// A scaled picture of the DMD's mirrors.
#include "cztdmdpreviewcontrol.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>

#include "zt/zt_gui.h"

namespace {

// The host's colours: background, frame and the lit square.
constexpr int kColorBackground = 6;
constexpr int kColorFrame = 7;
constexpr int kColorSquare = 13;

int Round(double value) {
    return static_cast<int>(std::lround(value));
}

}  // namespace

CZtDMDPreviewControl::CZtDMDPreviewControl(int dmdWidth, int dmdHeight, QWidget* parent)
    : QLabel(parent),
      m_dmdRect(0, 0, dmdWidth, dmdHeight),
      m_previewRect(0, 0, Round(dmdWidth / kScale), Round(dmdHeight / kScale)) {
    m_iPreviewRectSize = Round(m_iRectSize / kScale);
    const QSize size = m_previewRect.size() + QSize(2, 2);
    setMinimumSize(size);
    resize(size);
    setCursor(Qt::CrossCursor);
    setMouseTracking(true);
}

void CZtDMDPreviewControl::SetRectangleSize(int size) {
    m_iRectSize = size;
    m_iPreviewRectSize = Round(size / kScale);
    update();
}

void CZtDMDPreviewControl::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), ZT_GetSysColor(kColorBackground));
    const QRect preview = m_previewRect.translated(1, 1);
    painter.setPen(ZT_GetSysColor(kColorFrame));
    painter.drawRect(preview.adjusted(-1, -1, 0, 0));
    if (!m_previewRect.contains(m_lastClick)) {
        return;
    }
    const int side = 2 * m_iPreviewRectSize;
    QRect square(m_lastClick.x() + 1 - m_iPreviewRectSize, m_lastClick.y() + 1 - m_iPreviewRectSize,
                 side, side);
    square = square.intersected(preview);
    const QColor colour = ZT_GetSysColor(kColorSquare);
    painter.fillRect(square, colour);
    painter.setPen(colour);
    painter.drawRect(square.adjusted(0, 0, -1, -1));
}

void CZtDMDPreviewControl::enterEvent(QEvent* event) {
    m_bHover = true;
    QLabel::enterEvent(event);
}

bool CZtDMDPreviewControl::event(QEvent* event) {
    return QLabel::event(event);
}

void CZtDMDPreviewControl::leaveEvent(QEvent* event) {
    m_bHover = false;
    setToolTip(QString());
    QLabel::leaveEvent(event);
}

// The mirror under the pointer, for the user who aims at a place.
void CZtDMDPreviewControl::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = ToPreview(event->pos());
    if (m_bHover && m_previewRect.contains(at)) {
        setToolTip(QStringLiteral("%1, %2")
                       .arg(static_cast<int>(at.x() * kScale))
                       .arg(static_cast<int>(at.y() * kScale)));
    }
    QLabel::mouseMoveEvent(event);
}

void CZtDMDPreviewControl::mousePressEvent(QMouseEvent* event) {
    event->accept();
}

void CZtDMDPreviewControl::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint at = ToPreview(event->pos());
    if (event->button() != Qt::LeftButton || !m_previewRect.contains(at)) {
        return;
    }
    m_lastClick = at;
    update();
    emit sigCurrentDMDRectHasChanged(static_cast<std::int32_t>(at.x() * kScale),
                                     static_cast<std::int32_t>(at.y() * kScale));
}
