// CZtPickerTogglePushButton: a toggle button with a menu of items on its arrow part.
#include <QMenu>
#include <QMouseEvent>
#include <QStyleOptionButton>
#include <QStylePainter>

#include "zt/zt_qtwidgets.h"

CZtPickerTogglePushButton::CZtPickerTogglePushButton(QWidget* parent) : QPushButton(parent) {
    m_menu = new QMenu(this);
    // The picker keeps its toggle state itself: Qt's own would also press the arrow part.
    setCheckable(false);
    connect(m_menu, &QMenu::triggered, this, [this](QAction* action) { Select(action); });
}

QAction* CZtPickerTogglePushButton::AddItem(const QString& text, int index) {
    QAction* action = m_menu->addAction(text);
    action->setData(index);
    if (!m_current) {
        m_current = action;
        setText(text);
    }
    return action;
}

QList<QAction*> CZtPickerTogglePushButton::GetItems() const {
    return m_menu->actions();
}

int CZtPickerTogglePushButton::GetCurrentIndex() const {
    return m_current ? m_current->data().toInt() : -1;
}

bool CZtPickerTogglePushButton::SetCurrentIndex(int index) {
    for (QAction* action : m_menu->actions()) {
        if (action->data().toInt() == index) {
            Select(action);
            return true;
        }
    }
    return false;
}

bool CZtPickerTogglePushButton::SetCurrentText(const QString& text) {
    for (QAction* action : m_menu->actions()) {
        if (action->text() == text) {
            Select(action);
            return true;
        }
    }
    return false;
}

void CZtPickerTogglePushButton::Select(QAction* action) {
    m_current = action;
    setText(action->text());
    update();
    emit selectionChanged(action);
}

void CZtPickerTogglePushButton::SetPickerChecked(bool checked) {
    if (checked == m_checked) {
        return;
    }
    m_checked = checked;
    update();
    emit checkedChanged(checked);
}

int CZtPickerTogglePushButton::ArrowWidth() const {
    return 18;
}

QSize CZtPickerTogglePushButton::sizeHint() const {
    QSize size = QPushButton::sizeHint();
    size.rwidth() += ArrowWidth();
    return size;
}

// The arrow part opens the menu, the rest toggles.
void CZtPickerTogglePushButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !isEnabled() || !rect().contains(event->pos())) {
        QPushButton::mouseReleaseEvent(event);
        return;
    }
    setDown(false);
    if (event->pos().x() >= width() - ArrowWidth()) {
        if (!m_menu->actions().isEmpty()) {
            m_menu->popup(mapToGlobal(QPoint(0, height())));
        }
    } else {
        SetPickerChecked(!m_checked);
    }
    event->accept();
}

void CZtPickerTogglePushButton::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    if (m_checked) {
        option.state |= QStyle::State_On;
    }
    option.rect.setWidth(width() - ArrowWidth());
    painter.drawControl(QStyle::CE_PushButton, option);

    QStyleOptionButton arrowPart;
    initStyleOption(&arrowPart);
    arrowPart.text.clear();
    arrowPart.icon = QIcon();
    arrowPart.rect = QRect(width() - ArrowWidth(), 0, ArrowWidth(), height());
    painter.drawControl(QStyle::CE_PushButtonBevel, arrowPart);
    QStyleOption arrow;
    arrow.initFrom(this);
    arrow.rect = arrowPart.rect.adjusted(4, 4, -4, -4);
    painter.drawPrimitive(QStyle::PE_IndicatorArrowDown, arrow);
}
