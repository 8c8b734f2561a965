#include "MidiDeviceService.h"
#include "NullDeviceService.h"

MidiDeviceService* OpenSystemDeviceService()
{
    return new NullDeviceService;
}
