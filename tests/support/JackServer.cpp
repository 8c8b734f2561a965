#include "JackServer.h"

#include <jack/jack.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

void Silent(const char*) {}

bool Answers()
{
    jack_status_t status;
    jack_client_t* probe = jack_client_open("probe", JackNoStartServer, &status);
    if (!probe)
        return false;
    jack_client_close(probe);
    return true;
}

}  // namespace

JackServer::JackServer(int period) : m_period(period)
{
    static int started = 0;
    m_name = "roraridov-test-" + std::to_string(getpid()) + "-" + std::to_string(++started);
    setenv("JACK_DEFAULT_SERVER", m_name.c_str(), 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
    jack_set_error_function(&Silent);
    jack_set_info_function(&Silent);
    launch();
}

JackServer::~JackServer()
{
    stop(SIGTERM);
    if (m_killed) {
        // A killed server keeps its slot in JACK's registry of servers, which
        // has room for eight; only a server of the same name reclaims it. So
        // start one more under this name and stop it properly.
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", error)) {
            if (entry.path().filename().string().find(m_name) != std::string::npos)
                std::filesystem::remove(entry.path(), error);
        }
        launch();
        stop(SIGTERM);
    }
}

void JackServer::kill()
{
    stop(SIGKILL);
    m_killed = true;
}

void JackServer::launch()
{
    // Before -d, -r means no realtime; after -d dummy it is the sample rate.
    const std::string periodText = std::to_string(m_period);
    std::vector<const char*> args{"jackd", "-n", m_name.c_str(), "-r", "-d", "dummy", "-r", "48000",
                                  "-p", periodText.c_str(), "-C", "0", "-P", "0", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const int spawned = posix_spawnp(&m_pid, "jackd", &actions, nullptr, const_cast<char**>(args.data()), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        m_pid = -1;
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!Answers()) {
        int status;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            stop(SIGKILL);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void JackServer::stop(int signal)
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, signal);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int status;
    while (waitpid(m_pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(m_pid, SIGKILL);
            waitpid(m_pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_pid = -1;
}
