#pragma once

#include "MidiDeviceService.h"

#include <chrono>
#include <memory>

// The winmm calls an output's long messages need, by header number: the
// service maps them onto the system's functions and its MIDIHDRs, tests onto
// their own.
struct WinmmOutputCalls {
    MmResult (*prepare)(void* context, unsigned header, uint8_t* bytes, uint32_t size);
    MmResult (*send)(void* context, unsigned header);
    // MIDIERR_STILLPLAYING until the driver is done with the header.
    MmResult (*unprepare)(void* context, unsigned header);
    MmResult (*reset)(void* context);
};

// A few headers, each with room for one whole system exclusive message,
// taken once: a send copies the message into a free one and returns while
// the driver plays it; the header is unprepared and reused once the driver
// is done with it.
class WinmmOutputHeaders {
public:
    static constexpr unsigned Count = 4;

    WinmmOutputHeaders(const WinmmOutputCalls& calls, void* context,
                       std::chrono::milliseconds closeWait = std::chrono::seconds(2));

    // midiOutLongMsg's answer: MIDIERR_STILLPLAYING while every header is
    // still playing.
    MmResult send(const uint8_t* bytes, uint32_t size);
    // Before the close: waits up to closeWait for what is still playing, then
    // resets the output, and unprepares every header.
    MmResult finish();

private:
    // Unprepares the headers the driver is done with; true when none plays.
    bool reclaim();

    const WinmmOutputCalls m_calls;
    void* const m_context;
    const std::chrono::milliseconds m_closeWait;
    std::unique_ptr<uint8_t[]> m_storage;
    bool m_playing[Count]{};
};
