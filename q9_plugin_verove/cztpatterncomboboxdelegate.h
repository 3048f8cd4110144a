// The pattern combo's item delegate: headings are drawn as separator lines.
#pragma once

#include <QStyledItemDelegate>

// GUI thread only.
class CZtPatternComboBoxDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    explicit CZtPatternComboBoxDelegate(QObject* parent = nullptr);

    // An item whose user-role data is a negative number is a heading: one horizontal line through
    // the middle of its rectangle in the host's system colour 4. Other items paint as usual.
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

    // Whether the item data marks a heading.
    static bool IsHeading(const QVariant& data);
};
