#pragma once

#include <QObject>

// The application-wide hook on the messages the program's own loops take
// from the main thread's queue: the main loop and the setup dialog's loop
// alike. It passes the wake-up message for the main window on to the engine
// and lets every message, the wake-up included, go on to normal dispatch.
class ApplicationMessageFilter final : public QObject {
public:
    explicit ApplicationMessageFilter(QObject* mainWindow);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QObject* m_mainWindow;
};
