// CZtQWinWidget: a Qt widget on a native window of the host.
#include <QEvent>
#include <QVBoxLayout>

#include "zt/zt_qtwidgets.h"

CZtQWinWidget::CZtQWinWidget(QWidget* nativeParent)
    : QWidget(nativeParent), m_nativeParent(nativeParent) {
    if (!nativeParent) {
        return;
    }
    // The native window shows nothing of its own: the widget fills it.
    QLayout* layout = nativeParent->layout();
    if (!layout) {
        layout = new QVBoxLayout(nativeParent);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
    }
    layout->addWidget(this);
    nativeParent->installEventFilter(this);
}

// The host shows and hides the native window; the widget on it follows.
bool CZtQWinWidget::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_nativeParent && event->type() == QEvent::Show) {
        show();
    }
    return QWidget::eventFilter(watched, event);
}
