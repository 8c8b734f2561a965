#pragma once

#include "MidiDeviceService.h"

// The device service over the ALSA sequencer: one client for the whole run,
// with ports in_1...in_3 and out_1...out_3; its devices are the MIDI ports
// of the other clients. Returns null, silently, when the sequencer cannot be
// opened.
MidiDeviceService* OpenAlsaDeviceService(const char* clientName);
