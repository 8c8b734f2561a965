#pragma once

#include "Patience.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

// Runs the event loop until `done` holds or the deadline passes; returns
// whether it holds. Tests wait on outcomes this way, never on fixed sleeps.
template <typename Condition>
bool WaitUntil(Condition done, int deadlineMs = PatienceMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > deadlineMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::usleep(200);
    }
    return true;
}
