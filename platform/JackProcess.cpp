#include "JackServiceState.h"

#include "MidiBytes.h"

#include <jack/midiport.h>

int JackDeviceService::Process(jack_nframes_t frames, void* self)
{
    auto* service = static_cast<JackDeviceService*>(self);
    for (JackPort& in : service->m_inputs)
        service->receive(in, frames);
    for (JackPort& out : service->m_outputs)
        service->transmit(out, frames);
    service->m_cycles.fetch_add(1, std::memory_order_release);
    return 0;
}

void JackDeviceService::receive(JackPort& in, jack_nframes_t frames)
{
    // busy before port, both sequentially consistent, pairs with the close's
    // port-then-busy: either this sees no port or the close sees busy.
    in.busy.store(true, std::memory_order_seq_cst);
    jack_port_t* port = in.port.load(std::memory_order_seq_cst);
    if (port && in.started.load(std::memory_order_acquire)) {
        void* buffer = jack_port_get_buffer(port, frames);
        const jack_nframes_t stamp = jack_last_frame_time(m_client);
        const uint32_t count = jack_midi_get_event_count(buffer);
        for (uint32_t i = 0; i < count; ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, buffer, i) != 0)
                continue;
            ReadShortMessages(event.buffer, event.size, [&](uint32_t packed) {
                in.callback(reinterpret_cast<MidiHandle>(&in), MIM_DATA, in.instance, packed, stamp + event.time);
            });
        }
    }
    in.busy.store(false, std::memory_order_release);
}

void JackDeviceService::transmit(JackPort& out, jack_nframes_t frames)
{
    out.busy.store(true, std::memory_order_seq_cst);
    if (jack_port_t* port = out.port.load(std::memory_order_seq_cst)) {
        void* buffer = jack_port_get_buffer(port, frames);
        jack_midi_clear_buffer(buffer);
        uint32_t packed;
        // At most one event a frame: PipeWire drops every event of a cycle
        // that carries too many, so a backlog goes out over several cycles.
        for (jack_nframes_t written = 0; written < frames && jack_ringbuffer_read_space(out.outgoing) >= sizeof packed;
             ++written) {
            jack_ringbuffer_peek(out.outgoing, reinterpret_cast<char*>(&packed), sizeof packed);
            uint8_t bytes[3];
            const size_t length = UnpackShortMessage(packed, bytes);
            // All at the cycle's first frame, in order; what does not fit
            // this cycle's buffer waits for the next one.
            if (length && jack_midi_event_write(buffer, 0, bytes, length) != 0)
                break;
            jack_ringbuffer_read_advance(out.outgoing, sizeof packed);
        }
    }
    out.busy.store(false, std::memory_order_release);
}

// Every message a send accepted goes out before the port goes: the note-offs
// sent just before a close above all. Bounded by a few periods, and not
// waited for at all when no cycle will come.
void JackDeviceService::letQueueOut(JackPort& out)
{
    if (!m_client || gone() || !out.port.load(std::memory_order_relaxed))
        return;
    const double period = double(jack_get_buffer_size(m_client)) / std::max(1u, jack_get_sample_rate(m_client));
    const auto limit = std::chrono::duration<double>(std::min(0.5, 4 * period + 0.02));
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(limit);
    while (jack_ringbuffer_read_space(out.outgoing) > 0 && Clock::now() < deadline && !gone())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // The cycle that wrote the last of it has ended once the next one has.
    const uint64_t cycle = m_cycles.load(std::memory_order_acquire);
    while (m_cycles.load(std::memory_order_acquire) < cycle + 2 && Clock::now() < deadline && !gone())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

MmResult JackDeviceService::midiOutShortMsg(MidiHandle handle, uint32_t message)
{
    // On the message path: a bounds check, a validity check and a lock-free
    // ring write, nothing that allocates or waits.
    const auto* first = reinterpret_cast<const char*>(m_outputs.data());
    const auto* at = reinterpret_cast<const char*>(handle);
    if (at < first || at >= first + sizeof m_outputs || (at - first) % sizeof(JackPort) != 0)
        return MMSYSERR_INVALHANDLE;
    JackPort& out = *reinterpret_cast<JackPort*>(handle);
    if (!out.inUse)
        return MMSYSERR_INVALHANDLE;
    if (gone() || !out.port.load(std::memory_order_relaxed))
        return MMSYSERR_NODRIVER;
    if (ShortMessageDataBytes(static_cast<uint8_t>(message)) < 0)
        return MMSYSERR_INVALPARAM;
    if (jack_ringbuffer_write_space(out.outgoing) < sizeof message)
        return MMSYSERR_NOMEM;
    jack_ringbuffer_write(out.outgoing, reinterpret_cast<const char*>(&message), sizeof message);
    return MMSYSERR_NOERROR;
}
