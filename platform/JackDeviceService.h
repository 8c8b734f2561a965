#pragma once

#include "MidiDeviceService.h"

// The device service over a JACK server that is already running (it never
// starts one): one client for the whole run; its devices are the MIDI ports
// of the other clients. Returns null, silently, when no server answers,
// unless told to wait for one: it then starts with no devices and takes the
// first server that answers as it takes one that comes back.
MidiDeviceService* OpenJackDeviceService(const char* clientName, bool waitForServer = false);
