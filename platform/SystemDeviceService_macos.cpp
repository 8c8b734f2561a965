#include "AlsaDeviceService.h"
#include "MidiDeviceService.h"
#include "NullDeviceService.h"

MidiDeviceService* OpenSystemDeviceService(ServiceChoice)
{
    if (MidiDeviceService* coreMidi = OpenAlsaDeviceService("Roraridov"))
        return coreMidi->describe("CoreMIDI", true);
    return new NullDeviceService;
}
