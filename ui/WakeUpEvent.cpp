#include "WakeUpEvent.h"

#include <QCoreApplication>

void WakeUpEvent::deliver()
{
    if (!reset())
        return;
    QEvent message(messageType());
    QCoreApplication::sendEvent(m_receiver, &message);
}

QEvent::Type WakeUpEvent::messageType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}
