// Finding a dialog's widgets the way a user does: by the text they show.
#pragma once

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QWidget>

// The push button of the widget (or its children) showing text; null when there is none.
inline QPushButton* Button(QWidget* widget, const QString& text) {
    for (QPushButton* button : widget->findChildren<QPushButton*>()) {
        if (button->text() == text) {
            return button;
        }
    }
    return nullptr;
}

// The button a user can see and press: Button's, when it is shown; null otherwise.
inline QPushButton* VisibleButton(QWidget* widget, const QString& text) {
    for (QPushButton* button : widget->findChildren<QPushButton*>()) {
        if (button->text() == text && button->isVisible()) {
            return button;
        }
    }
    return nullptr;
}

// The shown top-level window with this title, as a user finds a dialog on the screen.
inline QWidget* TopLevel(const QString& title) {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && window->windowTitle() == title) {
            return window;
        }
    }
    return nullptr;
}

// The texts of the widget's labels that show one.
inline QStringList Texts(QWidget* widget) {
    QStringList texts;
    for (QLabel* label : widget->findChildren<QLabel*>()) {
        if (!label->text().isEmpty()) {
            texts << label->text();
        }
    }
    return texts;
}
