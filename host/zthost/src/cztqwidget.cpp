// CZtQWidget: the host's widget base.
#include <QPainter>
#include <QStyleOption>

#include "zt/zt_qtwidgets.h"

CZtQWidget::CZtQWidget(QWidget* parent) : QWidget(parent) {}

// A plain QWidget subclass ignores the background and border its style sheet gives it.
void CZtQWidget::paintEvent(QPaintEvent* event) {
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
    QWidget::paintEvent(event);
}
