// The pad's pattern combo.
#include "cztpatterncombobox.h"

#include <QStandardItemModel>

#include "cztpatterncomboboxdelegate.h"

CZtPatternComboBox::CZtPatternComboBox(QWidget* parent) : QComboBox(parent) {
    setItemDelegate(new CZtPatternComboBoxDelegate(this));
}

void CZtPatternComboBox::addItem(const QString& text, const QVariant& userData) {
    QComboBox::addItem(text, userData);
    MakeHeadingUnselectable(count() - 1, userData);
}

void CZtPatternComboBox::addItem(const QIcon& icon, const QString& text, const QVariant& userData) {
    QComboBox::addItem(icon, text, userData);
    MakeHeadingUnselectable(count() - 1, userData);
}

void CZtPatternComboBox::MakeHeadingUnselectable(int index, const QVariant& userData) {
    if (!CZtPatternComboBoxDelegate::IsHeading(userData)) {
        return;
    }
    if (auto* items = qobject_cast<QStandardItemModel*>(model())) {
        if (QStandardItem* item = items->item(index)) {
            item->setFlags(item->flags() & ~Qt::ItemIsSelectable);
        }
    }
}
