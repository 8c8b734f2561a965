#include "QuitSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int Caught[] = {SIGTERM, SIGINT, SIGHUP};
int Pipe[2] = {-1, -1};
bool Received = false;

void Handle(int)
{
    // Async-signal-safe: one write, errno kept for the interrupted code. A
    // full pipe already holds a quit.
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(Pipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

QuitSignals::QuitSignals()
{
    if (pipe(Pipe) != 0)
        qFatal("cannot create the quit signal pipe: %s", strerror(errno));
    for (int fd : Pipe) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    auto* notifier = new QSocketNotifier(Pipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &QuitSignals::quit);
    struct sigaction action = {};
    action.sa_handler = &Handle;
    sigemptyset(&action.sa_mask);
    // The device services' threads may take a signal too; their calls go on.
    action.sa_flags = SA_RESTART;
    for (int signal : Caught)
        sigaction(signal, &action, nullptr);
}

QuitSignals::~QuitSignals()
{
    for (int signal : Caught)
        std::signal(signal, SIG_DFL);
    delete findChild<QSocketNotifier*>();
    close(Pipe[0]);
    close(Pipe[1]);
    Pipe[0] = Pipe[1] = -1;
}

bool QuitSignals::received()
{
    return Received;
}

void QuitSignals::quit()
{
    char buffer[16];
    while (read(Pipe[0], buffer, sizeof buffer) > 0) {
    }
    Received = true;
    // Ends every loop that runs: the main loop, and a dialog's or a notice's
    // loop inside it. (quit() would first try to close the windows, and does
    // nothing outside the main loop.)
    QCoreApplication::exit(0);
}
