#include "RawMidiFile.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

RawMidiFile::RawMidiFile(int device)
{
    const std::string path = "/dev/snd/midiC0D" + std::to_string(device);
    m_file = ::open(path.c_str(), O_RDWR);
    if (opened())
        m_reader = std::thread([this] { read(); });
}

RawMidiFile::~RawMidiFile()
{
    m_stop = true;
    if (m_reader.joinable())
        m_reader.join();
    if (opened())
        ::close(int(m_file));
}

bool RawMidiFile::write(const Bytes& bytes)
{
    return ::write(int(m_file), bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

void RawMidiFile::read()
{
    uint8_t buffer[4096];
    pollfd file{int(m_file), POLLIN, 0};
    while (!m_stop) {
        if (::poll(&file, 1, 50) <= 0)
            continue;
        const ssize_t got = ::read(int(m_file), buffer, sizeof buffer);
        if (got <= 0)
            return;  // the device went away
        std::lock_guard lock(m_lock);
        m_received.insert(m_received.end(), buffer, buffer + got);
    }
}
