#pragma once

#include "MidiDeviceService.h"

// The service of a machine without any MIDI system: no devices, so every
// open fails as out of range.
class NullDeviceService final : public MidiDeviceService {
public:
    uint32_t midiInGetNumDevs() override { return 0; }
    MmResult midiInGetDevCapsA(uint32_t, MidiInCaps*, uint32_t) override { return MMSYSERR_BADDEVICEID; }
    MmResult midiInOpen(MidiHandle*, uint32_t, MidiInProc, uintptr_t, uint32_t) override
    {
        return MMSYSERR_BADDEVICEID;
    }
    MmResult midiInStart(MidiHandle) override { return MMSYSERR_INVALHANDLE; }
    MmResult midiInClose(MidiHandle) override { return MMSYSERR_INVALHANDLE; }

    uint32_t midiOutGetNumDevs() override { return 0; }
    MmResult midiOutGetDevCapsA(uint32_t, MidiOutCaps*, uint32_t) override { return MMSYSERR_BADDEVICEID; }
    MmResult midiOutOpen(MidiHandle*, uint32_t, uintptr_t, uintptr_t, uint32_t) override
    {
        return MMSYSERR_BADDEVICEID;
    }
    MmResult midiOutShortMsg(MidiHandle, uint32_t) override { return MMSYSERR_INVALHANDLE; }
    MmResult midiOutClose(MidiHandle) override { return MMSYSERR_INVALHANDLE; }
};
