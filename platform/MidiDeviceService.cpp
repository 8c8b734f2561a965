#include "MidiDeviceService.h"

MidiDeviceService* DeviceService = nullptr;
