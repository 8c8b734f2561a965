#pragma once

#include "MidiDeviceService.h"

#include <chrono>
#include <cstdint>
#include <vector>

// A device service for measurements: outputs note the arrival time of each
// message in a table sized beforehand, indexed by the message's low 24 bits,
// so sending allocates nothing. Inputs are driven by the benchmark itself.
class RecordingService final : public MidiDeviceService {
public:
    using Clock = std::chrono::steady_clock;

    explicit RecordingService(size_t capacity) : m_arrivals(capacity) {}

    const std::vector<Clock::time_point>& arrivals() const { return m_arrivals; }
    uint64_t sends() const { return m_sends; }

    uint32_t midiInGetNumDevs() override { return 3; }
    MmResult midiInGetDevCapsA(uint32_t, MidiInCaps*, uint32_t) override { return MMSYSERR_NOERROR; }
    MmResult midiInOpen(MidiHandle*, uint32_t, MidiInProc, uintptr_t, uint32_t) override { return MMSYSERR_NOERROR; }
    MmResult midiInStart(MidiHandle) override { return MMSYSERR_NOERROR; }
    MmResult midiInClose(MidiHandle) override { return MMSYSERR_NOERROR; }
    uint32_t midiOutGetNumDevs() override { return 3; }
    MmResult midiOutGetDevCapsA(uint32_t, MidiOutCaps*, uint32_t) override { return MMSYSERR_NOERROR; }
    MmResult midiOutOpen(MidiHandle* slot, uint32_t device, uintptr_t, uintptr_t, uint32_t) override
    {
        *slot = reinterpret_cast<MidiHandle>(uintptr_t(device) + 1);
        return MMSYSERR_NOERROR;
    }
    MmResult midiOutShortMsg(MidiHandle, uint32_t message) override
    {
        ++m_sends;
        const uint32_t index = message & 0xFFFFFF;
        if (index < m_arrivals.size())
            m_arrivals[index] = Clock::now();
        return MMSYSERR_NOERROR;
    }
    MmResult midiOutClose(MidiHandle) override { return MMSYSERR_NOERROR; }

private:
    std::vector<Clock::time_point> m_arrivals;
    uint64_t m_sends = 0;
};
