#include "JackServer.h"

#include <jack/jack.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

void Silent(const char*) {}

// Clients under ThreadSanitizer run several times slower, their process
// callbacks too, and a late client loses its cycle's messages. So under it
// the period is longer, jackd waits for every client each cycle (-S), and no
// realtime thread spins on the sanitizer's locks.
#if defined(__SANITIZE_THREAD__)
constexpr bool SanitizedClients = true;
constexpr int PeriodScale = 4;
#else
constexpr bool SanitizedClients = false;
constexpr int PeriodScale = 1;
#endif

constexpr int ForgivingQuantum = 4096;

// A client can connect and sees the period the server was started with.
bool Answers(int period)
{
    jack_status_t status;
    jack_client_t* probe = jack_client_open("probe", JackNoStartServer, &status);
    if (!probe)
        return false;
    const bool ready = jack_get_buffer_size(probe) == static_cast<jack_nframes_t>(period);
    jack_client_close(probe);
    return ready;
}

// Where this process's libjack came from; LD_LIBRARY_PATH decided it.
std::string LoadedLibjack()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&jack_client_open), &info) == 0 || !info.dli_fname)
        return {};
    return info.dli_fname;
}

// The server ends with the test process even when that is killed (a test
// timeout, a crash), so no orphan outlives it; hence fork and exec, as
// posix_spawn cannot ask for that. The signal follows the spawning thread,
// so start servers from a thread that outlives them.
bool SpawnQuietly(pid_t* pid, const std::vector<const char*>& args, const std::string& log)
{
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        // Only async-signal-safe calls between fork and exec.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(127);
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (out >= 0) {
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
        }
        execvp(args[0], const_cast<char* const*>(args.data()));
        _exit(127);
    }
    *pid = child;
    return true;
}

std::string TailOf(const std::string& path)
{
    std::ifstream file(path);
    const std::string text(std::istreambuf_iterator<char>(file), {});
    return text.size() > 600 ? text.substr(text.size() - 600) : text;
}

}  // namespace

JackServer::Kind JackServer::KindOfThisProcess()
{
    const char* kind = getenv("RORARIDOV_TEST_SERVER");
    return kind && strcmp(kind, "pipewire") == 0 ? Kind::PipeWire : Kind::Jackd;
}

JackServer::JackServer(int period, bool realtime, Start start, Pacing pacing)
    : m_kind(KindOfThisProcess()),
      m_period(period * PeriodScale),
      m_realtime(realtime && !SanitizedClients),
      m_forgiving(pacing == Pacing::Forgiving)
{
    if (m_forgiving && m_kind == Kind::PipeWire)
        m_period = std::max(m_period, ForgivingQuantum);
    static int started = 0;
    m_name = "roraridov-test-" + std::to_string(getpid()) + "-" + std::to_string(++started);
    setenv("JACK_NO_START_SERVER", "1", 1);
    jack_set_error_function(&Silent);
    jack_set_info_function(&Silent);

    const bool pipewireLibjack = LoadedLibjack().find("pipewire") != std::string::npos;
    if (pipewireLibjack != (m_kind == Kind::PipeWire)) {
        m_failure = std::string("this process loaded ") + LoadedLibjack() + ", which cannot reach " +
                    (m_kind == Kind::PipeWire ? "pipewire" : "jackd");
        return;
    }
    if (m_kind == Kind::Jackd) {
        setenv("JACK_DEFAULT_SERVER", m_name.c_str(), 1);
    } else {
        // Everything PipeWire and its clients look up lives in one private
        // directory; PIPEWIRE_RUNTIME_DIR wins over XDG_RUNTIME_DIR, so set both.
        const std::filesystem::path base = getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp";
        std::string pattern = (base / "roraridov-pipewire-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            m_failure = "no private runtime directory for pipewire";
            return;
        }
        m_runtimeDir = pattern;
        const std::filesystem::path dir = m_runtimeDir;
        for (const char* variable : {"XDG_RUNTIME_DIR", "PIPEWIRE_RUNTIME_DIR"})
            setenv(variable, m_runtimeDir.c_str(), 1);
        setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
        unsetenv("PIPEWIRE_REMOTE");
        // PipeWire's quantum plays the part of jackd's period; pinning the
        // range keeps any client from asking for another one.
        std::filesystem::create_directories(dir / "config/pipewire/pipewire.conf.d");
        std::ofstream(dir / "config/pipewire/pipewire.conf.d/test-server.conf")
            << "context.properties = {\n    default.clock.rate = 48000\n"
            << "    default.clock.quantum = " << m_period << "\n    default.clock.min-quantum = " << m_period
            << "\n    default.clock.max-quantum = " << m_period << "\n}\n";
    }
    if (start == Start::Now)
        launch();
}

JackServer::~JackServer()
{
    terminate(SIGTERM);
    if (m_kind == Kind::Jackd && m_killed) {
        // A killed jackd keeps its slot in JACK's registry of servers, which
        // has room for eight; only a server of the same name reclaims it. So
        // start one more under this name and stop it properly.
        restart();
        terminate(SIGTERM);
    }
    if (!m_runtimeDir.empty()) {
        std::error_code error;
        std::filesystem::remove_all(m_runtimeDir, error);
    }
}

void JackServer::kill()
{
    terminate(SIGKILL);
    m_killed = true;
}

void JackServer::pause(bool paused)
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, paused ? SIGSTOP : SIGCONT);
    // A signal is delivered later; the server's own report says when it
    // has stopped or runs again.
    int status;
    waitpid(m_pid, &status, paused ? WUNTRACED : WCONTINUED);
}

bool JackServer::restart()
{
    terminate(SIGTERM);
    if (m_kind == Kind::Jackd && m_killed)
        forgetKilledJackd();
    launch();
    if (running())
        m_killed = false;
    return running();
}

void JackServer::forgetKilledJackd()
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", error)) {
        if (entry.path().filename().string().find(m_name) != std::string::npos)
            std::filesystem::remove(entry.path(), error);
    }
}

void JackServer::launch()
{
    if (m_kind == Kind::Jackd)
        launchJackd();
    else if (!m_runtimeDir.empty())
        launchPipeWire();
}

void JackServer::launchJackd()
{
    // Before -d, -r means no realtime; after -d dummy it is the sample rate.
    const std::string periodText = std::to_string(m_period);
    std::vector<const char*> args{"jackd", "-n", m_name.c_str()};
    if (m_forgiving || SanitizedClients)
        args.push_back("-S");
    if (m_realtime)
        args.insert(args.end(), {"-R", "-P", "70"});
    else
        args.push_back("-r");
    args.insert(args.end(), {"-d", "dummy", "-r", "48000", "-p", periodText.c_str(), "-C", "0", "-P", "0", nullptr});
    if (!SpawnQuietly(&m_pid, args, "/dev/null")) {
        m_pid = -1;
        m_failure = "jackd could not be started";
        return;
    }
    if (!waitUntilAnswering())
        m_failure = "jackd did not start or did not answer";
}

void JackServer::launchPipeWire()
{
    // Without D-Bus it logs two harmless "Failed to connect to session bus".
    const std::string log = m_runtimeDir + "/pipewire.log";
    if (!SpawnQuietly(&m_pid, {"pipewire", nullptr}, log)) {
        m_pid = -1;
        m_failure = "pipewire could not be started";
        return;
    }
    if (!waitUntilAnswering())
        m_failure = "pipewire did not start or did not answer; its log ends:\n" + TailOf(log);
}

bool JackServer::waitUntilAnswering()
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!Answers(m_period)) {
        int status;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return false;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            terminate(SIGKILL);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_failure.clear();
    return true;
}

void JackServer::terminate(int signal)
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
