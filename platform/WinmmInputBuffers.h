#pragma once

#include "MidiDeviceService.h"
#include "MidiInputReader.h"

#include <atomic>
#include <memory>
#include <mutex>

// The winmm calls an input's long buffers need, by buffer number: the
// service maps them onto the system's functions and its MIDIHDRs, tests onto
// their own.
struct WinmmInputCalls {
    MmResult (*prepare)(void* context, unsigned buffer, uint8_t* bytes, uint32_t size);
    MmResult (*add)(void* context, unsigned buffer);
    MmResult (*unprepare)(void* context, unsigned buffer);
    MmResult (*reset)(void* context);
    // Asks for giveBack() soon, from received(); it only signals (SetEvent).
    void (*wake)(void* context);
};

// The buffers winmm fills with one input's system exclusive bytes, and the
// reader that puts a message spanning several of them back together.
// winmm allows no call but midiOutShortMsg and midiOutLongMsg inside an
// input's callback, so a buffer is read and given back to the driver on
// the routing thread, never in the callback.
class WinmmInputBuffers {
public:
    static constexpr unsigned Count = 8;
    static constexpr uint32_t BufferBytes = 4096;

    WinmmInputBuffers(const WinmmInputCalls& calls, void* context);

    // Main thread, before the input starts: prepares and queues every buffer.
    MmResult queue();
    // The routing thread, for MIM_LONGDATA and (error) MIM_LONGERROR in
    // order with the input's short messages: hands the whole messages read
    // so far to `callback` and marks the buffer to be given back.
    void received(unsigned buffer, uint32_t recorded, bool error, MidiInProc callback, MidiHandle handle,
                  uintptr_t instance, uintptr_t stamp);
    // Any thread but the callback's: queues again every buffer read since.
    // Never waits: while queue() or withdraw() runs, they decide the fate of
    // every buffer and this does nothing.
    void giveBack();
    // Main thread, before the close: takes every buffer back from the driver.
    MmResult withdraw();

    const MidiInputReader& reader() const { return m_reader; }

private:
    const WinmmInputCalls m_calls;
    void* const m_context;
    std::unique_ptr<uint8_t[]> m_storage;
    MidiInputReader m_reader;  // the routing thread's only, but between a close and the next start
    std::atomic<bool> m_read[Count]{};
    // Cleared before the reset of a close: the buffers the driver then
    // returns, empty, must not go back (re-adding them can hang the driver).
    std::atomic<bool> m_queued{false};
    std::mutex m_mutex;  // giveBack against queue and withdraw; never waited for on the routing thread
};
