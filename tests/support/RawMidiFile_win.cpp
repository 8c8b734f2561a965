#include "RawMidiFile.h"

#include <windows.h>

namespace {

HANDLE Handle(intptr_t file)
{
    return reinterpret_cast<HANDLE>(file);
}

}  // namespace

// Overlapped, so that the reader can be stopped while nothing comes in.
RawMidiFile::RawMidiFile(int device)
{
    const std::wstring path = L"Z:\\dev\\snd\\midiC0D" + std::to_wstring(device);
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    m_file = reinterpret_cast<intptr_t>(file);
    if (opened())
        m_reader = std::thread([this] { read(); });
}

RawMidiFile::~RawMidiFile()
{
    m_stop = true;
    if (m_reader.joinable())
        m_reader.join();
    if (opened())
        CloseHandle(Handle(m_file));
}

bool RawMidiFile::write(const Bytes& bytes)
{
    OVERLAPPED done{};
    done.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD written = 0;
    const bool started = WriteFile(Handle(m_file), bytes.data(), DWORD(bytes.size()), nullptr, &done) ||
                         GetLastError() == ERROR_IO_PENDING;
    const bool ok = started && GetOverlappedResult(Handle(m_file), &done, &written, TRUE);
    CloseHandle(done.hEvent);
    return ok && written == bytes.size();
}

void RawMidiFile::read()
{
    const HANDLE file = Handle(m_file);
    OVERLAPPED done{};
    done.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    uint8_t buffer[4096];
    while (!m_stop) {
        if (!ReadFile(file, buffer, sizeof buffer, nullptr, &done) && GetLastError() != ERROR_IO_PENDING)
            break;
        while (WaitForSingleObject(done.hEvent, 50) == WAIT_TIMEOUT && !m_stop) {
        }
        DWORD got = 0;
        if (m_stop)
            CancelIoEx(file, &done);
        if (!GetOverlappedResult(file, &done, &got, TRUE) || got == 0)
            break;  // stopped, or the device went away
        std::lock_guard lock(m_lock);
        m_received.insert(m_received.end(), buffer, buffer + got);
    }
    CloseHandle(done.hEvent);
}
