#include "shownframeview.h"

#include <QPainter>
#include <algorithm>

#include "reportpictures.h"

ShownFrameView::ShownFrameView(const QString& sdkFolder, QWidget* parent)
    : QWidget(parent), m_dmd(sdkFolder) {
    setMinimumSize(160, 120);
    m_timer.setInterval(100);
    connect(&m_timer, &QTimer::timeout, this, &ShownFrameView::Refresh);
    m_timer.start();
}

void ShownFrameView::Refresh() {
    zthost::MirrorFrame frame;
    std::uint64_t counter = 0;
    const bool known = m_dmd.ShownFrame(&frame, &counter);
    const bool lit = known && std::any_of(frame.levels.begin(), frame.levels.end(),
                                          [](std::uint8_t level) { return level != 0; });
    if (lit == m_lit && (!lit || counter == m_counter)) {
        return;
    }
    m_lit = lit;
    m_counter = counter;
    m_image = lit ? MirrorPicture(frame.width, frame.height, frame.levels) : QImage();
    update();
}

void ShownFrameView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (m_image.isNull()) {
        painter.setPen(Qt::gray);
        painter.drawText(rect(), Qt::AlignCenter, tr("DMD dark"));
        return;
    }
    const QSize size = m_image.size().scaled(this->size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
    painter.drawImage(target, m_image);
}
