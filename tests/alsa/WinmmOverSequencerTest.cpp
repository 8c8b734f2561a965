// The Windows program's engine over wine's own winmm, inside the guest
// scripts/alsa-vm boots: wine reaches MIDI through the kernel's sequencer,
// so its winmm lists the guest's virtual raw MIDI devices, whose files this
// test writes and reads as Z:\dev\snd\midiC0Dn.

#include "EngineFixture.h"
#include "EngineReset.h"
#include "GuestDevices.h"
#include "MessagePath.h"
#include "MidiPorts.h"
#include "Patience.h"
#include "RawMidiFile.h"
#include "RoutingSettings.h"
#include "SoundingNotes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace {

std::vector<std::string> Notices;

// What the main thread does on its wake-ups, as the windows would.
bool Serve(const std::function<bool()>& done, int ms)
{
    return Poll(
        [&] {
            DrainEvents();
            return done();
        },
        ms);
}

// Message lengths with their first and last bytes, for a failure's message.
std::string Shape(const std::vector<Bytes>& messages)
{
    std::string shape;
    char part[64];
    for (const Bytes& m : messages) {
        std::snprintf(part, sizeof part, " %zu:%02X..%02X", m.size(), m.front(), m.back());
        shape += part;
    }
    return shape;
}

class OverWinmm : public testing::Test {
protected:
    void SetUp() override
    {
        ResetEngine();
        SetWakeUpTarget(&wakeUps);
        EngineHooks.ShowErrorNotice = [](const char* text, const char*) { Notices.push_back(text); };
        EnumerateDevices();  // the system's own: winmm
    }
    void TearDown() override
    {
        CloseAllDevices();
        ReleaseDeviceService();
        FreeDeviceNames();
        ResetEngine();
    }

    CountingWakeUp wakeUps;
};

TEST_F(OverWinmm, RoutesConvertsPassesDumpsWholeAndReleasesWhatACutRouteLeaves)
{
    const int32_t keysIn = Selection(InDeviceNames, VirtualDevice(0));
    ASSERT_NE(0, keysIn) << "winmm lists no virtual devices (run this through scripts/alsa-vm --wine): "
                         << testing::PrintToString(InDeviceNames);
    SelectInput(1, keysIn);
    for (int n = 1; n <= 3; ++n)
        SelectOutput(n, Selection(OutDeviceNames, VirtualDevice(n)));
    ASSERT_EQ(keysIn, OpenSelection[InputPort(1)]);
    for (int n = 1; n <= 3; ++n)
        ASSERT_NE(0, OpenSelection[OutputPort(n)]) << "output " << n;
    SetRouting(1, 0b011, true, false);

    RawMidiFile keys(0), a(1), b(2), unrouted(3);
    ASSERT_TRUE(keys.opened() && a.opened() && b.opened() && unrouted.opened());
    ASSERT_TRUE(Prime(keys, {&a, &b}, Serve));

    // Channel pressure leaves as a pitch bend.
    keys.write({0x90, 60, 100, 0xD0, 0x40});
    const std::vector<Bytes> played{{0x90, 60, 100}, {0xE0, 0x00, 0x60}};
    EXPECT_TRUE(Serve([&] { return a.messages() == played && b.messages() == played; }, PatienceMs))
        << a.messages().size() << " " << b.messages().size();

    // More dumps than winmm has input buffers, so the buffers must go back
    // to the driver; one at a time, each under 4 KiB, since the far end's
    // read buffer takes a dump in one event or drops what does not fit.
    constexpr size_t Dumps = 12;
    for (size_t d = 0; d < Dumps; ++d) {
        Bytes dump{0xF0, 0x7D, uint8_t(d)};
        for (size_t i = 0; i < 3000; ++i)
            dump.push_back(uint8_t((i * 7 + d) % 128));
        dump.push_back(0xF7);
        keys.write(dump);
        for (RawMidiFile* synth : {&a, &b}) {
            const size_t count = played.size() + d + 1;
            Serve([&] { return synth->messages().size() >= count && synth->messages().back().back() == 0xF7; },
                  PatienceMs);
            const std::vector<Bytes> got = synth->messages();
            ASSERT_EQ(count, got.size()) << "dump " << d << ":" << Shape(got);
            ASSERT_TRUE(dump == got.back()) << "dump " << d << ":" << Shape(got);
        }
    }

    // Cut from output 1 while the note sounds and the pitch is bent.
    SetRouting(1, 0b010, true, false);
    const auto centred = [](const std::vector<Bytes>& got) {
        return std::find(got.begin(), got.end(), Bytes{0xE0, 0x00, 0x40}) != got.end();
    };
    EXPECT_TRUE(Serve([&] { return Sounding(a.messages()).empty() && centred(a.messages()); }, PatienceMs))
        << "the cut left a note sounding or the pitch bent:" << Shape(a.messages());
    // What is played after the cut reaches output 2 only.
    keys.write({0x91, 61, 90});
    EXPECT_TRUE(Serve([&] { return b.messages().back() == Bytes{0x91, 61, 90}; }, PatienceMs)) << Shape(b.messages());
    const std::vector<Bytes> cut = a.messages();
    EXPECT_EQ(cut.end(), std::find(cut.begin(), cut.end(), Bytes{0x91, 61, 90})) << "output 1 still gets input 1";
    EXPECT_EQ(std::vector<Bytes>{}, unrouted.messages());
    EXPECT_EQ(std::vector<std::string>{}, Notices);
}

}  // namespace
