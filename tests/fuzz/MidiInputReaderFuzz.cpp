// libFuzzer target: an input's bytes cut into arbitrary events. The reader
// must stay inside its storage, hand over exactly the whole system exclusive
// messages that fit (F0, data bytes, F7, no longer than its storage), and
// read short messages as ReadShortMessages does.
// Input: a byte choosing the storage size (mostly small, to reach the
// overflow), then events, each a length byte and that many bytes.

#include "MidiBytes.h"
#include "MidiInputReader.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// The messages a cable carrying these bytes holds whole: real-time bytes
// taken out, each F0 followed by data bytes and F7, if it fits.
std::vector<Bytes> WholeMessages(const Bytes& stream, size_t capacity)
{
    std::vector<Bytes> messages;
    Bytes message;  // empty while no message is open
    for (const uint8_t byte : stream) {
        if (byte < 0x80 && !message.empty())
            message.push_back(byte);
        if (byte < 0x80 || byte >= 0xF8)
            continue;
        if (byte == 0xF7 && !message.empty() && message.size() < capacity) {
            message.push_back(byte);
            messages.push_back(message);
        }
        message.assign(byte == 0xF0 ? 1 : 0, byte);
    }
    return messages;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uint32_t capacity = data[0] == 0xFF ? MaxLongMessageBytes : 2 + data[0] % 64;
    MidiInputReader reader(capacity);
    std::vector<Bytes> longs;
    std::vector<uint32_t> shorts;
    std::vector<uint32_t> expectedShorts;
    Bytes stream;
    for (size_t at = 1; at < size;) {
        const size_t length = std::min<size_t>(data[at], size - at - 1);
        const uint8_t* event = data + at + 1;
        at += 1 + length;
        stream.insert(stream.end(), event, event + length);
        // A copy, so that reading past the event's end is caught.
        const Bytes copy(event, event + length);
        reader.read(
            copy.data(), copy.size(), [&](uint32_t packed) { shorts.push_back(packed); },
            [&](const MidiLongMessage& message) { longs.emplace_back(message.bytes, message.bytes + message.size); });
        ReadShortMessages(copy.data(), copy.size(), [&](uint32_t packed) { expectedShorts.push_back(packed); });
    }
    if (longs != WholeMessages(stream, capacity) || shorts != expectedShorts)
        abort();
    return 0;
}
