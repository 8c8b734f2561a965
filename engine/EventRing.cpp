#include "EventRing.h"

#include "MidiDeviceService.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

TEventRing EventRing{};

namespace {

// Records of a 4-byte size and the bytes, each starting on a 4-byte
// boundary and never wrapping: where one would, a skip mark fills the rest
// of the store. The positions count bytes since the start and wrap only
// with 32-bit arithmetic.
struct {
    alignas(4) uint8_t Bytes[LongStoreBytes];
    std::atomic<uint32_t> WritePos;  // producers, under the push lock
    std::atomic<uint32_t> ReadPos;   // the drain
} LongStore;

constexpr uint32_t SkipMark = UINT32_MAX;

constexpr uint32_t Padded(uint32_t size)
{
    return (size + 3) & ~3u;
}

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

void Lock()
{
    while (EventRing.PushLock.test_and_set(std::memory_order_acquire))
        CpuRelax();
}

void Unlock()
{
    EventRing.PushLock.clear(std::memory_order_release);
}

// Under the push lock.
bool StoreEntry(uint32_t entry, bool release)
{
    const uint32_t write = EventRing.WritePos.load(std::memory_order_relaxed);
    const uint32_t read = EventRing.ReadPos.load(std::memory_order_acquire);
    const uint32_t free = (read + EventRingSlots - write - 1) % EventRingSlots;
    const bool stored = free > (release ? 0 : ReleaseReserve);
    if (stored) {
        EventRing.Slots[write] = entry;
        EventRing.WritePos.store(NextSlot(write), std::memory_order_release);
    }
    return stored;
}

// Under the push lock: stores the record, or returns false when the store
// has no room for it (a skip mark included).
bool StoreLong(const uint8_t* bytes, uint32_t size)
{
    const uint32_t write = LongStore.WritePos.load(std::memory_order_relaxed);
    const uint32_t read = LongStore.ReadPos.load(std::memory_order_acquire);
    const uint32_t at = write % LongStoreBytes;
    const uint32_t record = 4 + Padded(size);
    const uint32_t skip = at + record > LongStoreBytes ? LongStoreBytes - at : 0;
    if (write - read + skip + record > LongStoreBytes)
        return false;
    uint32_t start = at;
    if (skip) {
        std::memcpy(LongStore.Bytes + at, &SkipMark, 4);
        start = 0;
    }
    std::memcpy(LongStore.Bytes + start, &size, 4);
    std::memcpy(LongStore.Bytes + start + 4, bytes, size);
    LongStore.WritePos.store(write + skip + record, std::memory_order_release);
    return true;
}

}  // namespace

bool PushEvent(uint32_t entry, bool release)
{
    Lock();
    const bool stored = StoreEntry(entry, release);
    Unlock();
    if (!stored)
        EventRing.Dropped.fetch_add(1, std::memory_order_relaxed);
    return stored;
}

bool PushLongEvent(uint32_t input, const uint8_t* bytes, uint32_t size)
{
    bool stored = false;
    if (size <= MaxLongMessageBytes) {
        Lock();
        // The entry's room is looked at first, so that the bytes are never
        // stored without it.
        const uint32_t write = EventRing.WritePos.load(std::memory_order_relaxed);
        const uint32_t read = EventRing.ReadPos.load(std::memory_order_acquire);
        const uint32_t free = (read + EventRingSlots - write - 1) % EventRingSlots;
        stored = free > ReleaseReserve && StoreLong(bytes, size) && StoreEntry(LongMessageEntry | input << 24, false);
        Unlock();
    }
    if (!stored)
        EventRing.Dropped.fetch_add(1, std::memory_order_relaxed);
    return stored;
}

uint32_t PopLongMessage(uint8_t* into)
{
    uint32_t read = LongStore.ReadPos.load(std::memory_order_relaxed);
    if (read == LongStore.WritePos.load(std::memory_order_acquire))
        return 0;
    uint32_t size;
    std::memcpy(&size, LongStore.Bytes + read % LongStoreBytes, 4);
    if (size == SkipMark) {
        read += LongStoreBytes - read % LongStoreBytes;
        std::memcpy(&size, LongStore.Bytes, 4);
    }
    std::memcpy(into, LongStore.Bytes + read % LongStoreBytes + 4, size);
    LongStore.ReadPos.store(read + 4 + Padded(size), std::memory_order_release);
    return size;
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
    LongStore.WritePos.store(0, std::memory_order_relaxed);
    LongStore.ReadPos.store(0, std::memory_order_relaxed);
}
