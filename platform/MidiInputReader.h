#pragma once

#include "MidiDeviceService.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

// Reads one input's bytes, event after event (or buffer after buffer), the
// way a MIDI receiver reads its cable. Short messages come out packed as
// ReadShortMessages gives them: running status and an unfinished message end
// with the event, real-time bytes go at once even inside another message.
// System exclusive is put together across events in storage taken once, here,
// and comes out whole (F0 ... F7); one cut short by a status byte (not
// real-time) or longer than the storage is dropped whole and counted.
// Not thread-safe: one thread reads; the counters may be read from any.
class MidiInputReader {
public:
    explicit MidiInputReader(uint32_t capacity = MaxLongMessageBytes);

    // Reads one event's bytes: onShort(uint32_t packed) for each short
    // message, onLong(const MidiLongMessage&) for each whole system
    // exclusive message, whose bytes are valid only during the call.
    template <typename OnShort, typename OnLong>
    void read(const uint8_t* bytes, size_t size, OnShort&& onShort, OnLong&& onLong)
    {
        for (size_t i = 0; i < size; ++i) {
            uint32_t packed;
            switch (take(bytes[i], packed)) {
            case Took::Short:
                onShort(packed);
                break;
            case Took::Long:
                onLong(MidiLongMessage{m_long.get(), m_longSize});
                break;
            case Took::Nothing:
                break;
            }
        }
        endEvent();
    }

    // Reads one event's bytes and hands what they hold to an input's
    // callback: MIM_DATA with each short message, MIM_LONGDATA with each
    // whole system exclusive message.
    void deliver(const uint8_t* bytes, size_t size, MidiInProc callback, MidiHandle handle, uintptr_t instance,
                 uintptr_t stamp);

    // Drops whatever message is being read (a system exclusive one counts
    // as cut short): the input stopped, or its driver reported bad data.
    void abandon();

    uint32_t tooLong() const { return m_tooLong.load(std::memory_order_relaxed); }
    uint32_t cutShort() const { return m_cutShort.load(std::memory_order_relaxed); }

private:
    enum class Took { Nothing, Short, Long };
    enum class Sysex { None, Open, Overflowing };

    Took take(uint8_t byte, uint32_t& packed);
    Took takeStatus(uint8_t byte, uint32_t& packed);
    Took takeData(uint8_t byte, uint32_t& packed);
    void endEvent();

    const uint32_t m_capacity;
    std::unique_ptr<uint8_t[]> m_long;
    uint32_t m_longSize = 0;
    Sysex m_sysex = Sysex::None;

    uint8_t m_running = 0;  // running status, 0 when none
    uint8_t m_status = 0;   // status of the short message being read, 0 when none
    uint32_t m_packed = 0;
    int m_have = 0;
    int m_need = 0;

    std::atomic<uint32_t> m_tooLong{0};
    std::atomic<uint32_t> m_cutShort{0};
};
