// One-way latency keyboard -> thru -> synth over a JACK server (jackd on the
// dummy driver, or PipeWire's daemon alone), for three thrus side by side in
// one run: a direct connection (the floor), this router (through its real
// main loop), and a thru built on RtMidi's JACK backend. Latency is counted in the server's frames, from the
// frame a message left the keyboard to the frame it reached the synth, and
// shown in milliseconds at 48 kHz. jackd runs with realtime scheduling, as
// on a studio machine; "lost" counts what did not arrive, for every thru,
// the floor included.

#include "ApplicationMessageFilter.h"
#include "EngineReset.h"
#include "JackDeviceService.h"
#include "JackPeer.h"
#include "JackServer.h"
#include "MainForm.h"
#include "MidiPorts.h"
#include "RoutingSettings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr int Messages = 2000;
constexpr int PaceMs = 3;
constexpr double Rate = 48000.0;

struct Figures {
    std::string thru;
    int period;
    size_t arrived;
    double medianMs, p99Ms, maxMs;
};

// Plays the messages at a steady pace while the Qt loop runs, then waits a
// little for stragglers.
Figures Measure(const std::string& thru, int period, JackPeer& keyboard, JackPeer& synth)
{
    const size_t before = keyboard.playedAt().size();  // what priming the path played
    int played = 0;
    QTimer pace;
    QObject::connect(&pace, &QTimer::timeout, [&] {
        if (played < Messages) {
            keyboard.play({0x90, static_cast<uint8_t>(played % 128), static_cast<uint8_t>(1 + played / 128 % 127)});
            ++played;
        }
    });
    pace.start(PaceMs);
    QElapsedTimer clock;
    clock.start();
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        const bool all = synth.received().size() >= static_cast<size_t>(Messages);
        if (all || clock.elapsed() > Messages * PaceMs * 2 + 5000)
            qApp->quit();
    });
    check.start(20);
    qApp->exec();

    // Each message is unique, so arrivals are matched to departures by content.
    const auto& left = keyboard.playedAt();
    std::vector<double> latencies;
    for (const auto& event : synth.received()) {
        if (event.bytes.size() != 3)
            continue;
        const size_t index = before + event.bytes[1] + 128 * ((event.bytes[2] - 1) % 127);
        if (index < left.size())
            latencies.push_back((event.at.frame - left[index].frame) * 1000.0 / Rate);
    }
    std::sort(latencies.begin(), latencies.end());
    Figures figures{thru, period, latencies.size(), 0, 0, 0};
    if (!latencies.empty()) {
        figures.medianMs = latencies[latencies.size() / 2];
        figures.p99Ms = latencies[latencies.size() * 99 / 100];
        figures.maxMs = latencies.back();
    }
    return figures;
}

bool Connect(const std::string& from, const std::string& to)
{
    jack_status_t status;
    jack_client_t* patchbay = jack_client_open("patchbay", JackNoStartServer, &status);
    if (!patchbay)
        return false;
    const bool ok = jack_connect(patchbay, from.c_str(), to.c_str()) == 0;
    jack_client_close(patchbay);
    return ok;
}

Figures Direct(int period)
{
    JackPeer keyboard("keyboard", true, false);
    JackPeer synth("synth", false, true);
    Connect(keyboard.keyboardPort(), synth.synthPort());
    return Measure("direct connection", period, keyboard, synth);
}

Figures Router(int period)
{
    JackPeer keyboard("keyboard", true, false);
    JackPeer synth("synth", false, true);
    ResetEngine();
    std::unique_ptr<MidiDeviceService> service(OpenJackDeviceService("Roraridov"));
    if (!service)
        return {"Roraridov", period, 0, 0, 0, 0};
    DeviceService = service.get();
    TMainForm form;
    ApplicationMessageFilter filter(&form);
    qApp->installEventFilter(&filter);
    EnumerateDevices();
    // Where the two clients stand in the lists depends on the server.
    SelectInput(1, PositionIn(InDeviceNames, keyboard.keyboardPort()));
    SelectOutput(1, PositionIn(OutDeviceNames, synth.synthPort()));
    SetRouteMask(1, 1);
    // A connection takes effect at a cycle boundary: measure once it has.
    PrimePath(keyboard, {&synth}, [](const std::function<bool()>& done, int ms) {
        QElapsedTimer waited;
        waited.start();
        while (!done() && waited.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return done();
    });
    Figures figures = Measure("Roraridov", period, keyboard, synth);
    CloseAllDevices();
    qApp->removeEventFilter(&filter);
    DeviceService = nullptr;
    service.reset();
    ResetEngine();
    return figures;
}

Figures RtMidiThru(int period, const char* script)
{
    JackPeer keyboard("keyboard", true, false);
    JackPeer synth("synth", false, true);
    int toThru[2], fromThru[2];
    // Close-on-exec, or the thru would hold its own input open and never end.
    if (pipe2(toThru, O_CLOEXEC) != 0 || pipe2(fromThru, O_CLOEXEC) != 0)
        return {"RtMidi thru (python3-rtmidi)", period, 0, 0, 0, 0};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toThru[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromThru[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const char* args[] = {"/usr/bin/python3", script, nullptr};
    pid_t pid;
    const bool spawned =
        posix_spawn(&pid, args[0], &actions, nullptr, const_cast<char**>(args), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    close(toThru[0]);
    close(fromThru[1]);
    Figures figures{"RtMidi thru (python3-rtmidi)", period, 0, 0, 0, 0};
    char line[16] = {};
    if (spawned && read(fromThru[0], line, sizeof line - 1) > 0 &&
        Connect(keyboard.keyboardPort(), "thru-in:in") && Connect("thru-out:out", synth.synthPort()))
        figures = Measure(figures.thru, period, keyboard, synth);
    close(toThru[1]);  // the thru ends when its input closes
    close(fromThru[0]);
    if (spawned) {
        int status;
        waitpid(pid, &status, 0);
    }
    return figures;
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::string script = argc > 1 ? argv[1] : std::string(RTMIDI_THRU_SCRIPT);
    // The server is jackd, or PipeWire when the environment says so (see
    // JackServer); PipeWire's quantum is 1024 by default, desktops often 256.
    const bool pipewire = JackServer::KindOfThisProcess() == JackServer::Kind::PipeWire;
    const std::vector<int> periods = pipewire ? std::vector<int>{256, 1024} : std::vector<int>{64, 256, 1024};
    std::vector<Figures> all;
    for (int period : periods) {
        JackServer server(period, true, JackServer::Start::Now, JackServer::Pacing::AsConfigured);
        if (!server.running()) {
            std::fprintf(stderr, "%s\n", server.failure().c_str());
            return 1;
        }
        all.push_back(Direct(period));
        all.push_back(Router(period));
        all.push_back(RtMidiThru(period, script.c_str()));
    }
    std::printf("on %s\n", pipewire ? "PipeWire" : "jackd");
    std::printf("%-30s %7s %8s %6s %10s %8s %8s\n", "thru", "period", "period ms", "lost", "median ms", "p99 ms",
                "max ms");
    for (const Figures& f : all)
        std::printf("%-30s %7d %8.2f %6zu %10.2f %8.2f %8.2f\n", f.thru.c_str(), f.period, f.period * 1000.0 / Rate,
                    Messages - f.arrived, f.medianMs, f.p99Ms, f.maxMs);
    return 0;
}
