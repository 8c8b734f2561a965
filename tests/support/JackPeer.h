#pragma once

#include <jack/jack.h>
#include <jack/ringbuffer.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

// A JACK client that plays the part of a keyboard (an output port the router
// reads from), of a synth (an input port the router writes to), or of both.
class JackPeer {
public:
    // When a message left or arrived: the frame in the server's timeline,
    // and the microsecond clock when that process cycle ran.
    struct Stamp {
        jack_nframes_t frame;
        jack_time_t usecs;
    };
    struct Event {
        std::vector<uint8_t> bytes;
        Stamp at;
    };

    JackPeer(const std::string& name, bool keyboard, bool synth, const std::string& portSuffix = "");
    ~JackPeer();
    JackPeer(const JackPeer&) = delete;
    JackPeer& operator=(const JackPeer&) = delete;

    bool ok() const { return m_client != nullptr; }
    std::string keyboardPort() const;  // full name of the output port
    std::string synthPort() const;     // full name of the input port
    // The server's id of the input port; jackd gives a new port the lowest
    // id free, so a port that went may hand its id on.
    jack_uuid_t synthPortId() const { return m_in ? jack_port_uuid(m_in) : 0; }
    // Gives the keyboard's output port another short name.
    bool renameKeyboard(const std::string& portName);
    // The ports the keyboard's output is connected to.
    std::vector<std::string> keyboardConnections() const;

    // Queues one message for the next cycles; as many go per cycle as fit,
    // up to a bound that every server carries whole. Each goes at `frame`
    // within its cycle (in order: never before the one queued before it).
    void play(std::vector<uint8_t> bytes, jack_nframes_t frame = 0);
    // Connects two ports of any clients, as a patchbay would.
    bool connect(const std::string& from, const std::string& to);
    // When each played message left, in order.
    const std::vector<Stamp>& playedAt();
    // Everything received so far, in order.
    const std::vector<Event>& received();
    // Forgets everything received so far.
    void forget();

    // The peer's client goes away, as when the program behind it exits.
    void exit();

private:
    static int Process(jack_nframes_t frames, void* self);

    jack_client_t* m_client = nullptr;
    jack_port_t* m_out = nullptr;
    jack_port_t* m_in = nullptr;
    jack_ringbuffer_t* m_toPlay = nullptr;
    jack_ringbuffer_t* m_played = nullptr;
    jack_ringbuffer_t* m_heard = nullptr;
    std::vector<Event> m_received;
    std::vector<Stamp> m_playedAt;
};

// Each played or received message crosses a ring as this header followed
// by its bytes: a system exclusive message is as welcome as a note.
struct JackPeerRecord {
    uint32_t size;
    jack_nframes_t frame;
    jack_time_t usecs;
};

// Where a peer's port stands in one of the program's device lists, -1 when
// it is not there; positions depend on the server, so look them up.
int32_t PositionIn(const std::vector<std::string>& names, const std::string& port);

// A connection takes effect at a cycle boundary, so what a keyboard plays
// right after a port opens may go nowhere. Plays harmless note-offs until
// every synth has heard the latest (the path works, and nothing older is
// still on its way), then has them forget what they heard.
// `waitFor(condition, milliseconds)` waits the way the caller's main loop does.
bool PrimePath(JackPeer& keyboard, std::initializer_list<JackPeer*> synths,
               const std::function<bool(const std::function<bool()>&, int)>& waitFor);
