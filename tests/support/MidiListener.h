#pragma once

#include <cstdint>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A device's far end as a test sees it: what reached it, one message an
// entry, system exclusive whole.
class MidiListener {
public:
    virtual std::vector<Bytes> messages() = 0;
    virtual void forget() = 0;

protected:
    ~MidiListener() = default;
};

// Splits a byte stream into messages, writing out running status (the
// kernel's event decoder leaves repeated status bytes out).
std::vector<Bytes> SplitMessages(const Bytes& stream);
