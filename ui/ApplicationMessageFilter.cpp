#include "ApplicationMessageFilter.h"

#include "MessagePath.h"
#include "WakeUpEvent.h"

ApplicationMessageFilter::ApplicationMessageFilter(QObject* mainWindow)
    : m_mainWindow(mainWindow)
{
}

bool ApplicationMessageFilter::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_mainWindow && event->type() == WakeUpEvent::messageType()) {
        bool handled = false;
        ApplicationMessage(WakeUpMessage, handled);
        return handled;
    }
    return false;
}
