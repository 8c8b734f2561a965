#include "WinmmOutputHeaders.h"

#include "MidiBytes.h"

#include <cstring>
#include <thread>

WinmmOutputHeaders::WinmmOutputHeaders(const WinmmOutputCalls& calls, void* context,
                                       std::chrono::milliseconds closeWait)
    : m_calls(calls), m_context(context), m_closeWait(closeWait),
      m_storage(new uint8_t[Count * MaxLongMessageBytes])
{
}

MmResult WinmmOutputHeaders::send(const uint8_t* bytes, uint32_t size)
{
    if (!IsWholeSystemExclusive(bytes, size))
        return MMSYSERR_INVALPARAM;
    reclaim();
    unsigned header = 0;
    while (header < Count && m_playing[header])
        ++header;
    if (header == Count)
        return MIDIERR_STILLPLAYING;
    uint8_t* storage = m_storage.get() + header * MaxLongMessageBytes;
    memcpy(storage, bytes, size);
    MmResult result = m_calls.prepare(m_context, header, storage, size);
    if (result != MMSYSERR_NOERROR)
        return result;
    result = m_calls.send(m_context, header);
    if (result != MMSYSERR_NOERROR) {
        m_calls.unprepare(m_context, header);
        return result;
    }
    m_playing[header] = true;
    return MMSYSERR_NOERROR;
}

MmResult WinmmOutputHeaders::finish()
{
    // A long message takes about a third of a second per kilobyte on a MIDI
    // cable: wait for it a while, but a close must not hang on a stuck driver.
    const auto deadline = std::chrono::steady_clock::now() + m_closeWait;
    while (!reclaim() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (reclaim())
        return MMSYSERR_NOERROR;
    const MmResult result = m_calls.reset(m_context);
    return reclaim() ? result : MIDIERR_STILLPLAYING;
}

bool WinmmOutputHeaders::reclaim()
{
    bool idle = true;
    for (unsigned header = 0; header < Count; ++header) {
        if (m_playing[header])
            m_playing[header] = m_calls.unprepare(m_context, header) == MIDIERR_STILLPLAYING;
        idle = idle && !m_playing[header];
    }
    return idle;
}
