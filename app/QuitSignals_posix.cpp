#include "QuitSignals.h"

#include "Panic.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int Caught[] = {SIGTERM, SIGINT, SIGHUP, SIGUSR1};
int Pipe[2] = {-1, -1};
bool Received = false;

void Handle(int signal)
{
    // Async-signal-safe: one write, errno kept for the interrupted code. A
    // full pipe already holds a quit (or enough panics).
    const int saved = errno;
    const char byte = signal == SIGUSR1 ? 'p' : 'q';
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
    connect(notifier, &QSocketNotifier::activated, this, &QuitSignals::take);
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

void QuitSignals::take()
{
    char buffer[16];
    bool quit = false, panic = false;
    for (ssize_t got; (got = read(Pipe[0], buffer, sizeof buffer)) > 0;) {
        for (ssize_t i = 0; i < got; ++i)
            (buffer[i] == 'p' ? panic : quit) = true;
    }
    // On the main thread, as the panic key's: the engine is not thread-safe.
    if (panic && !quit)
        SendPanic();
    if (quit)
        this->quit();
}

void QuitSignals::quit()
{
    Received = true;
    // Ends every loop that runs: the main loop, and a dialog's or a notice's
    // loop inside it. (quit() would first try to close the windows, and does
    // nothing outside the main loop.)
    QCoreApplication::exit(0);
}
