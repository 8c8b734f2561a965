#pragma once

#include "RoutingSettings.h"

#include <array>
#include <string>
#include <string_view>

// The full names of the devices open on the six ports, kept beside the
// options file so that saved settings follow a device wherever it stands in
// the next run's lists. UTF-8 text, one line a port in port order, an empty
// line for a closed port. The options file stays as it is: a copy of the
// program that knows nothing of this file reads its indices as before.
inline constexpr const char* DeviceNamesFileName = "Roraridov.devices";

using SavedDeviceNames = std::array<std::string, PortCount>;

// The file's text for the devices open now.
std::string DeviceNamesText();

// False, leaving `names` alone, for anything but six lines of UTF-8 text of
// sensible length.
bool ParseDeviceNames(std::string_view text, SavedDeviceNames& names);

// Writes the file atomically; raises FileFailure when it cannot be created.
void SaveDeviceNames();

// Points each saved selection of the settings record at its device by name.
// A port saved closed, or without a name, keeps its index; without a usable
// file nothing changes.
void RestoreSavedDeviceNames();
