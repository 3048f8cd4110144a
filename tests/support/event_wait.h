// Waiting in a test for what the GUI thread's event loop brings about.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

// Process events until done() holds or the timeout has passed (a guard against hanging, not a
// measure of time).
template <typename Condition>
bool WaitFor(Condition done, int timeoutMs = 1200000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}
