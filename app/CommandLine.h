#pragma once

#include "MidiDeviceService.h"

#include <string>

// What the command line asks for. Qt's own options are not taken: the
// windowing system is chosen through the environment (QT_QPA_PLATFORM).
struct CommandLine {
    enum Action { Window, Headless, Help, Version, Wrong };
    Action action = Window;
    std::string directory;  // --directory, with --headless only
    ServiceChoice service = ServiceChoice::Automatic;  // --service
    std::string problem;    // why it is Wrong
};

CommandLine ParseCommandLine(int argc, const char* const argv[]);

extern const char* const Usage;
