#pragma once

#include "MidiDeviceService.h"

#include <string>
#include <vector>

// The device service over the ALSA sequencer (CoreMIDI on macOS), through
// RtMidi. Returns null, silently, when the sequencer cannot be opened.
MidiDeviceService* OpenAlsaDeviceService(const char* clientName);

// Where device `device` of the list taken at enumeration is now, in the
// sequencer's current list: ports come and go while the program runs.
struct AlsaPortLookup {
    MmResult result;     // MMSYSERR_BADDEVICEID, MIDIERR_NODEVICE or success
    unsigned index = 0;  // on success, the index to open
};
AlsaPortLookup FindAlsaPort(uint32_t device, const std::vector<std::string>& enumerated,
                            const std::vector<std::string>& current);
