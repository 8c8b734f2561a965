#pragma once

#include "MidiDeviceService.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

class WinmmInputBuffers;

// What the routing thread needs of the system: the service maps these onto
// an auto-reset event and avrt.dll, tests onto their own.
struct WinmmThreadCalls {
    // Wakes the thread. The only call an input's callback makes: SetEvent is
    // one of the few calls winmm allows there.
    void (*signal)(void* context);
    // Returns once signalled.
    void (*wait)(void* context);
    // On the thread, once, before its first pass: asks for the system's
    // audio scheduling class where the system offers it.
    void (*raise)(void* context);
};

// Routes winmm input on a thread of the program's own. winmm allows no
// multimedia call but midiOutShortMsg and midiOutLongMsg inside an input's
// callback, so the callback only copies the message into the input's fixed
// ring and signals; this thread hands it to the engine's capture callback,
// which routes and sends. Neither waits for the main thread, which may sit
// in a notice for minutes.
//
// One pass of the thread takes a few entries from each ring, then gives back
// the long-message buffers read meanwhile: a pass is to this thread what a
// cycle is to JACK, and waitForPass() is bounded by one.
class WinmmRoutingThread {
public:
    static constexpr unsigned Inputs = 16;
    static constexpr uint32_t RingEntries = 2048;
    // Kept for long-message buffers: the driver holds no more than these,
    // and one whose entry found no room would never be given back to it.
    static constexpr uint32_t LongReserve = 8;
    // And for the ends of notes: a burst that fills the ring still lets the
    // player's note-offs and pedal releases through.
    static constexpr uint32_t ReleaseReserve = 64;
    static constexpr uint32_t PassEntries = 32;
    // How long a handshake waits for a pass: only a driver call that hangs
    // the thread makes one take longer than a moment.
    static constexpr std::chrono::seconds Patience{2};

    WinmmRoutingThread(const WinmmThreadCalls& calls, void* context);
    // Stops the thread; every input must be detached by then.
    ~WinmmRoutingThread();
    WinmmRoutingThread(const WinmmRoutingThread&) = delete;
    WinmmRoutingThread& operator=(const WinmmRoutingThread&) = delete;

    // Main thread, before the input opens (winmm may call back from inside
    // the open): where its messages go. `buffers` may be null when the input
    // takes no long messages. False when the thread cannot start.
    bool attach(unsigned input, MidiInProc callback, uintptr_t instance, WinmmInputBuffers* buffers);
    // The input's callback: a short message, or a long-message buffer the
    // driver returned (MIM_LONGDATA or MIM_LONGERROR). Copies, signals when
    // the ring was empty, and returns; false, counting a drop, when the ring
    // is full (for a short message: when only the reserves are left, or only
    // the long one for a release).
    bool pushShort(unsigned input, MidiHandle handle, uint32_t notification, uint32_t message, uintptr_t stamp);
    bool pushLong(unsigned input, MidiHandle handle, uint32_t notification, unsigned buffer, uint32_t recorded,
                  uintptr_t stamp);
    // Main thread, once the input's close has returned: routes what its ring
    // still holds, then forgets the input. False when the thread did not
    // answer in time.
    bool detach(unsigned input);

    // Main thread: returns once the pass in progress, if any, has ended;
    // whatever it read of the routing before then is no longer in use.
    bool waitForPass();
    // Main thread: returns once everything pushed before the call has been
    // routed.
    bool flush();

    // Main thread, as the engine's cycle hooks: `atStart` runs at the start
    // of each pass, before any message of it is routed, `atEnd` after the
    // last. Null for nothing.
    void setPassStart(void (*atStart)(uintptr_t time)) { m_atStart.store(atStart); }
    void setPassEnd(void (*atEnd)()) { m_atEnd.store(atEnd); }
    // Main thread: starts a pass and returns once it has ended, so that
    // `atStart` has run after the call, even while no input plays.
    bool waitForNextPass();

    uint64_t dropped() const { return m_dropped.load(std::memory_order_relaxed); }

private:
    struct Entry {
        uint32_t notification;
        uint32_t value;     // the packed short message, or the buffer's number
        uint32_t recorded;  // bytes in the buffer
        MidiHandle handle;
        uintptr_t stamp;
    };

    struct Input {
        // Written by attach before `live` goes up, read by the thread after.
        MidiInProc callback = nullptr;
        uintptr_t instance = 0;
        WinmmInputBuffers* buffers = nullptr;
        std::unique_ptr<Entry[]> ring;  // made on the first attach, kept for the run
        std::atomic<bool> live{false};
        // Free-running positions: the callback advances `write`, the thread
        // `read`. Sequentially consistent, so that a callback that finds the
        // ring not empty is sure the thread looks again before it sleeps.
        std::atomic<uint32_t> write{0};
        std::atomic<uint32_t> read{0};
    };

    bool push(unsigned input, const Entry& entry, uint32_t reserve);
    void run();
    void pass();
    bool pending() const;
    void route(Input& input, const Entry& entry);
    template <typename Done>
    bool waitUntil(Done&& done);

    const WinmmThreadCalls m_calls;
    void* const m_context;
    Input m_inputs[Inputs];
    // Passes begun and ended; a pass is in progress while they differ.
    std::atomic<uint64_t> m_begun{0};
    std::atomic<uint64_t> m_ended{0};
    std::atomic<bool> m_stopping{false};
    std::atomic<uint64_t> m_dropped{0};
    std::atomic<void (*)(uintptr_t)> m_atStart{nullptr};
    std::atomic<void (*)()> m_atEnd{nullptr};
    std::thread m_thread;
};
