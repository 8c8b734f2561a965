#pragma once

#include "MidiBytes.h"
#include "MidiDeviceService.h"

#include <string>
#include <vector>

// Fills a capability record from a backend's list of device names, the way
// every backend answers midiInGetDevCapsA and midiOutGetDevCapsA.
template <typename Caps>
MmResult DescribeDevice(const std::vector<std::string>& names, uint32_t device, Caps* caps, uint32_t size)
{
    if (device >= names.size())
        return MMSYSERR_BADDEVICEID;
    if (!caps || size < sizeof *caps)
        return MMSYSERR_INVALPARAM;
    CopyProductName(caps->szPname, names[device].c_str());
    return MMSYSERR_NOERROR;
}
