// The dialogs the pad opens: created on first use, deleted after they close.
#pragma once

#include <QPointer>
#include <functional>

#include "zt/zt_qtwidgets.h"

// GUI thread only.
class CZtVerovePadDialogs {
public:
    using Make = std::function<CZtQ9DialogForQt*()>;
    using Wire = std::function<void(CZtQ9DialogForQt*)>;

    // The dialog of the slot, made and wired (its accepted, rejected and closed to the pad) on
    // first use; null when make gives none.
    static CZtQ9DialogForQt* Get(QPointer<CZtQ9DialogForQt>* slot, const Make& make,
                                 const Wire& wire);
    // Connects the dialog's accepted, rejected and closed to the receiver's slots.
    template <typename Receiver>
    static void Connect(CZtQ9DialogForQt* dialog, Receiver* receiver, void (Receiver::*accepted)(),
                        void (Receiver::*rejected)(), void (Receiver::*closed)()) {
        QObject::connect(dialog, &QDialog::accepted, receiver, accepted);
        QObject::connect(dialog, &QDialog::rejected, receiver, rejected);
        QObject::connect(dialog, &CZtQ9DialogForQt::closed, receiver, closed);
    }
    // Disconnects the dialog from receiver, schedules its deletion and empties the slot.
    static void Close(QPointer<CZtQ9DialogForQt>* slot, QObject* receiver);
    // Shows the dialog modeless over window, or brings it to the front when it is shown.
    static void Show(CZtQ9DialogForQt* dialog, QWidget* window);
    // Runs the dialog modally over window; meanwhile the plug-in's module receives the files
    // dropped on the application.
    static void RunWithDropTarget(CZtQ9DialogForQt* dialog, QWidget* window);
};
