#pragma once

#include "MidiListener.h"

#include <string>

struct _snd_seq;
struct snd_midi_event;

// A device that a program plugs into the sequencer: a client of its own
// with one port, "port", that others may read from and write to. Clients
// get the lowest free number, so one that comes back after another took
// its place gets a new number.
class SequencerPeer final : public MidiListener {
public:
    explicit SequencerPeer(const std::string& name);
    ~SequencerPeer();
    SequencerPeer(const SequencerPeer&) = delete;
    SequencerPeer& operator=(const SequencerPeer&) = delete;

    int client() const { return m_client; }
    // Subscribes the port to another's ("client:port", names or numbers).
    bool listenTo(const char* address);
    // Takes what has arrived since the last call; call from one thread.
    std::vector<Bytes> messages() override;
    void forget() override;

private:
    _snd_seq* m_seq = nullptr;
    snd_midi_event* m_decoder = nullptr;
    int m_client = -1;
    std::vector<Bytes> m_received;
};
