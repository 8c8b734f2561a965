#pragma once

#include "MidiDeviceService.h"

#include <functional>

class QObject;

// The engine's steps of start-up, shared by the window and the headless
// program, in this order: the run lock on the directory's options file;
// the device lists, on the service chosen; `hook`
// (the message hook of the main loop) installed on the application, before
// any port opens so that no wake-up goes unheard; the options file and the
// saved device names; `loaded`, while nothing is open yet; the saved
// devices. A file failure is raised out of it.
void StartEngine(QObject& hook, ServiceChoice service, const std::function<void()>& loaded);

// Shutdown's engine steps: every port closed, inputs first, then the device
// lists freed.
void StopEngine();

// After shutdown or a failed start: an input that failed to close may still
// capture, so whatever its wake-up reaches must stay alive.
bool InputStillOpen();
