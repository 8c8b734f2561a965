#include "NoticeCatcher.h"

#include "MainForm.h"
#include "StartScreen.h"

#include <QAbstractButton>
#include <QApplication>
#include <QThread>

NoticeCatcher::NoticeCatcher(std::function<void()> inMainLoop) : m_inMainLoop(std::move(inMainLoop))
{
    connect(&m_timer, &QTimer::timeout, this, &NoticeCatcher::look);
    m_timer.start(10);
}

void NoticeCatcher::look()
{
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        shown.push_back({box->text(), box->windowTitle(), box->icon(), StartScreen && StartScreen->isVisible(),
                         MainForm && MainForm->isVisible()});
        box->button(QMessageBox::Ok)->click();
        return;
    }
    // Start-up is over and the only loop running is the main one.
    if (!reachedMainLoop && !StartScreen && MainForm && QThread::currentThread()->loopLevel() == 1 &&
        !QApplication::activeModalWidget()) {
        reachedMainLoop = true;
        if (m_inMainLoop)
            m_inMainLoop();
    }
}
