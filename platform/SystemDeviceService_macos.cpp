#include "MidiDeviceService.h"
#include "NullDeviceService.h"

// No MIDI service is written for macOS yet: the program runs with no devices.
MidiDeviceService* OpenSystemDeviceService(ServiceChoice)
{
    return new NullDeviceService;
}
