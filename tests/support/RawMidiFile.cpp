#include "RawMidiFile.h"

#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

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

RawMidiFile::RawMidiFile(int device)
{
    const std::string path = "/dev/snd/midiC0D" + std::to_string(device);
    m_fd = ::open(path.c_str(), O_RDWR);
    if (m_fd >= 0)
        m_reader = std::thread([this] { read(); });
}

RawMidiFile::~RawMidiFile()
{
    m_stop = true;
    if (m_reader.joinable())
        m_reader.join();
    if (m_fd >= 0)
        ::close(m_fd);
}

bool RawMidiFile::write(const Bytes& bytes)
{
    return ::write(m_fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

std::vector<Bytes> RawMidiFile::messages()
{
    std::lock_guard lock(m_lock);
    return SplitMessages(m_received);
}

void RawMidiFile::forget()
{
    std::lock_guard lock(m_lock);
    m_received.clear();
}

void RawMidiFile::read()
{
    uint8_t buffer[4096];
    pollfd file{m_fd, POLLIN, 0};
    while (!m_stop) {
        if (::poll(&file, 1, 50) <= 0)
            continue;
        const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
        if (got <= 0)
            return;  // the device went away
        std::lock_guard lock(m_lock);
        m_received.insert(m_received.end(), buffer, buffer + got);
    }
}
