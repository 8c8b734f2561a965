#include "WinmmRoutingThread.h"

#include "MidiBytes.h"
#include "WinmmInputBuffers.h"

#include <algorithm>
#include <system_error>

static_assert(WinmmRoutingThread::LongReserve >= WinmmInputBuffers::Count);

WinmmRoutingThread::WinmmRoutingThread(const WinmmThreadCalls& calls, void* context)
    : m_calls(calls), m_context(context)
{
}

WinmmRoutingThread::~WinmmRoutingThread()
{
    if (!m_thread.joinable())
        return;
    m_stopping.store(true);
    m_calls.signal(m_context);
    m_thread.join();
}

bool WinmmRoutingThread::attach(unsigned input, MidiInProc callback, uintptr_t instance, WinmmInputBuffers* buffers)
{
    if (input >= Inputs || !callback)
        return false;
    if (!m_thread.joinable()) {
        try {
            m_thread = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            return false;
        }
    }
    Input& in = m_inputs[input];
    if (!in.ring)
        in.ring = std::make_unique<Entry[]>(RingEntries);
    in.callback = callback;
    in.instance = instance;
    in.buffers = buffers;
    // Whatever a detach that timed out left behind belongs to no one now.
    in.read.store(in.write.load());
    in.live.store(true);
    return true;
}

bool WinmmRoutingThread::pushShort(unsigned input, MidiHandle handle, uint32_t notification, uint32_t message,
                                   uintptr_t stamp)
{
    const uint32_t reserve = LongReserve + (EndsSound(message) ? 0 : ReleaseReserve);
    return push(input, Entry{notification, message, 0, handle, stamp}, reserve);
}

bool WinmmRoutingThread::pushLong(unsigned input, MidiHandle handle, uint32_t notification, unsigned buffer,
                                  uint32_t recorded, uintptr_t stamp)
{
    return push(input, Entry{notification, buffer, recorded, handle, stamp}, 0);
}

bool WinmmRoutingThread::push(unsigned input, const Entry& entry, uint32_t reserve)
{
    if (input >= Inputs || !m_inputs[input].live.load(std::memory_order_acquire)) {
        m_dropped.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    // One callback at a time per input: the ring has one writer.
    Input& in = m_inputs[input];
    const uint32_t write = in.write.load(std::memory_order_relaxed);
    const uint32_t read = in.read.load();
    if (write - read >= RingEntries - reserve) {
        m_dropped.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    in.ring[write % RingEntries] = entry;
    in.write.store(write + 1);
    // Looked at after the store: a thread that has not yet read up to here
    // looks at the ring again before it sleeps, and sees this entry. So only
    // an entry that found the ring empty costs a system call.
    if (in.read.load() == write)
        m_calls.signal(m_context);
    return true;
}

bool WinmmRoutingThread::detach(unsigned input)
{
    if (input >= Inputs || !m_inputs[input].live.load())
        return false;
    const bool flushed = flush();
    m_inputs[input].live.store(false);
    return waitForPass() && flushed;
}

template <typename Done>
bool WinmmRoutingThread::waitUntil(Done&& done)
{
    const auto deadline = std::chrono::steady_clock::now() + Patience;
    for (int spins = 0; !done(); ++spins) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        // A pass is short: spin a little, then let the thread have the core.
        if (spins < 100)
            std::this_thread::yield();
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool WinmmRoutingThread::waitForPass()
{
    // A pass that begins after this load reads the routing after it, too.
    const uint64_t begun = m_begun.load();
    return waitUntil([&] { return m_ended.load() >= begun; });
}

bool WinmmRoutingThread::waitForNextPass()
{
    const uint64_t begun = m_begun.load();
    m_calls.signal(m_context);
    return waitUntil([&] { return m_ended.load() > begun; });
}

bool WinmmRoutingThread::flush()
{
    uint32_t written[Inputs];
    for (unsigned input = 0; input < Inputs; ++input)
        written[input] = m_inputs[input].write.load();
    m_calls.signal(m_context);
    return waitUntil([&] {
        for (unsigned input = 0; input < Inputs; ++input) {
            const Input& in = m_inputs[input];
            if (in.live.load() && static_cast<int32_t>(in.read.load() - written[input]) < 0)
                return false;
        }
        return true;
    });
}

void WinmmRoutingThread::run()
{
    m_calls.raise(m_context);
    for (;;) {
        m_calls.wait(m_context);
        if (m_stopping.load())
            return;
        do
            pass();
        while (pending() && !m_stopping.load());
    }
}

void WinmmRoutingThread::pass()
{
    const uint64_t number = m_begun.fetch_add(1) + 1;
    if (auto* const atStart = m_atStart.load())
        atStart(0);
    for (Input& in : m_inputs) {
        if (!in.live.load(std::memory_order_acquire))
            continue;
        // A few entries an input: a stream that never pauses still lets the
        // pass end, and a handshake waits for a few sends at most.
        uint32_t read = in.read.load(std::memory_order_relaxed);
        const uint32_t end = read + std::min(in.write.load() - read, PassEntries);
        while (read != end) {
            route(in, in.ring[read % RingEntries]);
            in.read.store(++read);
        }
    }
    for (Input& in : m_inputs) {
        if (in.live.load(std::memory_order_acquire) && in.buffers)
            in.buffers->giveBack();
    }
    if (auto* const atEnd = m_atEnd.load())
        atEnd();
    m_ended.store(number);
}

bool WinmmRoutingThread::pending() const
{
    for (const Input& in : m_inputs) {
        if (in.live.load(std::memory_order_acquire) && in.read.load() != in.write.load())
            return true;
    }
    return false;
}

void WinmmRoutingThread::route(Input& in, const Entry& entry)
{
    if (entry.notification != MIM_LONGDATA && entry.notification != MIM_LONGERROR) {
        in.callback(entry.handle, entry.notification, in.instance, entry.value, entry.stamp);
        return;
    }
    if (in.buffers)
        in.buffers->received(entry.value, entry.recorded, entry.notification == MIM_LONGERROR, in.callback,
                             entry.handle, in.instance, entry.stamp);
}
