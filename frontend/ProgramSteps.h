#pragma once

#include "MidiDeviceService.h"

#include <functional>

// The program's fixed order of start-up and shutdown, for both front ends
// and the headless program.

// The engine's steps of start-up, in this order: the run lock on the
// directory's options file; the device lists, on the service chosen;
// `installHook` (the message hook of the main loop), before any port opens
// so that no wake-up goes unheard; the options file and the saved device
// names; `loaded`, while nothing is open yet; the saved devices. A file
// failure is raised out of it.
void StartEngine(const std::function<void()>& installHook, ServiceChoice service,
                 const std::function<void()>& loaded);

// Shutdown's engine steps: every port closed, inputs first, then the device
// lists freed.
void StopEngine();

// After shutdown or a failed start: an input that failed to close may still
// capture, so whatever its wake-up reaches must stay alive.
bool InputStillOpen();

// What a front end does at each step of the window program.
struct FrontEndSteps {
    std::function<void()> showStartScreen;
    // Creates the main window, visible from here on, lamps silver and boxes clear.
    std::function<void()> createMainForm;
    std::function<void()> installHook;
    std::function<void()> refreshRoutingDisplay;
    std::function<void()> closeStartScreen;
    // Runs the main loop until the main window closes.
    std::function<void()> runMainLoop;
    // A raised failure, shown with the failure notice.
    std::function<void(const char* text)> failureNotice;
    // After the loop, or a failure: the hook comes off; then the main window
    // goes, unless `keep` says a capture may still wake it.
    std::function<void()> removeHook;
    std::function<void(bool keep)> releaseMainForm;
};

// The whole window program: start-up behind the start screen, the main loop,
// shutdown. A failure raised anywhere in it is shown and ends it at once, no
// port opened or closed after it. Returns the exit code.
int RunWindowProgram(const FrontEndSteps& steps, ServiceChoice service = ServiceChoice::Automatic);
