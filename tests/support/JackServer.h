#pragma once

#include <string>
#include <sys/types.h>

// A JACK server of the test's own, which this process's clients reach. Two
// kinds: jackd on the dummy driver under a private server name, or PipeWire
// (the `pipewire` daemon alone, no session manager) in a private runtime
// directory. Which one is decided by the environment the test process was
// started in: RORARIDOV_TEST_SERVER=pipewire, with LD_LIBRARY_PATH pointing
// at PipeWire's libjack, since libjack is chosen when a process starts.
// The server is a child of the test and is always reaped, so nothing
// lingers to block the next start.
class JackServer {
public:
    enum class Kind { Jackd, PipeWire };

    // The kind this process's environment asks for.
    static Kind KindOfThisProcess();

    // A realtime jackd (-R) schedules its clients as on a studio machine;
    // without it a client's other threads can pre-empt its process thread.
    // PipeWire takes its scheduling as it is. Started at once unless told
    // Later: restart() then starts it, and clients made meanwhile (child
    // processes too) find no server.
    enum class Start { Now, Later };
    // A machine shared with other work stalls now and then for tens of
    // milliseconds. As users run them, both servers then lose whole cycles
    // of MIDI: jackd goes on without a late client, and PipeWire's timer
    // starts cycles over an unfinished one when it catches up. Forgiving,
    // jackd waits for every client (-S), and PipeWire runs a quantum of at
    // least 4096 frames (85 ms), which outlasts such stalls; so a message the
    // test misses was lost by the program, not by the server.
    enum class Pacing { Forgiving, AsConfigured };
    explicit JackServer(int period = 256, bool realtime = false, Start start = Start::Now,
                        Pacing pacing = Pacing::Forgiving);
    ~JackServer();
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    Kind kind() const { return m_kind; }
    bool running() const { return m_pid > 0; }
    // Why the last start failed, for the test's message.
    const std::string& failure() const { return m_failure; }

    // The server dies without warning its clients.
    void kill();
    // The server stops running cycles, and starts again, as a stalled one.
    void pause(bool paused);
    // Starts the server again under the same name (or runtime directory) and
    // period after kill(); true once clients can connect.
    bool restart();

private:
    void launch();
    void launchJackd();
    void launchPipeWire();
    bool waitUntilAnswering();
    void terminate(int signal);
    void forgetKilledJackd();

    Kind m_kind;
    int m_period;
    bool m_realtime;
    bool m_forgiving;
    std::string m_name;        // jackd: the server name
    std::string m_runtimeDir;  // PipeWire: its socket, configuration and log
    std::string m_failure;
    pid_t m_pid = -1;
    bool m_killed = false;
};
