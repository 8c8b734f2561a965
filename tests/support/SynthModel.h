#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

// What a synth behind an output is left doing: notes sounding, pedals down,
// pitch bends away from centre, as the messages it heard, in order, leave it.
class SynthModel {
public:
    void hear(const std::vector<uint8_t>& bytes);
    // Empty when nothing sounds; else what does, for the test's message.
    std::string leftSounding() const;

private:
    bool m_notes[16][128]{};
    bool m_sustain[16]{};
    bool m_sostenuto[16]{};
    uint8_t m_bend[16]{64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64};
};

// One message of what a player sends: notes on and off, sustain and
// sostenuto pedals, channel pressure, on a few channels and notes so that
// inputs meet on them.
std::vector<uint8_t> RandomPlayerMessage(std::mt19937& random);

// A change a user makes while playing, for input or output n: input n's
// routing set anew, or output n reopened through `reopen(n)`. Returns false,
// changing nothing, for a step the caller gives to the player instead.
bool RandomUserChange(std::mt19937& random, int n, const std::function<void(int)>& reopen);
