#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

// Bytes from one thread to one other, in order, without a lock: one thread
// only writes, the other only reads. Its room is taken once, here.
class ByteRing {
public:
    explicit ByteRing(size_t capacity);

    size_t readable() const;
    size_t writable() const;
    // All or nothing: false, writing nothing, when the room is short.
    bool write(const void* bytes, size_t size);
    // Copies bytes without taking them, `offset` bytes after the oldest;
    // false when fewer wait.
    bool peek(void* bytes, size_t size, size_t offset = 0) const;
    void skip(size_t size);

private:
    void copyOut(size_t from, void* bytes, size_t size) const;

    const size_t m_capacity;
    std::unique_ptr<uint8_t[]> m_bytes;
    // Running totals: written by the writer, read by the reader.
    std::atomic<size_t> m_written{0};
    std::atomic<size_t> m_read{0};
};
