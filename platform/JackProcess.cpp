// The process callback: the only code of the service that runs on JACK's
// real-time thread. It allocates nothing, takes no lock and waits for
// nothing; every loop is bounded by the ports and this cycle's events.

#include "JackServiceState.h"

#include "MidiBytes.h"

#include <jack/midiport.h>

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
    service->receiveInputs(frames);
    for (JackPort& out : service->m_outputs)
        out.cycleBuffer = nullptr;
    service->m_cycles.fetch_add(1, std::memory_order_seq_cst);
    service->m_inCycle.store(false, std::memory_order_seq_cst);
    return 0;
}

namespace {

// What an output held back: the message's size, and how many bytes of the
// main thread's queue had been given to it by then (those go first).
struct HeldHeader {
    uint64_t after;
    uint32_t size;
    uint32_t unused;
};

}  // namespace

void JackDeviceService::beginOutput(JackPort& out, jack_nframes_t frames)
{
    jack_port_t* port = out.port.load(std::memory_order_seq_cst);
    out.cycleBuffer = nullptr;
    if (!port)
        return;
    void* buffer = jack_port_get_buffer(port, frames);
    jack_midi_clear_buffer(buffer);
    out.cycleBuffer = buffer;
    out.cycleCapacity = jack_midi_max_event_size(buffer);
    out.cycleFrame = 0;
    out.cycleEvents = 0;
    writeWaiting(out);
}

// What waits goes out first, at the cycle's first frame, in the order it was
// given: the messages this output held back and the main thread's queue (a
// backlog such as the releases of a cut route) merged. Stops where this
// cycle's buffer or its share of events is full; the rest waits again.
void JackDeviceService::writeWaiting(JackPort& out)
{
    while (out.cycleEvents < EventsPerCycle) {
        HeldHeader head;
        const bool held = jack_ringbuffer_peek(out.held, reinterpret_cast<char*>(&head), sizeof head) == sizeof head;
        uint32_t packed;
        const bool queued = jack_ringbuffer_peek(out.outgoing, reinterpret_cast<char*>(&packed), sizeof packed) ==
                            sizeof packed;
        if (held && (!queued || head.after <= out.queuedTaken)) {
            jack_midi_data_t* place = jack_midi_event_reserve(out.cycleBuffer, 0, head.size);
            // One that could not fit even an empty buffer would wait for ever.
            if (!place && out.cycleEvents > 0)
                return;
            jack_ringbuffer_read_advance(out.held, sizeof head);
            if (place)
                jack_ringbuffer_read(out.held, reinterpret_cast<char*>(place), head.size);
            else
                jack_ringbuffer_read_advance(out.held, head.size);
        } else if (queued) {
            uint8_t bytes[3];
            const size_t length = UnpackShortMessage(packed, bytes);
            if (length && jack_midi_event_write(out.cycleBuffer, 0, bytes, length) != 0)
                return;
            jack_ringbuffer_read_advance(out.outgoing, sizeof packed);
            out.queuedTaken += sizeof packed;
        } else {
            return;
        }
        ++out.cycleEvents;
    }
}

// Hands every event of this cycle to the capture callbacks, all inputs
// merged in time order, so that an output written from several inputs gets
// its events in the order of their frames, as JACK requires.
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
        Source& source = sources[used];
        source = Source{&in, jack_port_get_buffer(port, frames), 0, 0, {}};
        source.count = jack_midi_get_event_count(source.buffer);
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
        if (!readNext(source))
            source = sources[--used];
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
    if (!out.cycleBuffer)
        return MMSYSERR_NODRIVER;
    if (size > out.cycleCapacity)
        return MMSYSERR_INVALPARAM;
    const size_t queued = jack_ringbuffer_read_space(out.outgoing);
    if (jack_ringbuffer_read_space(out.held) == 0 && queued == 0 && out.cycleEvents < EventsPerCycle) {
        jack_nframes_t frame = static_cast<jack_nframes_t>(time) - m_cycleStart;
        if (frame >= m_cycleFrames)
            frame = m_cycleFrames - 1;
        if (frame < out.cycleFrame)
            frame = out.cycleFrame;
        if (jack_midi_event_write(out.cycleBuffer, frame, bytes, size) == 0) {
            out.cycleFrame = frame;
            ++out.cycleEvents;
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
