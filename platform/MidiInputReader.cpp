#include "MidiInputReader.h"

#include "MidiBytes.h"

MidiInputReader::MidiInputReader(uint32_t capacity)
    : m_capacity(capacity < 2 ? 2 : capacity), m_long(new uint8_t[m_capacity])
{
}

void MidiInputReader::deliver(const uint8_t* bytes, size_t size, MidiInProc callback, MidiHandle handle,
                              uintptr_t instance, uintptr_t stamp)
{
    read(
        bytes, size, [&](uint32_t packed) { callback(handle, MIM_DATA, instance, packed, stamp); },
        [&](const MidiLongMessage& message) {
            callback(handle, MIM_LONGDATA, instance, reinterpret_cast<uintptr_t>(&message), stamp);
        });
}

void MidiInputReader::abandon()
{
    if (m_sysex == Sysex::Open)
        m_cutShort.fetch_add(1, std::memory_order_relaxed);
    m_sysex = Sysex::None;
    endEvent();
}

MidiInputReader::Took MidiInputReader::take(uint8_t byte, uint32_t& packed)
{
    if (byte >= 0xF8) {
        packed = byte;
        return Took::Short;
    }
    return byte >= 0x80 ? takeStatus(byte, packed) : takeData(byte, packed);
}

MidiInputReader::Took MidiInputReader::takeStatus(uint8_t byte, uint32_t& packed)
{
    const Sysex sysex = m_sysex;
    m_sysex = Sysex::None;
    if (sysex == Sysex::Open && byte == 0xF7) {
        m_long[m_longSize++] = byte;
        m_running = 0;
        m_status = 0;
        return Took::Long;
    }
    if (sysex == Sysex::Open)
        m_cutShort.fetch_add(1, std::memory_order_relaxed);
    if (byte == 0xF0) {
        m_sysex = Sysex::Open;
        m_long[0] = byte;
        m_longSize = 1;
    }

    m_running = byte >= 0xF0 ? 0 : byte;  // system messages cancel running status
    m_need = ShortMessageDataBytes(byte);
    m_status = m_need < 0 ? 0 : byte;
    m_packed = byte;
    m_have = 0;
    if (m_need != 0)
        return Took::Nothing;
    m_status = 0;
    packed = byte;
    return Took::Short;
}

MidiInputReader::Took MidiInputReader::takeData(uint8_t byte, uint32_t& packed)
{
    if (m_sysex == Sysex::Open) {
        // Room is kept for the F7.
        if (m_longSize + 1 < m_capacity) {
            m_long[m_longSize++] = byte;
        } else {
            m_sysex = Sysex::Overflowing;
            m_tooLong.fetch_add(1, std::memory_order_relaxed);
        }
        return Took::Nothing;
    }
    if (m_sysex == Sysex::Overflowing)
        return Took::Nothing;
    if (m_status == 0) {
        if (m_running == 0)
            return Took::Nothing;  // data that belongs to no status
        m_status = m_running;
        m_need = ShortMessageDataBytes(m_running);
        m_packed = m_running;
        m_have = 0;
    }
    m_packed |= uint32_t{byte} << (8 * ++m_have);
    if (m_have < m_need)
        return Took::Nothing;
    m_status = 0;
    packed = m_packed;
    return Took::Short;
}

void MidiInputReader::endEvent()
{
    // A system exclusive message may go on in the next event; nothing else does.
    m_running = 0;
    m_status = 0;
}
