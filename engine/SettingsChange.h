#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// One change to the saved settings, asked for in words on a command line:
// `--input 2=keys:out`, `--output 1=` (no device), `--route 1=1,3`,
// `--at-to-pb 3=on`, `--channel-voice-only 1=off`.
struct SettingsChange {
    enum Kind { Input, Output, Route, AtToPb, ChVoiceOnly };
    Kind kind = Input;
    int n = 1;             // the input or output, 1 to 3
    std::string device;    // Input, Output: the device's full name, empty for none
    int32_t routeMask = 0; // Route: bit k-1 for output k
    bool on = false;       // AtToPb, ChVoiceOnly
};

// The option that makes this kind of change, "--input" for Input and so on;
// false when `option` is none of them.
bool SettingsChangeOption(std::string_view option, SettingsChange::Kind& kind);

// Reads an option's value ("2=keys:out") into `change`. Returns what is
// wrong with it in words, empty when nothing is.
std::string ParseSettingsChange(SettingsChange::Kind kind, std::string_view value, SettingsChange& change);
