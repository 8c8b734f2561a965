#pragma once

#include <QApplication>

// The application object: a failure raised by any event handler is shown
// with the failure notice and the event loop goes on.
class RoraridovApplication final : public QApplication {
public:
    RoraridovApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};
