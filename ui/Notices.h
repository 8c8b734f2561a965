#pragma once

#include "ApplicationTitle.h"

#include <QString>

#include <exception>

// An error the program detected: a modal box with one OK button and no icon,
// above every window of the program, the others disabled until it is
// dismissed. Installed as the engine's notice hook.
void ShowErrorNotice(const char* text, const char* caption);

// A failure that was raised: the same box with the stop icon, captioned with
// the program's title, the failure's text followed by a full stop.
void FailureNotice(const QString& text);

// Runs an event handler; a failure it raises is shown and the program goes on.
template <typename Handler>
void RunHandler(Handler&& handler)
{
    try {
        handler();
    } catch (const std::exception& failure) {
        FailureNotice(QString::fromLocal8Bit(failure.what()));
    }
}
