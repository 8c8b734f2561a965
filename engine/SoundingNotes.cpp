#include "SoundingNotes.h"

#include "MessagePath.h"
#include "RoutingSettings.h"

#include <bit>

namespace {

struct Sounding {
    uint64_t notes[16][2];  // per channel, one bit per note number
    uint16_t pedalDown;     // per channel
    uint16_t bent;          // per channel, bent by converted pressure
};

// [input - 1][output - 1]
Sounding Table[3][3];

constexpr uint8_t SustainPedal = 64;
constexpr uint8_t AllSoundOff = 120;
constexpr uint8_t AllNotesOff = 123;

uint32_t Message(uint8_t status, uint8_t data1, uint8_t data2)
{
    return status | uint32_t(data1) << 8 | uint32_t(data2) << 16;
}

}  // namespace

void TrackSent(int input, int output, uint32_t message, bool fromPressure)
{
    Sounding& s = Table[input - 1][output - 1];
    const uint8_t status = StatusOf(message);
    const uint8_t channel = status & 0x0F;
    const uint8_t data1 = Data1Of(message) & 0x7F;
    const uint8_t data2 = Data2Of(message) & 0x7F;
    const uint64_t bit = uint64_t(1) << (data1 & 63);
    switch (status & 0xF0) {
    case 0x90:
        if (data2 != 0) {
            s.notes[channel][data1 >> 6] |= bit;
            break;
        }
        [[fallthrough]];  // velocity 0 is a note-off
    case 0x80:
        s.notes[channel][data1 >> 6] &= ~bit;
        break;
    case 0xB0:
        if (data1 == SustainPedal) {
            if (data2 >= 64)
                s.pedalDown |= uint16_t(1u << channel);
            else
                s.pedalDown &= uint16_t(~(1u << channel));
        } else if (data1 == AllNotesOff || data1 == AllSoundOff) {
            s.notes[channel][0] = s.notes[channel][1] = 0;
        }
        break;
    case 0xE0:
        if (fromPressure) {
            if (data1 == 0 && data2 == 64)
                s.bent &= uint16_t(~(1u << channel));
            else
                s.bent |= uint16_t(1u << channel);
        }
        break;
    default:
        break;
    }
}

namespace {

// What the other inputs hold on output k: a release leaves that sounding, so
// that it goes out only when its last holder lets go or is released.
Sounding HeldByOthers(int input, int output)
{
    Sounding held{};
    for (int other = 1; other <= 3; ++other) {
        if (other == input)
            continue;
        const Sounding& s = Table[other - 1][output - 1];
        for (int channel = 0; channel < 16; ++channel) {
            held.notes[channel][0] |= s.notes[channel][0];
            held.notes[channel][1] |= s.notes[channel][1];
        }
        held.pedalDown |= s.pedalDown;
        held.bent |= s.bent;
    }
    return held;
}

void CentreBends(Sounding& s, uint16_t keep, int output)
{
    for (uint8_t channel = 0; channel < 16; ++channel) {
        if (s.bent & ~keep & (1u << channel))
            SendToOutput(output, Message(0xE0 | channel, 0, 64));
    }
    s.bent = 0;
}

}  // namespace

void ReleaseSounding(int input, int output)
{
    Sounding& s = Table[input - 1][output - 1];
    const Sounding others = HeldByOthers(input, output);
    CentreBends(s, others.bent, output);
    for (uint8_t channel = 0; channel < 16; ++channel) {
        for (int half = 0; half < 2; ++half) {
            const uint64_t mine = s.notes[channel][half] & ~others.notes[channel][half];
            for (uint64_t bits = mine; bits; bits &= bits - 1) {
                const auto note = static_cast<uint8_t>(half * 64 + std::countr_zero(bits));
                SendToOutput(output, Message(0x80 | channel, note, 64));
            }
            s.notes[channel][half] = 0;
        }
        if (s.pedalDown & ~others.pedalDown & (1u << channel))
            SendToOutput(output, Message(0xB0 | channel, SustainPedal, 0));
    }
    s.pedalDown = 0;
}

void ReleaseOutput(int output)
{
    // One input after another: what two inputs share goes out with the last.
    for (int input = 1; input <= 3; ++input)
        ReleaseSounding(input, output);
}

void ReleaseInput(int input)
{
    for (int output = 1; output <= 3; ++output)
        ReleaseSounding(input, output);
}

void CentrePressureBends(int input)
{
    for (int output = 1; output <= 3; ++output)
        CentreBends(Table[input - 1][output - 1], HeldByOthers(input, output).bent, output);
}

void SetRouting(int input, int32_t routeMask, bool atToPb, bool chVoiceOnly)
{
    const int32_t cut = RoutingOptions.RouteMask[input - 1] & ~routeMask;
    for (int output = 1; output <= 3; ++output) {
        if (cut & (1 << (output - 1)))
            ReleaseSounding(input, output);
    }
    if (RoutingOptions.AtToPb[input - 1] && !atToPb)
        CentrePressureBends(input);
    RoutingOptions.RouteMask[input - 1] = routeMask;
    RoutingOptions.AtToPb[input - 1] = atToPb ? 1 : 0;
    SetChannelVoiceOnly(input, chVoiceOnly);
}

void ResetSoundingNotes()
{
    for (auto& row : Table)
        for (Sounding& s : row)
            s = Sounding{};
}
