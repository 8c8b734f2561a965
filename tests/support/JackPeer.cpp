#include "JackPeer.h"

#include "Patience.h"

#include <jack/midiport.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

constexpr size_t RingBytes = 4 << 20;
// PipeWire drops every MIDI event of a cycle that carries more than about
// 1,300 (seen at period 256), where jackd fills the buffer; so a peer plays
// no more than this many a cycle, on either server.
constexpr int MostPerCycle = 256;

}  // namespace

JackPeer::JackPeer(const std::string& name, bool keyboard, bool synth, const std::string& portSuffix)
{
    jack_status_t status;
    m_client = jack_client_open(name.c_str(), JackNoStartServer, &status);
    if (!m_client)
        return;
    m_toPlay = jack_ringbuffer_create(RingBytes);
    m_played = jack_ringbuffer_create(RingBytes);
    m_heard = jack_ringbuffer_create(RingBytes);
    if (keyboard)
        m_out = jack_port_register(m_client, ("out" + portSuffix).c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    if (synth)
        m_in = jack_port_register(m_client, ("in" + portSuffix).c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(m_client, &JackPeer::Process, this);
    if (jack_activate(m_client) != 0) {
        jack_client_close(m_client);
        m_client = nullptr;
    }
}

JackPeer::~JackPeer()
{
    exit();
    for (jack_ringbuffer_t* ring : {m_toPlay, m_played, m_heard}) {
        if (ring)
            jack_ringbuffer_free(ring);
    }
}

void JackPeer::exit()
{
    if (m_client)
        jack_client_close(m_client);
    m_client = nullptr;
}

std::string JackPeer::keyboardPort() const
{
    return m_out ? jack_port_name(m_out) : "";
}

std::string JackPeer::synthPort() const
{
    return m_in ? jack_port_name(m_in) : "";
}

bool JackPeer::renameKeyboard(const std::string& portName)
{
    return m_out && jack_port_rename(m_client, m_out, portName.c_str()) == 0;
}

std::vector<std::string> JackPeer::keyboardConnections() const
{
    std::vector<std::string> names;
    if (const char** ports = m_out ? jack_port_get_connections(m_out) : nullptr) {
        for (const char** name = ports; *name; ++name)
            names.emplace_back(*name);
        jack_free(ports);
    }
    return names;
}

bool JackPeer::connect(const std::string& from, const std::string& to)
{
    return jack_connect(m_client, from.c_str(), to.c_str()) == 0;
}

void JackPeer::play(std::vector<uint8_t> bytes, jack_nframes_t frame)
{
    const JackPeerRecord record{static_cast<uint32_t>(bytes.size()), frame, 0};
    jack_ringbuffer_write(m_toPlay, reinterpret_cast<const char*>(&record), sizeof record);
    jack_ringbuffer_write(m_toPlay, reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

namespace {

// Takes one whole record (header and bytes) from a ring, if one is there.
bool TakeRecord(jack_ringbuffer_t* ring, JackPeerRecord& record, std::vector<uint8_t>& bytes)
{
    if (jack_ringbuffer_peek(ring, reinterpret_cast<char*>(&record), sizeof record) != sizeof record ||
        jack_ringbuffer_read_space(ring) < sizeof record + record.size)
        return false;
    jack_ringbuffer_read_advance(ring, sizeof record);
    bytes.resize(record.size);
    jack_ringbuffer_read(ring, reinterpret_cast<char*>(bytes.data()), record.size);
    return true;
}

void PutRecord(jack_ringbuffer_t* ring, const JackPeerRecord& record, const uint8_t* bytes)
{
    if (jack_ringbuffer_write_space(ring) < sizeof record + record.size)
        return;
    jack_ringbuffer_write(ring, reinterpret_cast<const char*>(&record), sizeof record);
    jack_ringbuffer_write(ring, reinterpret_cast<const char*>(bytes), record.size);
}

}  // namespace

const std::vector<JackPeer::Stamp>& JackPeer::playedAt()
{
    JackPeerRecord record;
    std::vector<uint8_t> bytes;
    while (TakeRecord(m_played, record, bytes))
        m_playedAt.push_back({record.frame, record.usecs});
    return m_playedAt;
}

const std::vector<JackPeer::Event>& JackPeer::received()
{
    JackPeerRecord record;
    std::vector<uint8_t> bytes;
    while (TakeRecord(m_heard, record, bytes))
        m_received.push_back({bytes, {record.frame, record.usecs}});
    return m_received;
}

void JackPeer::forget()
{
    received();
    m_received.clear();
}

int JackPeer::Process(jack_nframes_t frames, void* self)
{
    auto* peer = static_cast<JackPeer*>(self);
    const jack_time_t now = jack_get_time();
    const jack_nframes_t cycleStart = jack_last_frame_time(peer->m_client);
    if (peer->m_out) {
        void* buffer = jack_port_get_buffer(peer->m_out, frames);
        jack_midi_clear_buffer(buffer);
        JackPeerRecord record;
        jack_nframes_t last = 0;  // JACK takes a cycle's events in time order only
        for (int written = 0; written < MostPerCycle &&
                               jack_ringbuffer_peek(peer->m_toPlay, reinterpret_cast<char*>(&record), sizeof record) ==
                                   sizeof record;
             ++written) {
            if (jack_ringbuffer_read_space(peer->m_toPlay) < sizeof record + record.size)
                break;  // its bytes are still being queued
            const jack_nframes_t at = std::max(last, std::min(record.frame, frames - 1));
            last = at;
            jack_midi_data_t* place = jack_midi_event_reserve(buffer, at, record.size);
            if (!place)
                break;
            jack_ringbuffer_read_advance(peer->m_toPlay, sizeof record);
            jack_ringbuffer_read(peer->m_toPlay, reinterpret_cast<char*>(place), record.size);
            record.frame = cycleStart + at;
            record.usecs = now;
            PutRecord(peer->m_played, record, place);
        }
    }
    if (peer->m_in) {
        void* buffer = jack_port_get_buffer(peer->m_in, frames);
        const uint32_t count = jack_midi_get_event_count(buffer);
        for (uint32_t i = 0; i < count; ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, buffer, i) != 0)
                continue;
            const JackPeerRecord record{static_cast<uint32_t>(event.size), cycleStart + event.time, now};
            PutRecord(peer->m_heard, record, event.buffer);
        }
    }
    return 0;
}

bool PrimePath(JackPeer& keyboard, std::initializer_list<JackPeer*> synths,
               const std::function<bool(const std::function<bool()>&, int)>& waitFor)
{
    for (JackPeer* synth : synths)
        synth->forget();
    // Each attempt plays a note-off of its own. A path keeps its order, so
    // once the latest one is through, no earlier one can still arrive.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(PatienceMs);
    for (uint8_t attempt = 0; std::chrono::steady_clock::now() < deadline; attempt = (attempt + 1) % 128) {
        const std::vector<uint8_t> probe{0x8F, attempt, 0};
        keyboard.play(probe);
        const bool heard = waitFor(
            [&] {
                return std::all_of(synths.begin(), synths.end(), [&](JackPeer* synth) {
                    const auto& events = synth->received();
                    return std::any_of(events.begin(), events.end(), [&](const auto& event) { return event.bytes == probe; });
                });
            },
            250);
        if (heard) {
            for (JackPeer* synth : synths)
                synth->forget();
            return true;
        }
    }
    return false;
}

int32_t PositionIn(const std::vector<std::string>& names, const std::string& port)
{
    const auto at = std::find(names.begin(), names.end(), port);
    return at == names.end() ? -1 : static_cast<int32_t>(at - names.begin());
}
