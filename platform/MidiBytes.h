#pragma once

#include <cstddef>
#include <cstdint>

// Short MIDI messages travel packed in 32 bits: status in bits 0-7, first
// data byte in bits 8-15, second in bits 16-23.

// Data bytes that follow a status byte, or -1 when the byte starts no short
// message: a data byte, or one of the sysex bytes 0xF0 and 0xF7.
int ShortMessageDataBytes(uint8_t status);

// Bytes that go on the wire for a packed message (status included), or 0
// when its low byte starts no short message.
size_t UnpackShortMessage(uint32_t packed, uint8_t bytes[3]);

// Packs the short message at the start of bytes. Returns how many bytes it
// took, or 0 when they do not start a complete short message.
size_t PackShortMessage(const uint8_t* bytes, size_t size, uint32_t& packed);

// Whether bytes hold exactly one system exclusive message, F0 ... F7 with
// only data bytes between, no longer than MaxLongMessageBytes.
bool IsWholeSystemExclusive(const uint8_t* bytes, size_t size);

// Reads the bytes of one event the way a MIDI receiver reads its cable and
// hands every complete short message, packed, to deliver(uint32_t):
// real-time bytes (0xF8-0xFF) go at once without breaking the message they
// interrupt; running status holds within the bytes; a system common or sysex
// status cancels it; sysex is skipped up to its end; data bytes that belong
// to no status and an unfinished message at the end are dropped.
template <typename Deliver>
void ReadShortMessages(const uint8_t* bytes, size_t size, Deliver&& deliver)
{
    uint8_t running = 0;  // running status, 0 when none
    uint8_t status = 0;   // status of the message being read, 0 when none
    uint32_t packed = 0;
    int have = 0;
    int need = 0;
    for (size_t i = 0; i < size; ++i) {
        const uint8_t byte = bytes[i];
        if (byte >= 0xF8) {
            deliver(uint32_t{byte});
            continue;
        }
        if (byte >= 0x80) {
            if (byte >= 0xF0)
                running = 0;
            else
                running = byte;
            need = ShortMessageDataBytes(byte);
            status = need < 0 ? 0 : byte;  // sysex and its end start nothing
            packed = byte;
            have = 0;
            if (need == 0) {
                deliver(packed);
                status = 0;
            }
            continue;
        }
        if (status == 0) {
            if (running == 0)
                continue;
            status = running;
            need = ShortMessageDataBytes(running);
            packed = running;
            have = 0;
        }
        packed |= uint32_t{byte} << (8 * ++have);
        if (have == need) {
            deliver(packed);
            status = 0;
        }
    }
}

// Whether the packed message lets go of something sounding: a note-off, a
// sustain or sostenuto pedal released, all notes or all sound off. Such
// messages are the last a full ring refuses.
bool EndsSound(uint32_t message);

// Copies a device name into a 32-byte product-name field, cut to 31
// characters and zero-terminated.
void CopyProductName(char (&field)[32], const char* name);
