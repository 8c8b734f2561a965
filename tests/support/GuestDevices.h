#pragma once

#include "RawMidiFile.h"

#include <functional>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

// The devices of the guest scripts/alsa-vm boots: virtual raw MIDI device n
// is a sequencer client whose far end is the file /dev/snd/midiC0Dn.

// The start of virtual device n's name in the program's lists.
std::string VirtualDevice(int n);

// A device's selection index, by the start of its name; 0 if not listed.
int32_t Selection(const std::vector<std::string>& names, const std::string& start);

using WaitFunction = std::function<bool(const std::function<bool()>&, int)>;

// Until the ports are subscribed what is played is lost: plays note-offs
// into `keys` until every listener hears one, then a last one all of them
// must hear last, and forgets them all.
bool Prime(RawMidiFile& keys, std::initializer_list<MidiListener*> listeners, const WaitFunction& wait);

// The notes a stream leaves sounding, by channel and key.
std::set<int> Sounding(const std::vector<Bytes>& messages);
