#include "MidiBytes.h"

#include "MidiDeviceService.h"

#include <cstring>

int ShortMessageDataBytes(uint8_t status)
{
    if (status < 0x80)
        return -1;
    if (status < 0xC0 || (status >= 0xE0 && status < 0xF0))
        return 2;
    if (status < 0xE0)
        return 1;
    switch (status) {
    case 0xF0:
    case 0xF7:
        return -1;  // sysex is long data
    case 0xF1:
    case 0xF3:
        return 1;
    case 0xF2:
        return 2;
    default:
        return 0;  // 0xF4-0xF6 and the real-time bytes 0xF8-0xFF
    }
}

size_t UnpackShortMessage(uint32_t packed, uint8_t bytes[3])
{
    const int data = ShortMessageDataBytes(static_cast<uint8_t>(packed));
    if (data < 0)
        return 0;
    for (int i = 0; i <= data; ++i)
        bytes[i] = static_cast<uint8_t>(packed >> (8 * i));
    return static_cast<size_t>(data) + 1;
}

size_t PackShortMessage(const uint8_t* bytes, size_t size, uint32_t& packed)
{
    if (size == 0)
        return 0;
    const int data = ShortMessageDataBytes(bytes[0]);
    if (data < 0 || size < static_cast<size_t>(data) + 1)
        return 0;
    packed = bytes[0];
    for (int i = 1; i <= data; ++i) {
        if (bytes[i] >= 0x80)
            return 0;
        packed |= static_cast<uint32_t>(bytes[i]) << (8 * i);
    }
    return static_cast<size_t>(data) + 1;
}

bool IsWholeSystemExclusive(const uint8_t* bytes, size_t size)
{
    if (!bytes || size < 2 || size > MaxLongMessageBytes || bytes[0] != 0xF0 || bytes[size - 1] != 0xF7)
        return false;
    for (size_t i = 1; i + 1 < size; ++i) {
        if (bytes[i] >= 0x80)
            return false;
    }
    return true;
}

void CopyProductName(char (&field)[32], const char* name)
{
    const size_t length = name ? strnlen(name, sizeof field - 1) : 0;
    if (length)
        memcpy(field, name, length);
    field[length] = '\0';
}

bool EndsSound(uint32_t message)
{
    constexpr uint8_t SustainPedal = 64, SostenutoPedal = 66, AllSoundOff = 120, AllNotesOff = 123;
    const auto status = static_cast<uint8_t>(message);
    const auto controller = static_cast<uint8_t>(message >> 8);
    const auto value = static_cast<uint8_t>(message >> 16);
    switch (status & 0xF0) {
    case 0x80:
        return true;
    case 0x90:
        return (value & 0x7F) == 0;
    case 0xB0:
        return ((controller == SustainPedal || controller == SostenutoPedal) && value < 64) ||
               controller == AllNotesOff || controller == AllSoundOff;
    default:
        return false;
    }
}
