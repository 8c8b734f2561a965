#include "ByteRing.h"

#include <algorithm>
#include <cstring>

ByteRing::ByteRing(size_t capacity) : m_capacity(capacity), m_bytes(new uint8_t[capacity]) {}

size_t ByteRing::readable() const
{
    return m_written.load(std::memory_order_acquire) - m_read.load(std::memory_order_acquire);
}

size_t ByteRing::writable() const
{
    return m_capacity - readable();
}

bool ByteRing::write(const void* bytes, size_t size)
{
    const size_t written = m_written.load(std::memory_order_relaxed);
    if (m_capacity - (written - m_read.load(std::memory_order_acquire)) < size)
        return false;
    const size_t at = written % m_capacity;
    const size_t first = std::min(size, m_capacity - at);
    std::memcpy(&m_bytes[at], bytes, first);
    std::memcpy(&m_bytes[0], static_cast<const uint8_t*>(bytes) + first, size - first);
    m_written.store(written + size, std::memory_order_release);
    return true;
}

bool ByteRing::peek(void* bytes, size_t size, size_t offset) const
{
    if (readable() < offset + size)
        return false;
    copyOut(m_read.load(std::memory_order_relaxed) + offset, bytes, size);
    return true;
}

void ByteRing::skip(size_t size)
{
    m_read.store(m_read.load(std::memory_order_relaxed) + std::min(size, readable()), std::memory_order_release);
}

void ByteRing::copyOut(size_t from, void* bytes, size_t size) const
{
    const size_t at = from % m_capacity;
    const size_t first = std::min(size, m_capacity - at);
    std::memcpy(bytes, &m_bytes[at], first);
    std::memcpy(static_cast<uint8_t*>(bytes) + first, &m_bytes[0], size - first);
}
