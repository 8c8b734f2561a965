#pragma once

#include <exception>
#include <string>

// An error the program detected: the system's message box with the text,
// the caption, one OK button and no icon, owned by the application: every
// other window of the program is disabled while it is up, and it stands
// above those that stay on top. Installed as the engine's notice hook.
void ShowErrorNotice(const char* text, const char* caption);

// A failure that was raised: the same box with the stop icon, captioned with
// the program's title, the failure's text followed by a full stop.
void FailureNotice(const std::string& text);

// Runs an event handler; a failure it raises is shown and the program goes
// on. Nothing is thrown through the system's window procedures.
template <typename Handler>
void RunHandler(Handler&& handler)
{
    try {
        handler();
    } catch (const std::exception& failure) {
        FailureNotice(failure.what());
    }
}
