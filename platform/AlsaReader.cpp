// The reader thread: waits on the sequencer, hands every event that reaches
// an input to its capture callback, which routes and sends from here, and
// sends what the main thread queued. Each pass is bounded; nothing in it
// allocates, locks or waits, and the sequencer is written to once a pass,
// not once a message.

#include "AlsaServiceState.h"

#include "MidiBytes.h"

#include <algorithm>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// As a JACK client's process thread runs: above every ordinary thread, so
// that a busy desktop does not delay a message by a time slice, and below
// the sound servers' own (PipeWire's run at 88). A user whose limits allow a
// lower real-time priority gets that; one allowed none keeps the reader as
// it is. Children the program starts do not inherit it.
void RaiseToRealtime()
{
    constexpr int Wanted = 60;
    sched_param param{};
    param.sched_priority = Wanted;
    if (sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &param) == 0)
        return;
    rlimit limit{};
    if (getrlimit(RLIMIT_RTPRIO, &limit) != 0 || limit.rlim_cur == 0 || limit.rlim_cur >= Wanted)
        return;
    param.sched_priority = static_cast<int>(limit.rlim_cur);
    sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &param);
}

}  // namespace

void AlsaDeviceService::read()
{
    RaiseToRealtime();
    while (!m_stopping.load(std::memory_order_acquire)) {
        // Events already read from the kernel do not wake poll.
        const int timeout = snd_seq_event_input_pending(m_seq, 0) > 0 ? 0 : waitMillis();
        for (pollfd& poll : m_polls)
            poll.revents = 0;
        ::poll(m_polls.data(), m_polls.size(), timeout);
        pass();
    }
}

void AlsaDeviceService::pass()
{
    m_inPass.store(true, std::memory_order_seq_cst);
    if (m_polls.back().revents & POLLIN) {
        uint64_t wakeUps;
        [[maybe_unused]] const ssize_t got = ::read(m_wake, &wakeUps, sizeof wakeUps);
    }
    // What waited goes first, then what the main thread gave since.
    for (AlsaPort& out : m_outputs) {
        sendHeld(out);
        sendQueued(out);
    }
    if (auto* const atStart = m_atStart.load())
        atStart(0);
    for (int i = 0; i < EventsPerPass; ++i) {
        snd_seq_event_t* event = nullptr;
        const int result = snd_seq_event_input(m_seq, &event);
        if (result == -ENOSPC) {
            // The kernel dropped events for us: a long message may be cut.
            for (AlsaPort& in : m_inputs) {
                if (in.started.load(std::memory_order_seq_cst))
                    in.reader->abandon();
            }
            continue;
        }
        if (result < 0)
            break;
        if (event)
            take(*event);
    }
    if (auto* const atEnd = m_atEnd.load())
        atEnd();
    flush();
    m_passes.fetch_add(1, std::memory_order_seq_cst);
    m_inPass.store(false, std::memory_order_seq_cst);
    // After the count: a waiter counted before this load is woken, one
    // counted after it sees the new count and does not sleep.
    if (m_passWaiters.load(std::memory_order_seq_cst) > 0)
        m_passEnded.release();
}

// Whole messages, in the order given; one the sequencer cannot take now
// waits, with those after it, for the next pass.
void AlsaDeviceService::sendQueued(AlsaPort& out)
{
    for (int i = 0; i < EventsPerPass; ++i) {
        uint32_t size;
        if (!out.queue->peek(&size, sizeof size) || out.queue->readable() < sizeof size + size ||
            size > ScratchBytes - sizeof size)
            return;
        out.queue->peek(m_scratch.get(), sizeof size + size);
        if (send(out, m_scratch.get() + sizeof size, size) == MMSYSERR_NOMEM)
            return;
        out.queue->skip(sizeof size + size);
    }
}

void AlsaDeviceService::take(const snd_seq_event_t& event)
{
    if (event.source.client == SND_SEQ_CLIENT_SYSTEM) {
        if (event.source.port == SND_SEQ_PORT_SYSTEM_ANNOUNCE)
            hearNews(event);
        return;
    }
    AlsaPort* in = nullptr;
    for (AlsaPort& record : m_inputs) {
        if (record.own == event.dest.port)
            in = &record;
    }
    if (!in || !in->started.load(std::memory_order_seq_cst))
        return;
    const long size = snd_midi_event_decode(m_decoder, m_scratch.get(), ScratchBytes, &event);
    if (size == -ENOMEM) {
        in->reader->abandon();  // a chunk longer than any message we carry
        return;
    }
    // Events that are no MIDI message (a tempo, a client's notice) decode to nothing.
    if (size <= 0)
        return;
    in->reader->deliver(m_scratch.get(), static_cast<size_t>(size), in->callback, reinterpret_cast<MidiHandle>(in),
                        in->instance, 0);
}

// Only passed on: the main thread reads the lists again in update().
void AlsaDeviceService::hearNews(const snd_seq_event_t& event)
{
    switch (event.type) {
    case SND_SEQ_EVENT_PORT_START: {
        const size_t bit = size_t{event.data.addr.client} * 256 + event.data.addr.port;
        if (bit < AddressBits)
            m_created[bit / 64].fetch_or(uint64_t{1} << (bit % 64), std::memory_order_acq_rel);
        [[fallthrough]];
    }
    case SND_SEQ_EVENT_PORT_EXIT:
    case SND_SEQ_EVENT_PORT_CHANGE:
    case SND_SEQ_EVENT_CLIENT_EXIT:
    case SND_SEQ_EVENT_CLIENT_CHANGE:
        m_portsChanged.store(true, std::memory_order_release);
        notify();
        break;
    default:
        break;
    }
}

AlsaPort* AlsaDeviceService::outputOf(MidiHandle handle)
{
    // A bounds check and an alignment check: no lookup on the message path.
    const auto* first = reinterpret_cast<const char*>(m_outputs.data());
    const auto* at = reinterpret_cast<const char*>(handle);
    if (at < first || at >= first + sizeof m_outputs || (at - first) % sizeof(AlsaPort) != 0)
        return nullptr;
    return reinterpret_cast<AlsaPort*>(handle);
}

MmResult AlsaDeviceService::midiOutShortMsgNow(MidiHandle handle, uint32_t message, uintptr_t)
{
    uint8_t bytes[3];
    const size_t length = UnpackShortMessage(message, bytes);
    if (!length)
        return MMSYSERR_INVALPARAM;
    AlsaPort* out = outputOf(handle);
    return out ? send(*out, bytes, static_cast<uint32_t>(length)) : MMSYSERR_INVALHANDLE;
}

MmResult AlsaDeviceService::midiOutLongMsgNow(MidiHandle handle, const uint8_t* bytes, uint32_t size, uintptr_t)
{
    if (!bytes || !IsWholeSystemExclusive(bytes, size))
        return MMSYSERR_INVALPARAM;
    AlsaPort* out = outputOf(handle);
    return out ? send(*out, bytes, size) : MMSYSERR_INVALHANDLE;
}

// Sends at once what may leave now; the rest waits, whole and in order,
// behind what already waits.
MmResult AlsaDeviceService::send(AlsaPort& out, const uint8_t* bytes, uint32_t size)
{
    const bool exclusive = bytes[0] == 0xF0;
    if (out.held->readable() == 0 && (!exclusive || out.credit >= size)) {
        const MmResult result = write(out, bytes, size);
        if (result == MMSYSERR_NOERROR && exclusive)
            out.credit -= size;
        if (result != MMSYSERR_NOMEM)
            return result;
    }
    return hold(out, bytes, size);
}

MmResult AlsaDeviceService::hold(AlsaPort& out, const uint8_t* bytes, uint32_t size)
{
    if (out.held->writable() < sizeof size + size)
        return MMSYSERR_NOMEM;
    out.held->write(&size, sizeof size);
    out.held->write(bytes, size);
    return MMSYSERR_NOERROR;
}

// Whole messages while the output may take them: system exclusive a chunk
// at a time as the cable's pace allows.
void AlsaDeviceService::sendHeld(AlsaPort& out)
{
    const Clock::time_point now = Clock::now();
    out.credit = std::min(BurstBytes, out.credit + std::chrono::duration<double>(now - out.creditAt).count() *
                                                       WireBytesPerSecond);
    out.creditAt = now;
    uint32_t size;
    for (int i = 0; i < EventsPerPass && out.held->peek(&size, sizeof size); ++i) {
        uint8_t* bytes = m_scratch.get();
        if (size > ScratchBytes || !out.held->peek(bytes, size, sizeof size))
            return;
        if (bytes[0] != 0xF0) {
            if (write(out, bytes, size) != MMSYSERR_NOERROR)
                return;
        }
        while (bytes[0] == 0xF0 && out.heldSent < size) {
            const uint32_t chunk = std::min<uint32_t>(ChunkBytes, size - out.heldSent);
            if (out.credit < chunk || !writeChunk(out, bytes + out.heldSent, chunk))
                return;
            out.heldSent += chunk;
            out.credit -= chunk;
        }
        out.held->skip(sizeof size + size);
        out.heldSent = 0;
    }
}

// How long the reader may sleep: for ever, unless system exclusive waits
// for its pace.
int AlsaDeviceService::waitMillis() const
{
    for (const AlsaPort& out : m_outputs) {
        if (out.held->readable() > 0)
            return PaceMillis;
    }
    return -1;
}

// One whole message into the sequencer's output buffer, cut into events by
// the encoder, all of it or nothing: where the buffer lacks room even after
// it was handed to the kernel, the message is refused whole.
MmResult AlsaDeviceService::write(AlsaPort& out, const uint8_t* bytes, uint32_t size)
{
    const size_t room = size + (size / ChunkBytes + 1) * (sizeof(snd_seq_event_t) + 8);
    const auto free = [this] {
        return snd_seq_get_output_buffer_size(m_seq) - static_cast<size_t>(snd_seq_event_output_pending(m_seq));
    };
    if (free() <= room) {
        flush();
        if (free() <= room)
            return MMSYSERR_NOMEM;
    }
    snd_midi_event_reset_encode(m_encoder);
    long left = size;
    while (left > 0) {
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        const long used = snd_midi_event_encode(m_encoder, bytes, left, &event);
        if (used <= 0)
            return MMSYSERR_INVALPARAM;
        bytes += used;
        left -= used;
        if (event.type == SND_SEQ_EVENT_NONE)
            continue;
        snd_seq_ev_set_source(&event, static_cast<unsigned char>(out.own));
        snd_seq_ev_set_subs(&event);
        snd_seq_ev_set_direct(&event);
        if (snd_seq_event_output_buffer(m_seq, &event) < 0)
            return MMSYSERR_NOMEM;
    }
    return MMSYSERR_NOERROR;
}

// A piece of system exclusive, as the sequencer carries long messages.
bool AlsaDeviceService::writeChunk(AlsaPort& out, const uint8_t* bytes, uint32_t size)
{
    snd_seq_event_t event;
    snd_seq_ev_clear(&event);
    snd_seq_ev_set_sysex(&event, size, const_cast<uint8_t*>(bytes));
    snd_seq_ev_set_source(&event, static_cast<unsigned char>(out.own));
    snd_seq_ev_set_subs(&event);
    snd_seq_ev_set_direct(&event);
    if (snd_seq_event_output_buffer(m_seq, &event) >= 0)
        return true;
    flush();
    return snd_seq_event_output_buffer(m_seq, &event) >= 0;
}

// Hands what was sent to the kernel, which delivers it at once. An event it
// refuses went to every subscriber that could take it: one that could not (a
// client that no longer reads, a full MIDI port) loses it, as the sequencer
// has it, and the rest goes on. Sending it again would repeat it to the
// others, and waiting for it would stop every output behind one stuck client.
void AlsaDeviceService::flush()
{
    while (snd_seq_drain_output(m_seq) != 0) {
        if (snd_seq_extract_output(m_seq, nullptr) < 0)
            return;
        m_refused.fetch_add(1, std::memory_order_relaxed);
    }
}
