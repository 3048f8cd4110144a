// The pattern combo's item delegate.
#include "cztpatterncomboboxdelegate.h"

#include <QPainter>

#include "zt/zt_gui.h"

CZtPatternComboBoxDelegate::CZtPatternComboBoxDelegate(QObject* parent)
    : QStyledItemDelegate(parent) {}

bool CZtPatternComboBoxDelegate::IsHeading(const QVariant& data) {
    bool ok = false;
    const int value = data.toInt(&ok);
    return ok && value < 0;
}

void CZtPatternComboBoxDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                       const QModelIndex& index) const {
    if (!IsHeading(index.data(Qt::UserRole))) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    const int y = option.rect.top() + option.rect.height() / 2;
    painter->save();
    painter->setPen(QPen(ZT_GetSysColor(4), 1));
    painter->drawLine(option.rect.left(), y, option.rect.right(), y);
    painter->restore();
}
