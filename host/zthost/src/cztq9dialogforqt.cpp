// CZtQ9DialogForQt: the host's base of plug-in dialogs.
#include <QCloseEvent>

#include "zt/zt_qtwidgets.h"
#include "zt/zt_util.h"

CZtQ9DialogForQt::CZtQ9DialogForQt(QWidget* parent) : QDialog(parent) {}

void CZtQ9DialogForQt::Place(QWidget* hostWindow, bool center) {
    QWidget* window = hostWindow->window();
    if (parentWidget() != window) {
        // Keeps the dialog a window of its own above the host's.
        setParent(window, windowFlags() | Qt::Dialog);
    }
    if (center) {
        adjustSize();
        const QRect frame = window->frameGeometry();
        move(frame.center() - rect().center());
    }
}

int CZtQ9DialogForQt::ShowDialog(QWidget* hostWindow, bool center) {
    if (!hostWindow) {
        return -4;
    }
    Place(hostWindow, center);
    show();
    raise();
    activateWindow();
    return 0;
}

int CZtQ9DialogForQt::DoModal(QWidget* hostWindow, bool center, int extraFlags) {
    if (!hostWindow) {
        return -4;
    }
    Place(hostWindow, center);
    if (extraFlags != 0) {
        setWindowFlags(windowFlags() | Qt::WindowFlags(extraFlags));
    }
    Q9_EnableGUI(false);
    const int result = exec();
    Q9_EnableGUI(true);
    return result;
}

bool CZtQ9DialogForQt::IsVisible() const {
    return isVisible();
}

// Closing is neither accepting nor rejecting: only closed is emitted.
void CZtQ9DialogForQt::closeEvent(QCloseEvent* event) {
    setResult(QDialog::Rejected);
    event->accept();
    emit closed();
}
