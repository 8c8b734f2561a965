// One-way latency over the kernel's ALSA sequencer, run inside the guest
// that scripts/alsa-vm boots: bytes written into one virtual raw MIDI device
// (/dev/snd/midiC0D0) until they are read out of another (midiC0D1), through
// a direct subscription (aconnect, the floor) and through the headless
// program, side by side in the same guest. The guest is emulated, so only
// the difference between the two means anything; "lost" counts what did
// not arrive.

#include "ChildProgram.h"
#include "EngineReset.h"
#include "MidiPorts.h"
#include "OptionsFile.h"
#include "RoutingSettings.h"
#include "SavedDeviceNames.h"
#include "TempDirectory.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int Messages = 1000;
constexpr int PaceMs = 3;

// Note-ons whose key and velocity number them; the kernel may leave the
// repeated status byte out, so only data byte pairs are counted.
class Listener {
public:
    explicit Listener(int fd) : m_fd(fd), m_thread([this] { read(); }) {}
    ~Listener()
    {
        m_stop = true;
        m_thread.join();
    }
    std::vector<Clock::time_point> arrivals()
    {
        std::lock_guard lock(m_lock);
        return m_arrived;
    }

private:
    void read()
    {
        uint8_t buffer[1024];
        int first = -1;
        pollfd file{m_fd, POLLIN, 0};
        while (!m_stop) {
            if (::poll(&file, 1, 20) <= 0)
                continue;
            const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
            const auto now = Clock::now();
            std::lock_guard lock(m_lock);
            for (ssize_t i = 0; i < got; ++i) {
                if (buffer[i] & 0x80) {
                    first = -1;
                } else if (first < 0) {
                    first = buffer[i];
                } else {
                    const int number = first + 128 * (buffer[i] - 1);
                    first = -1;
                    if (number >= 0 && number < Messages)
                        m_arrived[number] = now;
                }
            }
        }
    }

    int m_fd;
    std::mutex m_lock;
    std::vector<Clock::time_point> m_arrived = std::vector<Clock::time_point>(Messages);
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

void Play(int fd, int number)
{
    const uint8_t note[] = {0x90, uint8_t(number % 128), uint8_t(1 + number / 128)};
    if (::write(fd, note, sizeof note) != sizeof note)
        std::perror("write");
}

// Plays until the path carries a message (the program subscribes its ports
// a moment after it starts), then the numbered notes at a steady pace.
void Measure(const char* thru)
{
    const int keys = ::open("/dev/snd/midiC0D0", O_WRONLY);
    const int synth = ::open("/dev/snd/midiC0D1", O_RDONLY | O_NONBLOCK);
    std::vector<Clock::time_point> played(Messages);
    {
        Listener listener(synth);
        const bool ready = Poll(
            [&] {
                Play(keys, Messages - 1);
                return listener.arrivals()[Messages - 1] != Clock::time_point{};
            },
            20000);
        if (!ready)
            std::printf("%-28s never carried a message\n", thru);
        for (int n = 0; ready && n < Messages - 1; ++n) {
            played[n] = Clock::now();
            Play(keys, n);
            std::this_thread::sleep_for(std::chrono::milliseconds(PaceMs));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));  // stragglers
        const auto arrived = listener.arrivals();
        std::vector<double> ms;
        for (int n = 0; ready && n < Messages - 1; ++n) {
            if (arrived[n] != Clock::time_point{})
                ms.push_back(std::chrono::duration<double, std::milli>(arrived[n] - played[n]).count());
        }
        std::sort(ms.begin(), ms.end());
        if (!ms.empty())
            std::printf("%-28s %9.3f %9.3f %9.3f %6zu\n", thru, ms[ms.size() / 2], ms[ms.size() * 99 / 100],
                        ms.back(), Messages - 1 - ms.size());
    }
    ::close(keys);
    ::close(synth);
}

// Input 1 on the first virtual device, output 1 on the second, by name.
void WriteSettings()
{
    ResetEngine();
    EnumerateDevices(ServiceChoice::Alsa);
    const auto find = [](const std::vector<std::string>& names, const char* start) {
        for (size_t k = 1; k < names.size(); ++k) {
            if (names[k].starts_with(start))
                return static_cast<int32_t>(k);
        }
        return int32_t{0};
    };
    TRoutingOptions options{};
    options.InSelect[0] = find(InDeviceNames, "Virtual Raw MIDI 0-0:");
    options.OutSelect[0] = find(OutDeviceNames, "Virtual Raw MIDI 0-1:");
    options.RouteMask[0] = 1;
    std::ofstream(DeviceNamesFileName) << InDeviceNames[options.InSelect[0]] << "\n\n\n"
                                       << OutDeviceNames[options.OutSelect[0]] << "\n\n\n";
    ReleaseDeviceService();
    FreeDeviceNames();
    WriteOptionsFile(options);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2 || access("/dev/snd/midiC0D1", F_OK) != 0) {
        std::fprintf(stderr, "usage: scripts/alsa-vm %s PROGRAM (in the guest's sequencer)\n", argv[0]);
        return 2;
    }
    std::printf("%-28s %9s %9s %9s %6s\n", "one-way latency (ms)", "median", "p99", "max", "lost");
    if (std::system("aconnect 'Virtual Raw MIDI 0-0:0' 'Virtual Raw MIDI 0-1:0'") != 0)
        return 1;
    Measure("aconnect (direct)");
    std::system("aconnect -x");

    const std::string roraridov = std::filesystem::absolute(argv[1]).string();
    TempDirectory directory;
    WriteSettings();
    ChildProgram program(roraridov.c_str(), {"--headless", "--service", "alsa"});
    Measure("Roraridov --headless");
    program.signal(SIGTERM);
    const int status = program.wait();
    std::fputs(program.err().c_str(), stderr);
    return status == 0 ? 0 : 1;
}
