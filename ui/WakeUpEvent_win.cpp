#include "WakeUpEvent.h"

#include <QWinEventNotifier>

#include <windows.h>

// An auto-reset event object: the notifier's wait resets it, so a capture
// after that sets it again and wakes the loop once more.
WakeUpEvent::WakeUpEvent(QObject* receiver) : QObject(receiver), m_receiver(receiver)
{
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!event)
        qFatal("cannot create the wake-up event");
    m_handles[0] = m_handles[1] = reinterpret_cast<intptr_t>(event);
    auto* notifier = new QWinEventNotifier(event, this);
    connect(notifier, &QWinEventNotifier::activated, this, &WakeUpEvent::deliver);
    m_notifier = notifier;
}

WakeUpEvent::~WakeUpEvent()
{
    delete m_notifier;
    CloseHandle(reinterpret_cast<HANDLE>(m_handles[0]));
}

void WakeUpEvent::setEvent() noexcept
{
    SetEvent(reinterpret_cast<HANDLE>(m_handles[1]));
}

bool WakeUpEvent::reset()
{
    return true;
}
