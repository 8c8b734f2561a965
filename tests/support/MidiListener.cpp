#include "MidiListener.h"

#include <cstddef>
#include <cstdint>

namespace {

size_t MessageLength(uint8_t status)
{
    const uint8_t kind = status < 0xF0 ? status & 0xF0 : status;
    if (kind == 0xC0 || kind == 0xD0 || kind == 0xF1 || kind == 0xF3)
        return 2;
    return kind == 0xF6 ? 1 : 3;
}

}  // namespace

std::vector<Bytes> SplitMessages(const Bytes& stream)
{
    std::vector<Bytes> messages;
    uint8_t running = 0;
    size_t filling = SIZE_MAX;  // the message data bytes go to
    bool inDump = false;
    for (uint8_t byte : stream) {
        if (byte >= 0xF8) {  // real-time bytes may stand inside another message
            messages.push_back({byte});
        } else if (inDump) {
            messages[filling].push_back(byte);
            inDump = byte != 0xF7;
        } else if (byte & 0x80) {
            messages.push_back({byte});
            filling = messages.size() - 1;
            inDump = byte == 0xF0;
            running = byte < 0xF0 ? byte : 0;
        } else if (filling < messages.size() && messages[filling].size() < MessageLength(messages[filling][0])) {
            messages[filling].push_back(byte);
        } else if (running) {
            messages.push_back({running, byte});
            filling = messages.size() - 1;
        }
    }
    return messages;
}
