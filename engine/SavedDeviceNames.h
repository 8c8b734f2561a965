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

// The full names of the devices open now, in port order; empty for a
// closed port.
SavedDeviceNames OpenDeviceNames();

// The file's text for these names.
std::string DeviceNamesText(const SavedDeviceNames& names);

// False, leaving `names` alone, for anything but six lines of UTF-8 text of
// sensible length.
bool ParseDeviceNames(std::string_view text, SavedDeviceNames& names);

// What the names file held before a save.
struct DeviceNamesBefore {
    bool existed = false;
    bool read = false;
    std::string text;
};

// Writes the file for `names` atomically and returns what it held before. Raises
// FileFailure when a names file is there and cannot be replaced (it would
// point at other devices than the options file); where none is there and
// none can be made, the options file is saved alone.
DeviceNamesBefore SaveDeviceNames(const SavedDeviceNames& names);

// Puts the names file back as it was, after the options file could not be
// saved, so the two never disagree.
void UndoDeviceNames(const DeviceNamesBefore& before);

// Points each saved selection of the settings record at its device by name.
// A port saved closed, or without a name, keeps its index; without a file
// nothing changes, and a file that is there but unusable (not text, cut
// short, a directory, a dangling link) changes nothing either but is
// reported when any device was saved.
void RestoreSavedDeviceNames();

// The name the file gave port `port` at the last restore, empty if none.
const std::string& RestoredDeviceName(int port);

// The full name of the device the settings record holds for port `port`:
// the restored name, else the name at its saved position; empty for none,
// or for a position that names nothing listed.
std::string SavedDeviceName(int port);

// The selection the settings record holds for port `port`.
int32_t& SavedSelection(int port);
