#pragma once

#include "SavedDeviceNames.h"

#include <string>

// The settings and the devices in words, for a user without the windows:
// plain lines of text that a command line or a log shows.

// "input 2", "output 1", for port index `port`.
std::string PortWords(int port);

// The saved settings, one line a port: its device by name (`names`, else
// its saved position) or "none", and for an input its outputs, "AT to PB"
// and "Ch Voice Only".
//   input 1: keys:out; to outputs 1, 3; AT to PB on; Ch Voice Only off
//   output 2: none
std::string SavedSettingsText(const SavedDeviceNames& names);

// The devices present now, one a line: "input" or "output", a tab, the
// full name; then an empty line and each port's saved device, by name, and
// whether it is here now.
std::string DeviceListText(const SavedDeviceNames& saved);

// What a start opened, in one line: the service and each port's device.
//   MIDI service JACK; input 1 "keys:out", input 2 none, ...
std::string OpenedDevicesLine();

// Empty when the service in use answered; else why no device can open.
std::string NoServiceWords();
