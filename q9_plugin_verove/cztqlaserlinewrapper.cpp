// The container of one host laser-line control.
#include "cztqlaserlinewrapper.h"

#include <cmath>

#include "zt/zt_gui.h"

CZtQLaserLineWrapper::CZtQLaserLineWrapper(QWidget* parent) : QWidget(parent) {}

QSize CZtQLaserLineWrapper::sizeHint() const {
    return QSize(QWidget::sizeHint().width(),
                 static_cast<int>(std::lround(40.0 * ZT_GetGUIZoom())));
}
