// Our ports opened on a device of the lists, closed once what they queued
// has left, and the main thread's sends to them.

#include "AlsaServiceState.h"

#include "MidiBytes.h"

#include <unistd.h>
#include <utility>

namespace {

// How long a close waits for the sequencer to take what the port queued.
constexpr auto LetOutPatience = std::chrono::seconds(1);

}  // namespace

MmResult AlsaDeviceService::midiInOpen(MidiHandle* slot, uint32_t device, MidiInProc callback, uintptr_t instance,
                                       uint32_t flags)
{
    if (!slot || !callback || flags != CALLBACK_FUNCTION)
        return MMSYSERR_INVALPARAM;
    return open(slot, true, device, callback, instance);
}

MmResult AlsaDeviceService::midiOutOpen(MidiHandle* slot, uint32_t device, uintptr_t callback, uintptr_t,
                                        uint32_t flags)
{
    if (!slot || callback != 0 || flags != CALLBACK_NULL)
        return MMSYSERR_INVALPARAM;
    return open(slot, false, device, nullptr, 0);
}

// A port opens on a device that is listed, present or not: an absent one is
// linked the moment it appears.
MmResult AlsaDeviceService::open(MidiHandle* slot, bool input, uint32_t device, MidiInProc callback,
                                 uintptr_t instance)
{
    Ports& ports = input ? m_inputs : m_outputs;
    const DeviceList& devices = list(input);
    const int hint = std::exchange(input ? m_nextInput : m_nextOutput, 0);
    if (device >= devices.names.size())
        return MMSYSERR_BADDEVICEID;
    // One device on two of our ports would hear (or play) everything twice.
    for (const AlsaPort& record : ports) {
        if (record.inUse && record.device == device)
            return MMSYSERR_ALLOCATED;
    }
    AlsaPort* record = nullptr;
    if (hint >= 1 && hint <= static_cast<int>(ports.size()) && !ports[hint - 1].inUse)
        record = &ports[hint - 1];
    for (size_t i = 0; !record && i < ports.size(); ++i) {
        if (!ports[i].inUse)
            record = &ports[i];
    }
    if (!record)
        return MMSYSERR_NOMEM;

    // Stopped, so the reader does not touch it.
    if (record->reader)
        record->reader->abandon();  // what an earlier device left half read
    record->callback = callback;
    record->instance = instance;
    record->peer = devices.names[device];
    record->device = device;
    record->connected = false;
    if (devices.present(device))
        link(*record, input);
    record->inUse = true;
    *slot = reinterpret_cast<MidiHandle>(record);
    return MMSYSERR_NOERROR;
}

AlsaPort* AlsaDeviceService::find(MidiHandle handle, Ports& ports)
{
    for (AlsaPort& record : ports) {
        if (reinterpret_cast<MidiHandle>(&record) == handle)
            return record.inUse ? &record : nullptr;
    }
    return nullptr;
}

MmResult AlsaDeviceService::midiInStart(MidiHandle handle)
{
    AlsaPort* in = find(handle, m_inputs);
    if (!in)
        return MMSYSERR_INVALHANDLE;
    in->started.store(true, std::memory_order_seq_cst);
    return MMSYSERR_NOERROR;
}

MmResult AlsaDeviceService::midiInClose(MidiHandle handle)
{
    AlsaPort* in = find(handle, m_inputs);
    return in ? close(*in, true) : MMSYSERR_INVALHANDLE;
}

MmResult AlsaDeviceService::midiOutClose(MidiHandle handle)
{
    AlsaPort* out = find(handle, m_outputs);
    return out ? close(*out, false) : MMSYSERR_INVALHANDLE;
}

MmResult AlsaDeviceService::close(AlsaPort& record, bool input)
{
    // Nothing left the queue for a while: the port stays open with it, and
    // a later close can try again.
    if (!input && !letQueueOut(record))
        return MIDIERR_STILLPLAYING;
    record.started.store(false, std::memory_order_seq_cst);
    // After this wait the reader is not in this record and will not enter it
    // again, so no callback runs once the close has returned.
    waitForPass();
    unlink(record, input);
    record.callback = nullptr;
    record.peer.clear();
    record.inUse = false;
    return MMSYSERR_NOERROR;
}

MmResult AlsaDeviceService::midiOutShortMsg(MidiHandle handle, uint32_t message)
{
    uint8_t bytes[3];
    const size_t length = UnpackShortMessage(message, bytes);
    if (!find(handle, m_outputs))
        return MMSYSERR_INVALHANDLE;
    if (length == 0)
        return MMSYSERR_INVALPARAM;
    return queue(handle, bytes, static_cast<uint32_t>(length));
}

MmResult AlsaDeviceService::midiOutLongMsg(MidiHandle handle, const uint8_t* bytes, uint32_t size)
{
    if (!find(handle, m_outputs))
        return MMSYSERR_INVALHANDLE;
    if (!bytes || !IsWholeSystemExclusive(bytes, size))
        return MMSYSERR_INVALPARAM;
    return queue(handle, bytes, size);
}

// For the reader to send, in order with what the port sent before; no lock,
// no allocation, one wake-up.
MmResult AlsaDeviceService::queue(MidiHandle handle, const uint8_t* bytes, uint32_t size)
{
    ByteRing& queue = *reinterpret_cast<AlsaPort*>(handle)->queue;
    if (queue.writable() < sizeof size + size)
        return MMSYSERR_NOMEM;
    queue.write(&size, sizeof size);
    queue.write(bytes, size);
    wakeReader();
    return MMSYSERR_NOERROR;
}

// Every message a send accepted goes out before the port goes: the note-offs
// sent just before a close above all. Waits as long as what waits shrinks,
// however long (system exclusive leaves at a cable's pace); false when
// nothing leaves for a while.
bool AlsaDeviceService::letQueueOut(AlsaPort& out)
{
    const auto waiting = [&] { return out.queue->readable() + out.held->readable(); };
    size_t left = waiting();
    auto deadline = Clock::now() + LetOutPatience;
    while (true) {
        // The pass that took the last of it hands it to the kernel before it
        // ends.
        if (waiting() == 0) {
            waitForPass();
            if (waiting() == 0)
                return true;
        }
        if (const size_t now = waiting(); now < left) {
            left = now;
            deadline = Clock::now() + LetOutPatience;
        }
        if (Clock::now() > deadline)
            return false;
        wakeReader();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

template <typename Done>
void AlsaDeviceService::waitForPasses(Done done, bool wake)
{
    const auto deadline = Clock::now() + std::chrono::seconds(1);
    m_passWaiters.fetch_add(1, std::memory_order_seq_cst);
    while (!done()) {
        if (wake)
            wakeReader();
        if (!m_passEnded.try_acquire_until(deadline))
            break;
    }
    m_passWaiters.fetch_sub(1, std::memory_order_seq_cst);
}

// A pass that was running has ended once the flag is down or the count has
// moved. The reader never blocks inside a pass.
void AlsaDeviceService::waitForPass()
{
    const uint64_t passes = m_passes.load(std::memory_order_seq_cst);
    waitForPasses(
        [&] {
            return !m_inPass.load(std::memory_order_seq_cst) || m_passes.load(std::memory_order_seq_cst) != passes;
        },
        false);
}

// A pass that begins after the call: one already under way when it was
// made may have run its start before the caller's wish.
void AlsaDeviceService::waitForCycle()
{
    const bool inPass = m_inPass.load(std::memory_order_seq_cst);
    const uint64_t target = m_passes.load(std::memory_order_seq_cst) + (inPass ? 2 : 1);
    waitForPasses([&] { return m_passes.load(std::memory_order_seq_cst) >= target; }, true);
}

void AlsaDeviceService::wakeReader()
{
    const uint64_t one = 1;
    // A full counter already wakes the reader.
    [[maybe_unused]] const ssize_t written = ::write(m_wake, &one, sizeof one);
}
