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

// Copies a device name into a 32-byte product-name field, cut to 31
// characters and zero-terminated.
void CopyProductName(char (&field)[32], const char* name);
