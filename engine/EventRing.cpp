#include "EventRing.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

TEventRing EventRing{};

namespace {

inline uint32_t NextSlot(uint32_t pos)
{
    return (pos + 1) % EventRingSlots;
}

inline void CpuRelax()
{
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#endif
}

}  // namespace

bool PushEvent(uint32_t entry, bool release)
{
    while (EventRing.PushLock.test_and_set(std::memory_order_acquire))
        CpuRelax();
    const uint32_t write = EventRing.WritePos.load(std::memory_order_relaxed);
    const uint32_t read = EventRing.ReadPos.load(std::memory_order_acquire);
    const uint32_t free = (read + EventRingSlots - write - 1) % EventRingSlots;
    const bool stored = free > (release ? 0 : ReleaseReserve);
    if (stored) {
        EventRing.Slots[write] = entry;
        EventRing.WritePos.store(NextSlot(write), std::memory_order_release);
    } else {
        EventRing.Dropped.fetch_add(1, std::memory_order_relaxed);
    }
    EventRing.PushLock.clear(std::memory_order_release);
    return stored;
}

bool PopEvent(uint32_t& entry)
{
    const uint32_t read = EventRing.ReadPos.load(std::memory_order_relaxed);
    if (read == EventRing.WritePos.load(std::memory_order_acquire))
        return false;
    entry = EventRing.Slots[read];
    // Release: the slot is read before a producer may reuse it.
    EventRing.ReadPos.store(NextSlot(read), std::memory_order_release);
    return true;
}

uint64_t DroppedEvents()
{
    return EventRing.Dropped.load(std::memory_order_relaxed);
}

void ResetEventRing()
{
    EventRing.WritePos.store(0, std::memory_order_relaxed);
    EventRing.ReadPos.store(0, std::memory_order_relaxed);
    EventRing.Dropped.store(0, std::memory_order_relaxed);
    EventRing.PushLock.clear(std::memory_order_relaxed);
}
