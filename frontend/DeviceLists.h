#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The setup dialog's six device lists. A position in a list is a selection
// index of the engine's name lists.

const std::vector<std::string>& DeviceNames(bool input);

// The whole text of an entry: the device's name, marked when it is absent.
std::string DeviceEntryText(bool input, int32_t selection);

// The entry port n's list shows: the selection really open on it.
int32_t ShownDevice(bool input, int n);

// What choosing an entry does (also Backspace, which re-chooses the entry
// shown): the port closes and opens the chosen device. Returns the entry the
// list falls back to, the one really open now: after a failed open that is
// "no device", unless the earlier close failed too.
int32_t ChooseDevice(bool input, int n, int32_t selection);
