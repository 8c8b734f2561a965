// The process callback: the only code of the service that runs on JACK's
// real-time thread. It allocates nothing, takes no lock and waits for
// nothing; every loop is bounded by the ports and this cycle's events.

#include "JackServiceState.h"

#include "MidiBytes.h"

#include <jack/midiport.h>

#include <algorithm>

int JackDeviceService::Process(jack_nframes_t frames, void* self)
{
    auto* service = static_cast<JackDeviceService*>(self);
    service->m_inCycle.store(true, std::memory_order_seq_cst);
    service->m_cycleStart = jack_last_frame_time(service->m_client);
    service->m_cycleFrames = frames;
    // Outputs first: what the main thread queued goes out ahead of what the
    // inputs bring in this cycle, which the capture callbacks write.
    for (JackPort& out : service->m_outputs)
        service->beginOutput(out, frames);
    if (auto atStart = service->m_captureCycleStart.load(std::memory_order_acquire))
        atStart(service->m_cycleStart);
    service->receiveInputs(frames);
    if (auto atEnd = service->m_captureCycleEnd.load(std::memory_order_acquire))
        atEnd();
    service->endCycle();
    return 0;
}

void JackDeviceService::endCycle()
{
    for (JackPort& out : m_outputs) {
        out.cycleBuffer = nullptr;
        out.cycleLive = false;
    }
    m_cycles.fetch_add(1, std::memory_order_seq_cst);
    m_inCycle.store(false, std::memory_order_seq_cst);
    // After the flag: a waiter counted before this load is woken, one
    // counted after it sees the flag down and does not sleep.
    if (m_cycleWaiters.load(std::memory_order_seq_cst) > 0)
        sem_post(&m_cycleEnded);
}

namespace {

// What an output held back: the message's size, and how many bytes of the
// main thread's queue had been given to it by then (those go first).
struct HeldHeader {
    uint64_t after;
    uint32_t size;
    uint32_t unused;
};

// Whether this cycle of the output takes one more event of `size` bytes:
// within the events a cycle carries and within PipeWire's block.
bool Fits(const JackPort& out, uint32_t size)
{
    return out.cycleBuffer && out.cycleEvents < EventsPerCycle && out.cycleBlock + BlockCost(size) <= CycleBlockBytes;
}

void Spend(JackPort& out, uint32_t size)
{
    ++out.cycleEvents;
    out.cycleBlock += BlockCost(size);
}

}  // namespace

void JackDeviceService::beginOutput(JackPort& out, jack_nframes_t frames)
{
    jack_port_t* port = out.port.load(std::memory_order_seq_cst);
    out.cycleLive = port != nullptr;
    out.cycleBuffer = nullptr;
    if (!port)
        return;
    // PipeWire gives no buffer for a port it is removing: what waits stays
    // held, and what comes this cycle is held behind it.
    void* buffer = jack_port_get_buffer(port, frames);
    if (!buffer)
        return;
    jack_midi_clear_buffer(buffer);
    out.cycleBuffer = buffer;
    out.cycleCapacity = jack_midi_max_event_size(buffer);
    out.cycleFrame = 0;
    out.cycleEvents = 0;
    out.cycleBlock = 0;
    writeWaiting(out);
}

// What waits goes out first, at the cycle's first frame, in the order it was
// given: the messages this output held back and the main thread's queue (a
// backlog such as the releases of a cut route) merged. Stops where this
// cycle is full; the rest waits again. Bounded: each turn takes one message.
void JackDeviceService::writeWaiting(JackPort& out)
{
    for (;;) {
        HeldHeader head;
        const bool held = jack_ringbuffer_peek(out.held, reinterpret_cast<char*>(&head), sizeof head) == sizeof head;
        uint32_t packed;
        const bool queued = jack_ringbuffer_peek(out.outgoing, reinterpret_cast<char*>(&packed), sizeof packed) ==
                            sizeof packed;
        if (held && (!queued || head.after <= out.queuedTaken)) {
            if (!writeHeld(out, head.size))
                return;
        } else if (queued) {
            uint8_t bytes[3];
            const auto length = static_cast<uint32_t>(UnpackShortMessage(packed, bytes));
            if (length) {
                if (!Fits(out, length) || jack_midi_event_write(out.cycleBuffer, 0, bytes, length) != 0)
                    return;
                Spend(out, length);
            }
            jack_ringbuffer_read_advance(out.outgoing, sizeof packed);
            out.queuedTaken += sizeof packed;
        } else {
            return;
        }
    }
}

// The oldest held message, whole, at the cycle's first frame. False when it
// must wait for a later cycle. One that not even an empty cycle could carry
// would wait for ever: it is let go of and counted.
bool JackDeviceService::writeHeld(JackPort& out, uint32_t size)
{
    jack_midi_data_t* place = Fits(out, size) ? jack_midi_event_reserve(out.cycleBuffer, 0, size) : nullptr;
    if (!place && out.cycleEvents > 0)
        return false;
    jack_ringbuffer_read_advance(out.held, sizeof(HeldHeader));
    if (!place) {
        jack_ringbuffer_read_advance(out.held, size);
        m_dropped.fetch_add(1, std::memory_order_relaxed);
        return true;
    }
    jack_ringbuffer_read(out.held, reinterpret_cast<char*>(place), size);
    Spend(out, size);
    return true;
}

// Hands every event of this cycle to the capture callbacks, all inputs
// merged in time order, so that an output written from several inputs gets
// its events in the order of their frames, as JACK requires; at one frame,
// in input order.
void JackDeviceService::receiveInputs(jack_nframes_t frames)
{
    struct Source {
        JackPort* in;
        void* buffer;
        uint32_t count;
        uint32_t next;
        jack_midi_event_t event;
    };
    Source sources[PortsPerDirection];
    size_t used = 0;
    const auto readNext = [](Source& source) {
        while (source.next < source.count) {
            if (jack_midi_event_get(&source.event, source.buffer, source.next++) == 0)
                return true;
        }
        return false;
    };
    for (JackPort& in : m_inputs) {
        jack_port_t* port = in.port.load(std::memory_order_seq_cst);
        if (!port || !in.started.load(std::memory_order_acquire))
            continue;
        // As for outputs: PipeWire gives no buffer for a port it is removing.
        void* buffer = jack_port_get_buffer(port, frames);
        if (!buffer)
            continue;
        Source& source = sources[used];
        source = Source{&in, buffer, 0, 0, {}};
        source.count = jack_midi_get_event_count(buffer);
        if (readNext(source))
            ++used;
    }
    while (used > 0) {
        size_t first = 0;
        for (size_t i = 1; i < used; ++i) {
            if (sources[i].event.time < sources[first].event.time)
                first = i;
        }
        Source& source = sources[first];
        JackPort& in = *source.in;
        in.reader->deliver(source.event.buffer, source.event.size, in.callback, reinterpret_cast<MidiHandle>(&in),
                           in.instance, m_cycleStart + source.event.time);
        // The others keep their places, so that of two inputs at one frame
        // the first in input order still goes first.
        if (!readNext(source)) {
            std::move(sources + first + 1, sources + used, sources + first);
            --used;
        }
    }
}

JackPort* JackDeviceService::outputOf(MidiHandle handle)
{
    // A bounds check and an alignment check: no lookup on the message path.
    const auto* first = reinterpret_cast<const char*>(m_outputs.data());
    const auto* at = reinterpret_cast<const char*>(handle);
    if (at < first || at >= first + sizeof m_outputs || (at - first) % sizeof(JackPort) != 0)
        return nullptr;
    return reinterpret_cast<JackPort*>(handle);
}

MmResult JackDeviceService::midiOutShortMsgNow(MidiHandle handle, uint32_t message, uintptr_t time)
{
    uint8_t bytes[3];
    const size_t length = UnpackShortMessage(message, bytes);
    if (!length)
        return MMSYSERR_INVALPARAM;
    JackPort* out = outputOf(handle);
    return out ? writeNow(*out, bytes, static_cast<uint32_t>(length), time) : MMSYSERR_INVALHANDLE;
}

MmResult JackDeviceService::midiOutLongMsgNow(MidiHandle handle, const uint8_t* bytes, uint32_t size, uintptr_t time)
{
    if (!bytes || !IsWholeSystemExclusive(bytes, size))
        return MMSYSERR_INVALPARAM;
    JackPort* out = outputOf(handle);
    return out ? writeNow(*out, bytes, size, time) : MMSYSERR_INVALHANDLE;
}

// One whole message to this cycle's buffer, at the frame it arrived at (as
// a direct connection keeps it) but never before what the output already
// carries; or, where the buffer cannot take it now or anything older still
// waits, held whole for a later cycle, so that nothing is cut and nothing
// overtakes. One larger than the port can ever carry in a cycle is refused.
MmResult JackDeviceService::writeNow(JackPort& out, const uint8_t* bytes, uint32_t size, uintptr_t time)
{
    if (!out.cycleLive)
        return MMSYSERR_NODRIVER;
    if (BlockCost(size) > CycleBlockBytes || (out.cycleBuffer && size > out.cycleCapacity))
        return MMSYSERR_INVALPARAM;
    const size_t queued = jack_ringbuffer_read_space(out.outgoing);
    if (jack_ringbuffer_read_space(out.held) == 0 && queued == 0 && Fits(out, size)) {
        jack_nframes_t frame = static_cast<jack_nframes_t>(time) - m_cycleStart;
        if (frame >= m_cycleFrames)
            frame = m_cycleFrames - 1;
        if (frame < out.cycleFrame)
            frame = out.cycleFrame;
        if (jack_midi_event_write(out.cycleBuffer, frame, bytes, size) == 0) {
            out.cycleFrame = frame;
            Spend(out, size);
            return MMSYSERR_NOERROR;
        }
    }
    const HeldHeader head{out.queuedTaken + queued, size, 0};
    if (jack_ringbuffer_write_space(out.held) < sizeof head + size)
        return MMSYSERR_NOMEM;
    jack_ringbuffer_write(out.held, reinterpret_cast<const char*>(&head), sizeof head);
    jack_ringbuffer_write(out.held, reinterpret_cast<const char*>(bytes), size);
    return MMSYSERR_NOERROR;
}
