#pragma once

#include <array>
#include <cstdint>
#include <string>

// The routing as the windows show and edit it.

// The main window's check boxes, CheckBox1 to CheckBox15 (element 0 is
// CheckBox1), from the settings: per input "To Out 1" to "To Out 3",
// "AT to PB" and "ChV Only".
std::array<bool, 15> RoutingDisplay();

// The five items of each of the setup dialog's check lists, in order.
inline constexpr const char* CheckListItems[5] = {"To Output 1", "To Output 2", "To Output 3", "AT to PB",
                                                  "Ch Voice Only"};

// The check states of the three lists, input 1 first; the initial ones come
// from the settings.
using RoutingChecks = std::array<std::array<bool, 5>, 3>;
RoutingChecks CurrentRoutingChecks();

// Whichever list was clicked, the routing of all three inputs is rebuilt
// from all three lists. The caller then refreshes the main window.
void ApplyRoutingChecks(const RoutingChecks& checks);

// The main window's tooltip: where a user finds the count without a box
// coming up in the middle of playing.
std::string LostMessagesText(uint64_t lost);
