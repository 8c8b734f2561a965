#pragma once

#include "MidiBytes.h"

#include <cstdint>

// What each input has left sounding on each output: notes on, sustain and
// sostenuto pedals down, and pitch bends made from channel pressure. Every
// message handed to an output is recorded in a fixed bit table (by the drain,
// or by the capture callback where the service sends from there); when a route is cut, an output is
// closed or reopened, or an input closes, the matching note-offs (and pedal
// releases) go out first, so that no note is left hanging on a synth that
// will never hear its note-off.

// EndsSound(), which tells the messages that let go of something sounding,
// comes from MidiBytes.h.

// Message was just handed to open output k for input n. `fromPressure`
// marks a pitch bend converted from channel pressure.
void TrackSent(int input, int output, uint32_t message, bool fromPressure);

// Sends note-off for every note input n holds on output k, a pedal release
// where a pedal is down, and a centred bend where it bent from pressure;
// forgets what was handed over (a refused send stays for the next release).
// What another input still holds there (the same note, pedal or bent
// channel) is left sounding for that input to let go. Where the capture
// callbacks send, made at the start of the next cycle and waited for.
void ReleaseSounding(int input, int output);

// Capture thread, at the start of a cycle where the capture callbacks send:
// the releases the main thread handed over (see ReleaseSounding), sent at
// `time`, the cycle's first time stamp.
void ReleaseAtCycleStart(uintptr_t time);

// Every input's notes on output k (before the output closes), each once.
void ReleaseOutput(int output);

// Input n's notes on every output (after the input closes).
void ReleaseInput(int input);

// Centres the pitch bends input n made from pressure, on every output that
// got them and no other input bends (when its conversion is turned off).
void CentrePressureBends(int input);

// Changes input n's routing, releasing what it leaves behind: notes on
// outputs it no longer reaches, bends it no longer makes.
void SetRouting(int input, int32_t routeMask, bool atToPb, bool chVoiceOnly);

void ResetSoundingNotes();
