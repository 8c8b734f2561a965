#include "EngineHooks.h"
#include "EngineReset.h"
#include "EventRing.h"
#include "MessagePath.h"
#include "MidiPorts.h"
#include "RecordingService.h"
#include "RoutingSettings.h"

#include <benchmark/benchmark.h>

#include "WakeUpEvent.h"

#include <QCoreApplication>

#include <sys/eventfd.h>
#include <unistd.h>

namespace {

constexpr int Batch = 1024;  // below the ring's capacity

class NoWakeUp final : public WakeUpTarget {
public:
    void Post() noexcept override {}
};

// Each iteration handles a batch; the items rate gives the cost of one.
void SetPerCapture(benchmark::State& state)
{
    state.SetItemsProcessed(state.iterations() * Batch);
}

void BM_CaptureOnly(benchmark::State& state)
{
    ResetEngine();
    NoWakeUp wake;
    SetWakeUpTarget(&wake);
    for (auto _ : state) {
        for (int i = 0; i < Batch; ++i)
            MidiInputProc<1>(nullptr, MIM_DATA, 0, 0x403C90, 0);
        ResetEventRing();
    }
    SetPerCapture(state);
    ResetEngine();
}
BENCHMARK(BM_CaptureOnly);

// With the program's own wake-up, the main loop answering once per batch: the
// first capture of a batch makes the system call, the others find it pending.
void BM_CaptureWithWakeUp(benchmark::State& state)
{
    ResetEngine();
    QObject receiver;
    WakeUpEvent wake(&receiver);
    SetWakeUpTarget(&wake);
    for (auto _ : state) {
        for (int i = 0; i < Batch; ++i)
            MidiInputProc<1>(nullptr, MIM_DATA, 0, 0x403C90, 0);
        ResetEventRing();
        state.PauseTiming();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    SetPerCapture(state);
    ResetEngine();
}
BENCHMARK(BM_CaptureWithWakeUp);

// What a wake-up costs when none is pending: the eventfd write that sets it
// and the read that resets it on the main thread.
void BM_EventFdSetAndReset(benchmark::State& state)
{
    const int fd = eventfd(0, EFD_NONBLOCK);
    for (auto _ : state) {
        uint64_t value = 1;
        benchmark::DoNotOptimize(write(fd, &value, sizeof value));
        benchmark::DoNotOptimize(read(fd, &value, sizeof value));
    }
    close(fd);
}
BENCHMARK(BM_EventFdSetAndReset);

// Drains and routes one entry to `state.range(0)` open outputs.
void BM_DrainAndRoute(benchmark::State& state)
{
    ResetEngine();
    RecordingService service(1);
    DeviceService = &service;
    const int outputs = static_cast<int>(state.range(0));
    for (int k = 1; k <= outputs; ++k)
        SelectOutput(k, k);
    RoutingOptions.RouteMask[0] = (1 << outputs) - 1;
    RoutingOptions.AtToPb[0] = 1;
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < Batch; ++i)
            PushEvent(i % 2 ? 0x01403C90u : 0x010040D0u);  // note-on and channel pressure
        state.ResumeTiming();
        DrainEvents();
    }
    SetPerCapture(state);
    CloseAllDevices();
    ResetEngine();
    DeviceService = nullptr;
}
BENCHMARK(BM_DrainAndRoute)->Arg(1)->Arg(3);

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
