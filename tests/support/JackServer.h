#pragma once

#include <string>
#include <sys/types.h>

// A JACK server of the test's own on the dummy driver (no sound hardware),
// under a private name that this process's clients use. It is a child of the
// test and is always reaped, so no zombie blocks the next start.
class JackServer {
public:
    explicit JackServer(int period = 256);
    ~JackServer();
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    bool running() const { return m_pid > 0; }
    const std::string& name() const { return m_name; }
    // The server dies without warning its clients.
    void kill();

private:
    void launch();
    void stop(int signal);

    int m_period;
    std::string m_name;
    pid_t m_pid = -1;
    bool m_killed = false;
};
