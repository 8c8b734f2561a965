#include "AlsaDeviceService.h"
#include "JackDeviceService.h"
#include "MidiDeviceService.h"
#include "NullDeviceService.h"

// One service for the whole run, inputs and outputs alike. PipeWire
// desktops answer as JACK too, and JACK is where a running server wants its
// MIDI to be seen.
MidiDeviceService* OpenSystemDeviceService(ServiceChoice choice)
{
    const bool automatic = choice == ServiceChoice::Automatic;
    if (automatic || choice == ServiceChoice::Jack) {
        if (MidiDeviceService* jack = OpenJackDeviceService("Roraridov"))
            return jack->describe("JACK", true);
        // Named, it waits for a server that is not there yet.
        if (choice == ServiceChoice::Jack) {
            if (MidiDeviceService* jack = OpenJackDeviceService("Roraridov", true))
                return jack->describe("JACK", false);
        }
    }
    if (automatic || choice == ServiceChoice::Alsa) {
        if (MidiDeviceService* alsa = OpenAlsaDeviceService("Roraridov"))
            return alsa->describe("ALSA sequencer", true);
    }
    return new NullDeviceService;
}
