#pragma once

#include "MidiListener.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

// A raw MIDI device file of a virtual raw MIDI device (/dev/snd/midiC0Dn):
// bytes written to it come out of the device's sequencer client as events,
// and events sent to that client can be read from it as bytes. A thread of
// its own reads, so a long dump never overflows the kernel's small buffer.
// A Windows program under wine reaches the same file as Z:\dev\snd\midiC0Dn.
class RawMidiFile final : public MidiListener {
public:
    explicit RawMidiFile(int device);
    ~RawMidiFile();
    RawMidiFile(const RawMidiFile&) = delete;
    RawMidiFile& operator=(const RawMidiFile&) = delete;

    bool opened() const { return m_file != -1; }
    bool write(const Bytes& bytes);
    std::vector<Bytes> messages() override
    {
        std::lock_guard lock(m_lock);
        return SplitMessages(m_received);
    }
    void forget() override
    {
        std::lock_guard lock(m_lock);
        m_received.clear();
    }

private:
    void read();

    intptr_t m_file = -1;  // a descriptor, or a HANDLE on Windows
    std::mutex m_lock;
    Bytes m_received;
    std::atomic<bool> m_stop{false};
    std::thread m_reader;
};
