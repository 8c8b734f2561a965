#include "MessagePath.h"

#include "EngineHooks.h"
#include "EventRing.h"
#include "LostMessages.h"
#include "MidiPorts.h"
#include "SoundingNotes.h"

#include <atomic>

int32_t ActivityHold[PortCount]{};

std::atomic<MidiHandle> CaptureOutputs[3];

namespace {

// Set when an input opens on a service that sends from its capture callback.
std::atomic<bool> CaptureSends{false};

// Lamps the capture callbacks asked for, one bit a port, until the main
// thread lights them.
std::atomic<uint32_t> LampRequests{0};

// Lamps the main thread shows lit, one bit a port. A request for one of
// these needs no wake-up: the next tick takes it right after its decay, so
// the lamp stays lit. The two masks are read and written sequentially
// consistent: either the tick that puts a lamp out sees the request, or the
// capture side sees the lamp out and wakes the main thread.
std::atomic<uint32_t> LampsLit{0};

// Per input: a release it sent was refused by the full ring, so something of
// it may sound on with no note-off to come.
std::atomic<bool> ReleaseLost[3];

void LightLamp(int port)
{
    if (ActivityHold[port] != 0)
        return;
    ActivityHold[port] = 1;
    LampsLit.fetch_or(1u << port, std::memory_order_seq_cst);
    if (EngineHooks.SetLamp)
        EngineHooks.SetLamp(port, true);
}

void LightRequestedLamps()
{
    const uint32_t requests = LampRequests.exchange(0, std::memory_order_seq_cst);
    for (int port = 0; port < PortCount; ++port) {
        if (requests & (1u << port))
            LightLamp(port);
    }
}

// Input n's routed outputs, in order.
template <typename Send>
void ForEachRoutedOutput(int n, Send&& send)
{
    const int32_t mask = RouteMaskOf(n);
    for (int k = 1; k <= 3; ++k) {
        if (mask & (1 << (k - 1)))
            send(k);
    }
}

// Capture thread: the main thread lights these lamps when it next wakes;
// the cycle's end decides whether it must wake now.
void LightFromCapture(uint32_t lamps)
{
    LampRequests.fetch_or(lamps, std::memory_order_seq_cst);
}

// Capture thread, once at the end of each cycle: one wake-up at most, and
// only for a lamp that is out (a system call per message would cost the
// cycle more than the routing itself).
void EndCaptureCycle()
{
    if (LampRequests.load(std::memory_order_seq_cst) & ~LampsLit.load(std::memory_order_seq_cst))
        PostWakeUp();
}

// The routing rule, the same on either thread: pressure becomes a bend where
// asked, then the message goes to each routed output in order.
template <typename Send>
void Route(int n, uint32_t message, Send&& send)
{
    const uint8_t status = StatusOf(message);
    const bool fromPressure = PressureToBend(n) && (status & 0xF0) == 0xD0;
    const uint32_t out = fromPressure ? PressureToPitchBend(status, Data1Of(message)) : message;
    ForEachRoutedOutput(n, [&](int k) { send(k, out, fromPressure); });
}

// A system exclusive message goes whole to every routed output, untouched.
void RouteLongEntry(int n)
{
    static uint8_t bytes[MaxLongMessageBytes];
    const uint32_t size = PopLongMessage(bytes);
    ForEachRoutedOutput(n, [&](int k) { SendLongToOutput(k, bytes, size); });
}

void RouteEntry(uint32_t entry)
{
    const uint32_t n = TagOf(entry);
    if (n < 1 || n > 3)
        return;
    LightLamp(InputPort(static_cast<int>(n)));
    if (StatusOf(entry) == LongMessageEntry) {
        RouteLongEntry(static_cast<int>(n));
        return;
    }
    Route(static_cast<int>(n), entry, [n](int k, uint32_t out, bool fromPressure) {
        if (SendToOutput(k, out))
            TrackSent(static_cast<int>(n), k, out, fromPressure);
    });
}

// Capture thread: the message leaves in this cycle; what was handed over is
// recorded here, and the main thread only lights the lamps.
void RouteFromCapture(int n, uint32_t message, uintptr_t time)
{
    uint32_t lamps = 1u << InputPort(n);
    Route(n, message, [&](int k, uint32_t out, bool fromPressure) {
        lamps |= 1u << OutputPort(k);
        const MidiHandle handle = CaptureOutputs[k - 1].load();
        if (!handle)
            return;
        if (DeviceService->midiOutShortMsgNow(handle, out, time) == MMSYSERR_NOERROR)
            TrackSent(n, k, out, fromPressure);
        else
            CountLostMessages();
    });
    LightFromCapture(lamps);
}

void RouteLongFromCapture(int n, const MidiLongMessage& sysex, uintptr_t time)
{
    uint32_t lamps = 1u << InputPort(n);
    ForEachRoutedOutput(n, [&](int k) {
        lamps |= 1u << OutputPort(k);
        const MidiHandle handle = CaptureOutputs[k - 1].load();
        if (handle && DeviceService->midiOutLongMsgNow(handle, sysex.bytes, sysex.size, time) != MMSYSERR_NOERROR)
            CountLostMessages();
    });
    LightFromCapture(lamps);
}

// Whole system exclusive messages only: the services put them together.
bool IsWholeSysex(const MidiLongMessage* sysex)
{
    return sysex && sysex->bytes && sysex->size >= 2 && sysex->size <= MaxLongMessageBytes &&
           sysex->bytes[0] == 0xF0 && sysex->bytes[sysex->size - 1] == 0xF7;
}

template <int N>
void CaptureLong(uintptr_t param1, uintptr_t param2)
{
    if (ChannelVoiceOnly(N))
        return;
    const auto* sysex = reinterpret_cast<const MidiLongMessage*>(param1);
    if (!IsWholeSysex(sysex))
        return;
    if (CaptureSends.load(std::memory_order_relaxed)) {
        RouteLongFromCapture(N, *sysex, param2);
        return;
    }
    PushLongEvent(N, sysex->bytes, sysex->size);
    PostWakeUp();
}

}  // namespace

template <int N>
void MidiInputProc(MidiHandle, uint32_t message, uintptr_t, uintptr_t param1, uintptr_t param2)
{
    static_assert(N >= 1 && N <= 3);
    if (message == MIM_LONGDATA) {
        CaptureLong<N>(param1, param2);
        return;
    }
    if (message != MIM_DATA && message != MIM_MOREDATA)
        return;
    if (ChannelVoiceOnly(N) && (param1 & 0xFF) >= 0xF0)
        return;
    const uint32_t packed = static_cast<uint32_t>(param1) & 0x00FFFFFF;
    if (CaptureSends.load(std::memory_order_relaxed)) {
        RouteFromCapture(N, packed, param2);
        return;
    }
    const bool release = EndsSound(packed);
    if (!PushEvent(packed | (static_cast<uint32_t>(N) << 24), release) && release)
        ReleaseLost[N - 1].store(true, std::memory_order_relaxed);
    PostWakeUp();
}

template void MidiInputProc<1>(MidiHandle, uint32_t, uintptr_t, uintptr_t, uintptr_t);
template void MidiInputProc<2>(MidiHandle, uint32_t, uintptr_t, uintptr_t, uintptr_t);
template void MidiInputProc<3>(MidiHandle, uint32_t, uintptr_t, uintptr_t, uintptr_t);

const MidiInProc MidiInputProcs[3] = {&MidiInputProc<1>, &MidiInputProc<2>, &MidiInputProc<3>};

void SendFromCapture(bool on)
{
    CaptureSends.store(on, std::memory_order_relaxed);
    if (DeviceService) {
        DeviceService->setCaptureCycleStart(on ? &ReleaseAtCycleStart : nullptr);
        DeviceService->setCaptureCycleEnd(on ? &EndCaptureCycle : nullptr);
    }
}

bool SendingFromCapture()
{
    return CaptureSends.load(std::memory_order_relaxed);
}

bool SendFromCycle(int k, uint32_t message, uintptr_t time)
{
    LightFromCapture(1u << OutputPort(k));
    const MidiHandle handle = CaptureOutputs[k - 1].load();
    if (!handle)
        return false;
    if (DeviceService->midiOutShortMsgNow(handle, message, time) == MMSYSERR_NOERROR)
        return true;
    CountLostMessages();
    return false;
}

void WaitForCapture()
{
    if (DeviceService)
        DeviceService->waitForCapture();
}

void ApplicationMessage(uint32_t message, bool&)
{
    if (message != WakeUpMessage)
        return;
    LightRequestedLamps();
    if (!NoticeShowing()) {
        ServiceDevices();
        DrainEvents();
    }
}

void DrainEvents()
{
    uint32_t entry;
    while (PopEvent(entry))
        RouteEntry(entry);
    // Whatever the ring kept is out; a note-off it refused is made up for
    // by releasing everything that input has sounding.
    for (int n = 1; n <= 3; ++n) {
        if (ReleaseLost[n - 1].load(std::memory_order_relaxed) &&
            ReleaseLost[n - 1].exchange(false, std::memory_order_relaxed))
            ReleaseInput(n);
    }
}

uint32_t PressureToPitchBend(uint8_t status, uint8_t pressure)
{
    // Least significant seven bits 0, most significant the pressure halved
    // and raised by 64: pressure 0 is the centre, 127 the top.
    return 0xE0u | (status & 0x0Fu) | ((((pressure & 0x7Fu) >> 1) + 64u) << 16);
}

bool SendToOutput(int k, uint32_t message)
{
    const int port = OutputPort(k);
    LightLamp(port);
    if (OpenSelection[port] == 0)
        return false;
    if (DeviceService->midiOutShortMsg(DeviceHandles[port], message) == MMSYSERR_NOERROR)
        return true;
    CountLostMessages();
    return false;
}

bool SendLongToOutput(int k, const uint8_t* bytes, uint32_t size)
{
    const int port = OutputPort(k);
    LightLamp(port);
    if (OpenSelection[port] == 0)
        return false;
    if (DeviceService->midiOutLongMsg(DeviceHandles[port], bytes, size) == MMSYSERR_NOERROR)
        return true;
    CountLostMessages();
    return false;
}

void DecayActivity()
{
    for (int port = 0; port < PortCount; ++port) {
        if (ActivityHold[port] != 0) {
            --ActivityHold[port];
            continue;
        }
        LampsLit.fetch_and(~(1u << port), std::memory_order_seq_cst);
        if (EngineHooks.SetLamp)
            EngineHooks.SetLamp(port, false);
    }
    // After the decay, so that a lamp lit now stays for a whole tick.
    LightRequestedLamps();
}

void ResetMessagePath()
{
    for (int32_t& hold : ActivityHold)
        hold = 0;
    for (auto& handle : CaptureOutputs)
        handle.store(nullptr);
    CaptureSends.store(false);
    LampRequests.store(0);
    LampsLit.store(0);
    for (auto& lost : ReleaseLost)
        lost.store(false);
    ResetEventRing();
    ResetSoundingNotes();
}
