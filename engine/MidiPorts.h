#pragma once

#include "MidiDeviceService.h"

#include <cstdint>
#include <string>
#include <vector>

// Entry 0 is the "no device" entry; entry k is device k-1 of the service, so
// a position in a list is a selection index. Built at start-up; within a run
// they only grow (devices that come are added at the end, devices that go
// keep their place), so a selection index never changes its device.
extern std::vector<std::string> InDeviceNames;
extern std::vector<std::string> OutDeviceNames;

// Builds both name lists, opening the device service first (the machine's
// own choice, or the one named) if none is chosen yet.
void EnumerateDevices(ServiceChoice choice = ServiceChoice::Automatic);

// Whether the device behind a selection index is here now (a device that
// went, or a saved one not seen yet, is listed as absent).
bool DevicePresent(bool input, int32_t selection);

// Main thread, after a wake-up: lets the service do what its devices coming
// and going asks for, adds new devices to the lists and tells the windows.
void ServiceDevices();
// Whether the service has news that ServiceDevices has not taken yet.
bool DeviceChangeWaiting();

// The selection index of the device called `name`: `selection` itself if
// it still names it, else the first of that name; a device not here is
// added as absent where the service can wait for it, else the result is out
// of range.
int32_t FindSavedDevice(bool input, int32_t selection, const std::string& name);

// Makes `selection` the device open on input (output) n, 1 to 3; 0 only
// closes the port. The outcome is read back from OpenSelection. A failed
// close is reported and leaves the port on its old device.
void SelectInput(int n, int32_t selection);
void SelectOutput(int n, int32_t selection);

// Inputs 1, 2, 3, then outputs 1, 2, 3.
void CloseAllDevices();
void OpenSavedDevices();

void FreeDeviceNames();

// Lets go of the device service chosen by EnumerateDevices; while any port is
// still open (its close failed) the service is kept for good.
void ReleaseDeviceService();
