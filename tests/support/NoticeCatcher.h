#pragma once

#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <vector>

// Stands in for the user in front of the program: answers every notice that
// comes up, noting what it said and which windows were on the screen, and
// once the main loop runs, acts as the test says.
class NoticeCatcher final : public QObject {
public:
    struct Shown {
        QString text;
        QString caption;
        QMessageBox::Icon icon;
        bool startScreenVisible;
        bool mainFormVisible;
    };

    explicit NoticeCatcher(std::function<void()> inMainLoop = {});

    std::vector<Shown> shown;
    bool reachedMainLoop = false;

private:
    void look();

    QTimer m_timer;
    std::function<void()> m_inMainLoop;
};
