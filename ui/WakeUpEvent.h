#pragma once

#include "EngineHooks.h"

#include <QEvent>
#include <QObject>

#include <atomic>

// The auto-reset event that capture callbacks set to wake the main thread.
// Setting it allocates nothing and takes no lock (an eventfd, or a pipe
// where there is none). When the loop running on the main thread sees it
// set, it resets it and then sends the wake-up message to the receiver, so
// a capture after the reset always wakes the loop again.
// Wake-ups coalesce: while one is pending, further posts skip the system
// call; the drain it leads to empties the whole ring.
class WakeUpEvent final : public QObject, public WakeUpTarget {
public:
    // A child of its receiver: a wake-up still pending when the receiver
    // goes is never delivered to it.
    explicit WakeUpEvent(QObject* receiver);
    ~WakeUpEvent() override;

    void Post() noexcept override;

    // The type of the wake-up message the receiver gets.
    static QEvent::Type messageType();

private:
    void deliver();
    void setEvent() noexcept;
    bool reset();

    QObject* m_receiver;
    QObject* m_notifier = nullptr;
    intptr_t m_handles[2] = {-1, -1};
    std::atomic<bool> m_pending{false};
};
