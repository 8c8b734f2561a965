#pragma once

#include <cstdint>

// Messages let go of on their way to an output: refused by the full event
// ring, or by an output's full queue. Counted for the user, who can do
// something about it (a lighter load, a larger JACK period).

// Any thread, a real-time callback included: one relaxed atomic add.
void CountLostMessages(uint64_t n = 1);

// Main thread. Every message lost this run: those counted here, those the
// event ring refused and those the device service let go of, before capture
// or after a send took them.
uint64_t LostMessages();

// Whether messages began or stopped being lost since the last look, for a
// report on a steady tick of the main thread.
enum class LossChange { None, Began, Ended };
struct LossWatch {
    uint64_t seen = 0;  // LostMessages() at the last look
    bool losing = false;
};
LossChange WatchLosses(LossWatch& watch);

// Back to none lost; only while no device thread runs.
void ResetLostMessages();
