#pragma once

#include <QObject>

// SIGTERM, SIGINT and SIGHUP end the program as Esc ends the main window:
// the main loop quits and shutdown closes every port in its usual order, so
// held notes are released. SIGUSR1 sends the panic, as F9 does in the
// windows. The handler only writes to a pipe; the main thread reads it.
// Needs the application object; the default actions come back when it goes.
class QuitSignals final : public QObject {
public:
    QuitSignals();
    ~QuitSignals() override;

    // Whether one came. A signal taken while start-up shows a notice ends
    // that notice's loop only, so start-up must not enter the main loop.
    static bool received();

private:
    void take();
    void quit();
};
