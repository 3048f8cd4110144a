// The pad's pattern combo: patterns under headings that cannot be chosen.
#pragma once

#include <QComboBox>

// GUI thread only.
class CZtPatternComboBox : public QComboBox {
    Q_OBJECT

public:
    explicit CZtPatternComboBox(QWidget* parent = nullptr);

    // Add the item like QComboBox; an item whose data is a negative number is a heading, which
    // the user cannot choose.
    void addItem(const QString& text, const QVariant& userData = QVariant());
    void addItem(const QIcon& icon, const QString& text, const QVariant& userData = QVariant());

private:
    void MakeHeadingUnselectable(int index, const QVariant& userData);
};
