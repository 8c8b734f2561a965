#pragma once

#include <functional>

// How long a test waits for what it expects before it fails. Long, because a
// machine busy with builds, or a sanitizer, can hold up a server's cycles or
// a window's events for seconds; a test that passes stops waiting at once.
constexpr int PatienceMs = 30000;

// Waits until `done` holds, checking every 10 ms; false after `ms`.
bool Poll(const std::function<bool()>& done, int ms);
