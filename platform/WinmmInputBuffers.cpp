#include "WinmmInputBuffers.h"

#include <algorithm>

WinmmInputBuffers::WinmmInputBuffers(const WinmmInputCalls& calls, void* context)
    : m_calls(calls), m_context(context), m_storage(new uint8_t[Count * BufferBytes])
{
}

MmResult WinmmInputBuffers::queue()
{
    std::lock_guard lock(m_mutex);
    // No callback runs before the start: the last close has returned.
    m_reader.abandon();
    for (unsigned buffer = 0; buffer < Count; ++buffer) {
        m_read[buffer].store(false, std::memory_order_relaxed);
        MmResult result = m_calls.prepare(m_context, buffer, m_storage.get() + buffer * BufferBytes, BufferBytes);
        if (result == MMSYSERR_NOERROR)
            result = m_calls.add(m_context, buffer);
        if (result != MMSYSERR_NOERROR)
            return result;
    }
    m_queued.store(true, std::memory_order_release);
    return MMSYSERR_NOERROR;
}

void WinmmInputBuffers::received(unsigned buffer, uint32_t recorded, bool error, MidiInProc callback,
                                 MidiHandle handle, uintptr_t instance, uintptr_t stamp)
{
    if (buffer >= Count)
        return;
    if (error)
        m_reader.abandon();
    else
        m_reader.deliver(m_storage.get() + buffer * BufferBytes, std::min(recorded, BufferBytes), callback, handle,
                         instance, stamp);
    if (!m_queued.load(std::memory_order_acquire))
        return;
    m_read[buffer].store(true, std::memory_order_release);
    m_calls.wake(m_context);
}

void WinmmInputBuffers::giveBack()
{
    // queue() marks every buffer fresh and withdraw() takes them all back.
    std::unique_lock lock(m_mutex, std::try_to_lock);
    if (!lock.owns_lock())
        return;
    if (!m_queued.load(std::memory_order_relaxed))
        return;
    for (unsigned buffer = 0; buffer < Count; ++buffer) {
        if (m_read[buffer].exchange(false, std::memory_order_acq_rel))
            m_calls.add(m_context, buffer);
    }
}

MmResult WinmmInputBuffers::withdraw()
{
    std::lock_guard lock(m_mutex);
    m_queued.store(false, std::memory_order_release);
    MmResult result = m_calls.reset(m_context);
    for (unsigned buffer = 0; buffer < Count; ++buffer) {
        const MmResult unprepared = m_calls.unprepare(m_context, buffer);
        if (result == MMSYSERR_NOERROR)
            result = unprepared;
    }
    return result;
}
