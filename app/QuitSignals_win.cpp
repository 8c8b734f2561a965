#include "QuitSignals.h"

// A window program on Windows gets no such signals; logoff ends it through
// its window.
QuitSignals::QuitSignals() = default;
QuitSignals::~QuitSignals() = default;

bool QuitSignals::received()
{
    return false;
}

void QuitSignals::take() {}

void QuitSignals::quit() {}
