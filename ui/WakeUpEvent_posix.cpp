#include "WakeUpEvent.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/eventfd.h>
#endif

namespace {

int Fd(intptr_t handle)
{
    return static_cast<int>(handle);
}

}  // namespace

WakeUpEvent::WakeUpEvent(QObject* receiver) : QObject(receiver), m_receiver(receiver)
{
#ifdef __linux__
    const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_handles[0] = m_handles[1] = fd;
#else
    int fds[2];
    if (pipe(fds) == 0) {
        for (int fd : fds) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
            fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
        m_handles[0] = fds[0];
        m_handles[1] = fds[1];
    }
#endif
    if (m_handles[0] < 0)
        qFatal("cannot create the wake-up event: %s", strerror(errno));
    auto* notifier = new QSocketNotifier(Fd(m_handles[0]), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &WakeUpEvent::deliver);
    m_notifier = notifier;
}

WakeUpEvent::~WakeUpEvent()
{
    delete m_notifier;
    close(Fd(m_handles[0]));
    if (m_handles[1] != m_handles[0])
        close(Fd(m_handles[1]));
}

void WakeUpEvent::setEvent() noexcept
{
    // A full eventfd counter or pipe already means "set"; the result does not matter.
#ifdef __linux__
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t written = write(Fd(m_handles[1]), &one, sizeof one);
#else
    const char one = 1;
    [[maybe_unused]] ssize_t written = write(Fd(m_handles[1]), &one, sizeof one);
#endif
}

bool WakeUpEvent::reset()
{
    bool wasSet = false;
    char buffer[64];
    // An eventfd read takes the whole counter at once; a pipe may hold many bytes.
    while (read(Fd(m_handles[0]), buffer, sizeof buffer) > 0)
        wasSet = true;
    return wasSet;
}
