#pragma once

#include "MidiDeviceService.h"

// Starts the program in its fixed order behind the start screen, runs the
// main loop until the main window closes, and shuts down. A failure raised
// anywhere in it is shown and ends the program at once. Returns the exit code.
int RunProgram(ServiceChoice service = ServiceChoice::Automatic);
