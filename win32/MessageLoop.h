#pragma once

#include <windows.h>

// The main thread's loops: the main loop and the setup dialog's. Each takes
// a message from the queue and, before dispatching it, passes the main
// window's wake-up (WM_USER) to the engine's hook, gives Esc and F2 to the
// window they were typed in (key preview), and lets the dialog move the
// focus with Tab. Message boxes run the system's own loop: there the wake-up
// only reaches the main window, and nothing is drained until they go.

// Capture callbacks wake `mainWindow` with one PostMessage(WM_USER) while
// none is pending; null stops the posts.
void AttachWakeUp(HWND mainWindow);
// Called for each wake-up the main window takes, in any loop: the next
// capture posts again.
void WakeUpTaken();

// What a key preview does with a virtual key: true when it was used.
using KeyPreview = bool (*)(int key);
void SetKeyPreview(HWND window, KeyPreview preview);

// The dialog whose keyboard navigation the loop runs; null for none.
void SetDialogWindow(HWND dialog);

// Runs until `*done` (checked after each message) or WM_QUIT; a WM_QUIT
// taken in an inner loop is posted again for the main loop.
void RunMessageLoop(const bool* done = nullptr);
