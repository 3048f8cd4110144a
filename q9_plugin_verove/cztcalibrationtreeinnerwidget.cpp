// The label of one row of the calibration tree.
#include "cztcalibrationtreeinnerwidget.h"

#include <QStyle>
#include <QVariant>

CZtCalibrationTreeInnerWidget::CZtCalibrationTreeInnerWidget(const QString& text, bool matching,
                                                             QWidget* parent)
    : QLabel(text, parent) {
    setWordWrap(true);
    SetMatching(matching);
}

void CZtCalibrationTreeInnerWidget::SetMatching(bool matching) {
    setProperty("config_string_type",
                matching ? QStringLiteral("value_default") : QStringLiteral("value_notmatching"));
    style()->unpolish(this);
    style()->polish(this);
}

bool CZtCalibrationTreeInnerWidget::IsMatching() const {
    return property("config_string_type").toString() == QStringLiteral("value_default");
}
