#pragma once

#include <atomic>
#include <cstdint>

// The fixed ring between the capture callbacks (up to three producers on
// device threads) and the drain on the main thread. It is empty exactly when
// the two positions are equal; it holds at most EventRingSlots - 1 entries.
inline constexpr uint32_t EventRingSlots = 2048;

struct TEventRing {
    uint32_t Slots[EventRingSlots];
    // Published with release after the slot is stored; read with acquire.
    std::atomic<uint32_t> WritePos;
    // Advanced only by the drain; producers read it to see whether the ring is full.
    std::atomic<uint32_t> ReadPos;
    // Serialises producers for the store and the advance, nothing more.
    std::atomic_flag PushLock;
    // Entries refused because the ring was full (the newest is dropped, never an unread one).
    std::atomic<uint64_t> Dropped;
};

extern TEventRing EventRing;

// System exclusive messages travel beside the ring: their bytes in a fixed
// store, in the order of their entries, and an entry whose status byte is
// LongMessageEntry (a byte no short message starts with) in the ring.
inline constexpr uint32_t LongMessageEntry = 0xF0;
inline constexpr uint32_t LongStoreBytes = 256 * 1024;

// The last slots are kept for releases (note-offs, pedals let go): a ring
// filled by a clock or a fast player still takes the ends of notes.
inline constexpr uint32_t ReleaseReserve = 64;

// Device thread: stores one entry. Returns false, counting a drop, when the
// ring is full, or when only the reserve is left and `release` is false.
// Never allocates and never waits but on the push lock.
bool PushEvent(uint32_t entry, bool release = false);

// Device thread: stores a system exclusive message of input n and its entry
// (LongMessageEntry | n << 24), both or neither; false, counting a drop,
// when either is full.
bool PushLongEvent(uint32_t input, const uint8_t* bytes, uint32_t size);

// Main thread, after popping an entry of a long message: copies its bytes
// (at most MaxLongMessageBytes) into `into` and returns their count.
uint32_t PopLongMessage(uint8_t* into);

// Main thread: takes the oldest entry, or returns false when the ring is empty.
bool PopEvent(uint32_t& entry);

uint64_t DroppedEvents();

// Empties the ring and the store and clears the drop count; only while no
// producer runs.
void ResetEventRing();
