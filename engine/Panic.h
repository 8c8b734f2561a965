#pragma once

// The panic: silences every open output. First the releases the record
// holds (bends centred, note-offs, pedals let go), then All Notes Off and
// Reset All Controllers on all 16 channels, for what the record never saw
// (a note whose note-off was lost upstream, a synth's own stuck voices).
// Main thread. Afterwards the record holds nothing from before the call
// but what a device refused to take, kept for the next release.
void SendPanic();
