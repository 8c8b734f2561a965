#pragma once

#include "MidiDeviceService.h"
#include "SettingsChange.h"

#include <string>
#include <vector>

// What the command line asks for. Qt's own options are not taken: the
// windowing system is chosen through the environment (QT_QPA_PLATFORM).
struct CommandLine {
    enum Action { Window, Headless, ListDevices, Show, Save, Help, Version, Wrong };
    Action action = Window;
    std::string directory;  // --directory, with --headless or a set-up action only
    ServiceChoice service = ServiceChoice::Automatic;  // --service
    std::vector<SettingsChange> changes;  // with --save, in the order given
    std::string problem;    // why it is Wrong
};

CommandLine ParseCommandLine(int argc, const char* const argv[]);

// The usage lines, shown after a mistake; --help shows them and Help.
extern const char* const Usage;
extern const char* const Help;
