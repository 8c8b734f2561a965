#pragma once

#include "MidiDeviceService.h"

#include <QString>

// The program without a window, on Qt's core application: the same start-up
// and shutdown of the engine as the window's, with every notice written to
// standard error as one line (caption, then text) instead of shown, and
// the service and the devices opened told on standard output. Reads its
// files from `directory` when one is given. Runs until a quit signal comes;
// returns the exit code.
int RunHeadless(const QString& directory, ServiceChoice service);
