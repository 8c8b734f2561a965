#include "SoundingNotes.h"

#include "MessagePath.h"
#include "RoutingSettings.h"

#include <atomic>
#include <bit>

namespace {

constexpr uint8_t SustainPedal = 64;
constexpr uint8_t SostenutoPedal = 66;
constexpr uint8_t AllSoundOff = 120;
constexpr uint8_t AllNotesOff = 123;

// Written on the capture thread where the service sends from there, read
// and released on the main thread, hence atomic words. Relaxed is enough: a
// route's record is released only after its route is cut and the capture
// callbacks that could still write it have returned.
struct Sounding {
    std::atomic<uint64_t> notes[16][2];  // per channel, one bit per note number
    std::atomic<uint16_t> pedalDown;     // per channel, sustain
    std::atomic<uint16_t> sostenutoDown; // per channel
    std::atomic<uint16_t> bent;          // per channel, bent by converted pressure
};

// A plain copy, for what other inputs hold.
struct Held {
    uint64_t notes[16][2];
    uint16_t pedalDown;
    uint16_t sostenutoDown;
    uint16_t bent;
};

// [input - 1][output - 1]
Sounding Table[3][3];

constexpr auto Relaxed = std::memory_order_relaxed;

uint32_t Message(uint8_t status, uint8_t data1, uint8_t data2)
{
    return status | uint32_t(data1) << 8 | uint32_t(data2) << 16;
}

void SetChannelBit(std::atomic<uint16_t>& bits, uint8_t channel, bool on)
{
    const auto bit = uint16_t(1u << channel);
    if (on)
        bits.fetch_or(bit, Relaxed);
    else
        bits.fetch_and(uint16_t(~bit), Relaxed);
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
            s.notes[channel][data1 >> 6].fetch_or(bit, Relaxed);
            break;
        }
        [[fallthrough]];  // velocity 0 is a note-off
    case 0x80:
        s.notes[channel][data1 >> 6].fetch_and(~bit, Relaxed);
        break;
    case 0xB0:
        if (data1 == SustainPedal) {
            SetChannelBit(s.pedalDown, channel, data2 >= 64);
        } else if (data1 == SostenutoPedal) {
            SetChannelBit(s.sostenutoDown, channel, data2 >= 64);
        } else if (data1 == AllNotesOff || data1 == AllSoundOff) {
            s.notes[channel][0].store(0, Relaxed);
            s.notes[channel][1].store(0, Relaxed);
        }
        break;
    case 0xE0:
        if (fromPressure)
            SetChannelBit(s.bent, channel, !(data1 == 0 && data2 == 64));
        break;
    default:
        break;
    }
}

namespace {

// What the other inputs hold on output k: a release leaves that sounding, so
// that it goes out only when its last holder lets go or is released.
Held HeldByOthers(int input, int output)
{
    Held held{};
    for (int other = 1; other <= 3; ++other) {
        if (other == input)
            continue;
        const Sounding& s = Table[other - 1][output - 1];
        for (int channel = 0; channel < 16; ++channel) {
            held.notes[channel][0] |= s.notes[channel][0].load(Relaxed);
            held.notes[channel][1] |= s.notes[channel][1].load(Relaxed);
        }
        held.pedalDown |= s.pedalDown.load(Relaxed);
        held.sostenutoDown |= s.sostenutoDown.load(Relaxed);
        held.bent |= s.bent.load(Relaxed);
    }
    return held;
}

// Sends `release(channel)` on every channel set in `mine` and not in
// `others`; what another input holds is forgotten here without a send, and
// what could not be handed to the device stays for the next release.
template <typename Send, typename Release>
void ReleaseChannels(std::atomic<uint16_t>& mine, uint16_t others, Send& send, Release release)
{
    uint16_t kept = 0;
    const uint16_t bits = mine.load(Relaxed);
    for (uint8_t channel = 0; channel < 16; ++channel) {
        const auto bit = uint16_t(1u << channel);
        if ((bits & ~others & bit) && !send(release(channel)))
            kept |= bit;
    }
    // Only what was looked at: a live input may have set more meanwhile.
    mine.fetch_and(uint16_t(~(bits & ~kept)), Relaxed);
}

template <typename Send>
void CentreBends(Sounding& s, uint16_t others, Send& send)
{
    ReleaseChannels(s.bent, others, send, [](uint8_t channel) { return Message(0xE0 | channel, 0, 64); });
}

// Input n's record on output k let go of through `send`, which says whether
// the device took each message.
template <typename Send>
void Release(int input, int output, Send send)
{
    Sounding& s = Table[input - 1][output - 1];
    const Held others = HeldByOthers(input, output);
    CentreBends(s, others.bent, send);
    for (uint8_t channel = 0; channel < 16; ++channel) {
        for (int half = 0; half < 2; ++half) {
            const uint64_t seen = s.notes[channel][half].load(Relaxed);
            uint64_t kept = 0;
            for (uint64_t bits = seen & ~others.notes[channel][half]; bits; bits &= bits - 1) {
                const auto note = static_cast<uint8_t>(half * 64 + std::countr_zero(bits));
                if (!send(Message(0x80 | channel, note, 64)))
                    kept |= bits & -bits;
            }
            s.notes[channel][half].fetch_and(~(seen & ~kept), Relaxed);
        }
    }
    // The pedals after the notes, as a player lets go of them.
    ReleaseChannels(s.pedalDown, others.pedalDown, send,
                    [](uint8_t channel) { return Message(0xB0 | channel, SustainPedal, 0); });
    ReleaseChannels(s.sostenutoDown, others.sostenutoDown, send,
                    [](uint8_t channel) { return Message(0xB0 | channel, SostenutoPedal, 0); });
}

constexpr uint32_t ReleaseBit(int input, int output)
{
    return 1u << ((input - 1) * 3 + output - 1);
}

// Every route into output k, and every route out of input n.
constexpr uint32_t RoutesTo(int output)
{
    return ReleaseBit(1, output) | ReleaseBit(2, output) | ReleaseBit(3, output);
}

constexpr uint32_t RoutesFrom(int input)
{
    return ReleaseBit(input, 1) | ReleaseBit(input, 2) | ReleaseBit(input, 3);
}

// Releases and pressure bends to centre, handed to the capture thread, one
// ReleaseBit each. Where the capture callbacks send, another input may
// strike a note or bend on the output while the main thread decides what to
// let go of there; decided at the start of a cycle, between two cycles'
// messages, the record and what the output carries agree.
std::atomic<uint32_t> CycleReleases{0};
std::atomic<uint32_t> CycleCentres{0};

// Main thread: `act(input, output, send)` for each route of `bits`, input by
// input, output by output. Those on an output the capture callbacks send to
// are made at the next cycle's start through `handover`, and waited for;
// what no cycle took (a stopped server runs none, and then nothing else
// sends either) is made here.
template <typename Act>
void AtNextCycle(std::atomic<uint32_t>& handover, uint32_t bits, Act act)
{
    uint32_t handed = 0;
    if (SendingFromCapture()) {
        for (int output = 1; output <= 3; ++output) {
            if (CaptureOutputs[output - 1].load())
                handed |= bits & RoutesTo(output);
        }
    }
    if (handed) {
        handover.fetch_or(handed, std::memory_order_seq_cst);
        DeviceService->waitForCycle();
        bits = (bits & ~handed) | (handover.fetch_and(~handed, std::memory_order_seq_cst) & handed);
    }
    for (int input = 1; input <= 3; ++input) {
        for (int output = 1; output <= 3; ++output) {
            if (bits & ReleaseBit(input, output))
                act(input, output, [output](uint32_t message) { return SendToOutput(output, message); });
        }
    }
}

void ReleaseMany(uint32_t bits)
{
    AtNextCycle(CycleReleases, bits, [](int input, int output, auto send) { Release(input, output, send); });
}

void CentreBendsOf(int input, int output, auto send)
{
    CentreBends(Table[input - 1][output - 1], HeldByOthers(input, output).bent, send);
}

}  // namespace

void ReleaseSounding(int input, int output)
{
    ReleaseMany(ReleaseBit(input, output));
}

void ReleaseAtCycleStart(uintptr_t time)
{
    if (CycleReleases.load(Relaxed) == 0 && CycleCentres.load(Relaxed) == 0)
        return;
    const uint32_t releases = CycleReleases.exchange(0, std::memory_order_seq_cst);
    const uint32_t centres = CycleCentres.exchange(0, std::memory_order_seq_cst);
    for (int input = 1; input <= 3; ++input) {
        for (int output = 1; output <= 3; ++output) {
            auto send = [output, time](uint32_t message) { return SendFromCycle(output, message, time); };
            if (releases & ReleaseBit(input, output))
                Release(input, output, send);
            else if (centres & ReleaseBit(input, output))
                CentreBendsOf(input, output, send);
        }
    }
}

void ReleaseOutput(int output)
{
    // One input after another: what two inputs share goes out with the last.
    ReleaseMany(RoutesTo(output));
}

void ReleaseInput(int input)
{
    ReleaseMany(RoutesFrom(input));
}

void CentrePressureBends(int input)
{
    AtNextCycle(CycleCentres, RoutesFrom(input),
                [](int from, int output, auto send) { CentreBendsOf(from, output, send); });
}

void SetRouting(int input, int32_t routeMask, bool atToPb, bool chVoiceOnly)
{
    const int32_t cut = RouteMaskOf(input) & ~routeMask;
    const bool unbend = PressureToBend(input) && !atToPb;
    SetRouteMask(input, routeMask);
    SetPressureToBend(input, atToPb);
    SetChannelVoiceOnly(input, chVoiceOnly);
    // A capture callback that read the old settings may still be sending
    // under them; what it sends must be in the record before it is released.
    if (cut || unbend)
        WaitForCapture();
    uint32_t releases = 0;
    for (int output = 1; output <= 3; ++output) {
        if (cut & (1 << (output - 1)))
            releases |= ReleaseBit(input, output);
    }
    if (releases)
        ReleaseMany(releases);
    if (unbend)
        CentrePressureBends(input);
}

void ResetSoundingNotes()
{
    CycleReleases.store(0);
    CycleCentres.store(0);
    for (auto& row : Table) {
        for (Sounding& s : row) {
            for (auto& channel : s.notes) {
                channel[0].store(0, Relaxed);
                channel[1].store(0, Relaxed);
            }
            s.pedalDown.store(0, Relaxed);
            s.sostenutoDown.store(0, Relaxed);
            s.bent.store(0, Relaxed);
        }
    }
}
