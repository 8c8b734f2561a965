#include "WakeUpEvent.h"

#include <QCoreApplication>

void WakeUpEvent::Post() noexcept
{
    if (!m_pending.exchange(true, std::memory_order_acq_rel))
        setEvent();
}

void WakeUpEvent::deliver()
{
    if (!reset())
        return;
    // Cleared after the reset: a post in between sets the event again, a
    // post after it finds the flag clear. Either way it is not lost. The
    // exchange also makes every entry pushed before a skipped post visible
    // to the drain that follows.
    m_pending.exchange(false, std::memory_order_acq_rel);
    QEvent message(messageType());
    QCoreApplication::sendEvent(m_receiver, &message);
}

QEvent::Type WakeUpEvent::messageType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}
