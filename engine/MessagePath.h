#pragma once

#include "MidiDeviceService.h"
#include "RoutingSettings.h"

#include <atomic>
#include <cstdint>

// A tagged message is a packed short message with the input number 1-3 in
// bits 24-31.
inline constexpr uint32_t TagOf(uint32_t tagged) { return tagged >> 24; }
inline constexpr uint8_t StatusOf(uint32_t message) { return static_cast<uint8_t>(message); }
inline constexpr uint8_t Data1Of(uint32_t message) { return static_cast<uint8_t>(message >> 8); }
inline constexpr uint8_t Data2Of(uint32_t message) { return static_cast<uint8_t>(message >> 16); }

// The window message a capture posts to wake the main thread (WM_USER).
inline constexpr uint32_t WakeUpMessage = 1024;

// Per port, in port order: 0 means the lamp goes out at the next timer tick,
// 1 that it was just lit.
extern int32_t ActivityHold[PortCount];

// The capture callback of input N, registered with the device service when
// input N opens. Runs on a device thread: filters, tags, queues and wakes the
// main thread; nothing else. On a service that sends from its capture
// callbacks it routes the message there instead, in the cycle it arrived in,
// and records what it handed over; the main thread then only lights lamps.
template <int N>
void MidiInputProc(MidiHandle handle, uint32_t message, uintptr_t instance, uintptr_t param1, uintptr_t param2);

// MidiInputProcs[n - 1] is the callback of input n.
extern const MidiInProc MidiInputProcs[3];

// Output k's handle while the capture callbacks may send on it, else null.
// Cleared, and the callbacks waited for, before the output is released.
extern std::atomic<MidiHandle> CaptureOutputs[3];

// Whether the capture callbacks route (set as the service in use allows).
void SendFromCapture(bool on);

// Whether the capture callbacks route.
bool SendingFromCapture();

// Capture thread, at a cycle's start: sends a message the cycle makes itself
// (a release) on output k at `time`, and asks for its lamp. Returns whether
// the device took it.
bool SendFromCycle(int k, uint32_t message, uintptr_t time);

// Main thread: returns once no capture callback still uses settings changed
// before the call (at once where the main thread does the routing).
void WaitForCapture();

// The hook on every message the program's own loops take: drains the ring on
// a wake-up unless a notice is up. It never marks a message as handled.
void ApplicationMessage(uint32_t message, bool& handled);

// Routes every queued entry, oldest first, until the ring is empty; then
// releases what an input has sounding if the ring refused one of its
// releases.
void DrainEvents();

// Lights output k's lamp and, if output k is open, sends the message on it.
// Returns whether the device took it.
bool SendToOutput(int k, uint32_t message);

// The same for a whole system exclusive message.
bool SendLongToOutput(int k, const uint8_t* bytes, uint32_t size);

// The 300 ms tick: puts out the lamps that saw no traffic since the last one.
void DecayActivity();

// Channel pressure on `status`'s channel as a centre-based pitch bend.
uint32_t PressureToPitchBend(uint8_t status, uint8_t pressure);

void ResetMessagePath();
