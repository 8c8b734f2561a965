// Capture-to-send latency through the real Qt event loop: three threads play
// the part of device threads, calling the capture callbacks at a fixed rate
// each; the main window's wake-up and the application-wide hook drain the
// ring; the recording service notes when each message is sent.

#include "ApplicationMessageFilter.h"
#include "EngineReset.h"
#include "EventRing.h"
#include "MainForm.h"
#include "MessagePath.h"
#include "MidiPorts.h"
#include "RecordingService.h"
#include "RoutingSettings.h"

#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

using Clock = RecordingService::Clock;

struct Result {
    double rate;
    size_t played;
    size_t arrived;
    uint64_t dropped;
    double medianUs, p99Us, maxUs;
};

Result Run(double ratePerInput, double seconds)
{
    const size_t perInput = static_cast<size_t>(ratePerInput * seconds);
    const size_t total = 3 * perInput;
    ResetEngine();
    RecordingService service(total);
    DeviceService = &service;
    auto form = std::make_unique<TMainForm>();
    ApplicationMessageFilter filter(form.get());
    qApp->installEventFilter(&filter);
    SelectOutput(1, 1);
    for (int n = 0; n < 3; ++n)
        RoutingOptions.RouteMask[n] = 1;

    std::vector<Clock::time_point> captured(total);
    std::atomic<int> finished{0};
    std::vector<std::thread> players;
    const auto start = Clock::now() + std::chrono::milliseconds(50);
    for (int p = 0; p < 3; ++p) {
        players.emplace_back([&, p] {
            const auto interval = std::chrono::duration<double>(1.0 / ratePerInput);
            size_t i = 0;
            while (i < perInput) {
                std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(interval * i));
                // Send everything that is due: at high rates the sleep is
                // coarser than the interval, so messages go in small bursts.
                const auto now = Clock::now();
                while (i < perInput && start + std::chrono::duration_cast<Clock::duration>(interval * i) <= now) {
                    const size_t index = p * perInput + i;
                    captured[index] = Clock::now();
                    MidiInputProcs[p](nullptr, MIM_DATA, 0, index, 0);
                    ++i;
                }
            }
            finished.fetch_add(1);
        });
    }

    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (finished.load() == 3 && service.sends() + DroppedEvents() >= total)
            qApp->quit();
    });
    check.start(10);
    qApp->exec();
    for (auto& player : players)
        player.join();

    std::vector<double> latencies;
    latencies.reserve(total);
    for (size_t index = 0; index < total; ++index) {
        if (service.arrivals()[index] != Clock::time_point{})
            latencies.push_back(std::chrono::duration<double, std::micro>(service.arrivals()[index] - captured[index]).count());
    }
    std::sort(latencies.begin(), latencies.end());
    Result result{ratePerInput, total, latencies.size(), DroppedEvents(), 0, 0, 0};
    if (!latencies.empty()) {
        result.medianUs = latencies[latencies.size() / 2];
        result.p99Us = latencies[latencies.size() * 99 / 100];
        result.maxUs = latencies.back();
    }

    qApp->removeEventFilter(&filter);
    CloseAllDevices();
    form.reset();
    ResetEngine();
    DeviceService = nullptr;
    return result;
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const Result results[] = {Run(1042, 10), Run(100000, 2)};
    std::printf("%-22s %9s %9s %8s %11s %9s %9s\n", "rate per input", "played", "arrived", "dropped", "median us",
                "p99 us", "max us");
    for (const Result& r : results)
        std::printf("%-22.0f %9zu %9zu %8llu %11.1f %9.1f %9.1f\n", r.rate, r.played, r.arrived,
                    static_cast<unsigned long long>(r.dropped), r.medianUs, r.p99Us, r.maxUs);
    return 0;
}
