#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Entry 0 is the "no device" entry; entry k is device k-1 of the service, so
// a position in a list is a selection index. Built once per run.
extern std::vector<std::string> InDeviceNames;
extern std::vector<std::string> OutDeviceNames;

// Builds both name lists, choosing the machine's device service first if
// none is chosen yet.
void EnumerateDevices();

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
