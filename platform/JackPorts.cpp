// Our ports: opened on a device of the lists, closed once what they queued
// has left, and the main thread's sends to them.

#include "JackServiceState.h"

#include "MidiBytes.h"

#include <thread>

#include <time.h>

MmResult JackDeviceService::midiInOpen(MidiHandle* slot, uint32_t device, MidiInProc callback, uintptr_t instance,
                                       uint32_t flags)
{
    if (!slot || !callback || flags != CALLBACK_FUNCTION)
        return MMSYSERR_INVALPARAM;
    return open(slot, true, device, callback, instance);
}

MmResult JackDeviceService::midiOutOpen(MidiHandle* slot, uint32_t device, uintptr_t callback, uintptr_t,
                                        uint32_t flags)
{
    if (!slot || callback != 0 || flags != CALLBACK_NULL)
        return MMSYSERR_INVALPARAM;
    return open(slot, false, device, nullptr, 0);
}

// A port opens on a device that is listed, present or not: an absent one is
// connected the moment it appears.
MmResult JackDeviceService::open(MidiHandle* slot, bool input, uint32_t device, MidiInProc callback,
                                 uintptr_t instance)
{
    Ports& ports = input ? m_inputs : m_outputs;
    const DeviceList& devices = input ? m_sources : m_sinks;
    int& wanted = input ? m_nextInput : m_nextOutput;
    const int hint = std::exchange(wanted, 0);
    if (device >= devices.names.size())
        return MMSYSERR_BADDEVICEID;
    const std::string& peer = devices.names[device];
    // One device on two of our ports would hear (or play) everything twice.
    for (const JackPort& record : ports) {
        if (record.inUse && record.peer == peer)
            return MMSYSERR_ALLOCATED;
    }
    JackPort* record = nullptr;
    if (hint >= 1 && hint <= static_cast<int>(ports.size()) && !ports[hint - 1].inUse)
        record = &ports[hint - 1];
    for (size_t i = 0; !record && i < ports.size(); ++i) {
        if (!ports[i].inUse)
            record = &ports[i];
    }
    if (!record)
        return MMSYSERR_NOMEM;

    record->started.store(false, std::memory_order_relaxed);
    if (record->reader)
        record->reader->abandon();  // what an earlier device left half read
    record->callback = callback;
    record->instance = instance;
    record->peer = peer;
    record->device = device;
    for (jack_ringbuffer_t* ring : {record->outgoing, record->held}) {
        if (ring)
            jack_ringbuffer_reset(ring);
    }
    if (m_client && !gone() &&
        (!registerPort(*record, input) || (devices.present(device) && !connect(*record, input))))
        retryLater();
    record->inUse = true;
    *slot = reinterpret_cast<MidiHandle>(record);
    return MMSYSERR_NOERROR;
}

JackPort* JackDeviceService::find(MidiHandle handle, Ports& ports)
{
    for (JackPort& record : ports) {
        if (reinterpret_cast<MidiHandle>(&record) == handle)
            return record.inUse ? &record : nullptr;
    }
    return nullptr;
}

MmResult JackDeviceService::midiInStart(MidiHandle handle)
{
    JackPort* in = find(handle, m_inputs);
    if (!in)
        return MMSYSERR_INVALHANDLE;
    in->started.store(true, std::memory_order_release);
    return MMSYSERR_NOERROR;
}

MmResult JackDeviceService::midiInClose(MidiHandle handle)
{
    JackPort* in = find(handle, m_inputs);
    return in ? close(in, true) : MMSYSERR_INVALHANDLE;
}

MmResult JackDeviceService::midiOutClose(MidiHandle handle)
{
    JackPort* out = find(handle, m_outputs);
    return out ? close(out, false) : MMSYSERR_INVALHANDLE;
}

MmResult JackDeviceService::close(JackPort* record, bool input)
{
    // A server that runs but no longer takes what is queued: the port stays
    // open with its queue, and a later close can try again.
    if (!input && !letQueueOut(*record))
        return MIDIERR_STILLPLAYING;
    record->started.store(false, std::memory_order_release);
    jack_port_t* port = record->port.exchange(nullptr, std::memory_order_seq_cst);
    // After this wait the process thread is not in this record and will not
    // enter it again, so no callback runs once the close has returned.
    waitOutOfCycle();
    // Unregistering also disconnects. A dead server has nothing left to undo.
    if (port && m_client && !gone())
        jack_port_unregister(m_client, port);
    record->callback = nullptr;
    record->peer.clear();
    record->inUse = false;
    return MMSYSERR_NOERROR;
}

MmResult JackDeviceService::midiOutShortMsg(MidiHandle handle, uint32_t message)
{
    // On the message path: a bounds check, a validity check and a lock-free
    // ring write, nothing that allocates or waits.
    JackPort* out = outputOf(handle);
    if (!out || !out->inUse)
        return MMSYSERR_INVALHANDLE;
    if (gone() || !out->port.load(std::memory_order_relaxed))
        return MMSYSERR_NODRIVER;
    if (ShortMessageDataBytes(static_cast<uint8_t>(message)) < 0)
        return MMSYSERR_INVALPARAM;
    if (jack_ringbuffer_write_space(out->outgoing) < sizeof message)
        return MMSYSERR_NOMEM;
    jack_ringbuffer_write(out->outgoing, reinterpret_cast<const char*>(&message), sizeof message);
    return MMSYSERR_NOERROR;
}

template <typename Waiting>
void JackDeviceService::sleepAcrossCycles(Waiting waiting, Clock::time_point deadline, bool unlessRunning)
{
    if (!waiting())
        return;
    // Counted before `waiting` is asked again, so that a cycle's end either
    // is seen there or posts (see endCycle).
    m_cycleWaiters.fetch_add(1, std::memory_order_seq_cst);
    while (waiting() && !((!unlessRunning || gone()) && Clock::now() > deadline)) {
        // A few milliseconds at most, so that a server that dies meanwhile
        // is noticed; posts of cycles nobody waited for only make the loop
        // look again.
        timespec until;
        clock_gettime(CLOCK_MONOTONIC, &until);
        until.tv_nsec += 5'000'000;
        if (until.tv_nsec >= 1'000'000'000) {
            until.tv_nsec -= 1'000'000'000;
            ++until.tv_sec;
        }
        sem_clockwait(&m_cycleEnded, CLOCK_MONOTONIC, &until);
    }
    m_cycleWaiters.fetch_sub(1, std::memory_order_seq_cst);
}

void JackDeviceService::waitOutOfCycle()
{
    // A cycle that was running has ended once the flag is down or the count
    // has moved. The deadline only stops the wait for a process thread that
    // a dead server left behind.
    const uint64_t cycle = m_cycles.load(std::memory_order_seq_cst);
    sleepAcrossCycles(
        [&] { return m_inCycle.load(std::memory_order_seq_cst) && m_cycles.load(std::memory_order_seq_cst) == cycle; },
        Clock::now() + std::chrono::seconds(1), true);
}

// No cycle at all for this long is a stall. A machine busy with other work
// held a server without realtime back for more than 4 periods and 100 ms,
// and a close then failed, or a release handed to the cycle was made from
// the main thread, while the server was only late.
Clock::duration JackDeviceService::stallPatience() const
{
    const double period = double(jack_get_buffer_size(m_client)) / std::max(1u, jack_get_sample_rate(m_client));
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(std::max(4 * period + 0.1, 1.0)));
}

void JackDeviceService::waitForCycle()
{
    if (!m_client || gone())
        return;
    // A cycle under way may have started before the call: then the one
    // after it must run too. The flag first: a cycle it saw over has been
    // counted by then.
    const bool inCycle = m_inCycle.load(std::memory_order_seq_cst);
    const uint64_t until = m_cycles.load(std::memory_order_seq_cst) + (inCycle ? 2 : 1);
    sleepAcrossCycles([&] { return m_cycles.load(std::memory_order_seq_cst) < until; }, Clock::now() + stallPatience(),
                      false);
}

void JackDeviceService::waitForCapture()
{
    if (m_client)
        waitOutOfCycle();
}

// Every message a send accepted goes out before the port goes: the note-offs
// sent just before a close above all. Waits as long as the server runs
// cycles and the queue shrinks, however long the queue; false when the
// server runs on but takes nothing for several cycles. A server that is
// gone took the queue with it: nothing to wait for.
bool JackDeviceService::letQueueOut(JackPort& out)
{
    if (!m_client || gone() || !out.port.load(std::memory_order_relaxed))
        return true;
    const auto patience = stallPatience();
    constexpr uint64_t StallCycles = 4;
    const auto waiting = [&out] { return jack_ringbuffer_read_space(out.outgoing) + jack_ringbuffer_read_space(out.held); };
    size_t queued = waiting();
    uint64_t lastProgress = m_cycles.load(std::memory_order_acquire);
    auto lastCycleAt = Clock::now();
    uint64_t lastCycle = lastProgress;
    // Then the cycle that wrote the last of it must end: two more cycles.
    uint64_t drainedAt = queued == 0 ? lastProgress : UINT64_MAX;
    while (!gone()) {
        const uint64_t cycle = m_cycles.load(std::memory_order_acquire);
        const size_t left = waiting();
        if (left == 0 && drainedAt == UINT64_MAX)
            drainedAt = cycle;
        if (drainedAt != UINT64_MAX && cycle >= drainedAt + 2)
            return true;
        if (cycle != lastCycle) {
            lastCycle = cycle;
            lastCycleAt = Clock::now();
        }
        if (left < queued) {
            queued = left;
            lastProgress = cycle;
        }
        const bool stalled = cycle >= lastProgress + StallCycles && left > 0;
        if (stalled || Clock::now() - lastCycleAt > patience)
            return drainedAt != UINT64_MAX;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
