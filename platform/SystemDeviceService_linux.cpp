#include "AlsaDeviceService.h"
#include "JackDeviceService.h"
#include "MidiDeviceService.h"
#include "NullDeviceService.h"

// One service for the whole run, inputs and outputs alike. PipeWire
// desktops answer as JACK too, and JACK is where a running server wants its
// MIDI to be seen.
MidiDeviceService* OpenSystemDeviceService()
{
    if (MidiDeviceService* jack = OpenJackDeviceService("Roraridov"))
        return jack;
    if (MidiDeviceService* alsa = OpenAlsaDeviceService("Roraridov"))
        return alsa;
    return new NullDeviceService;
}
