#include "EngineFixture.h"
#include "EngineHooks.h"
#include "EventRing.h"
#include "MessagePath.h"
#include "MidiPorts.h"
#include "Panic.h"
#include "RoutingSettings.h"
#include "SoundingNotes.h"
#include "SynthModel.h"

#include <optional>
#include <random>

namespace {

using Messages = std::vector<uint32_t>;

// Musicians hold notes while they change the routing: nothing may be left
// sounding where its note-off can no longer arrive.
class StuckNotes : public EngineFixture {
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        SelectInput(1, 1);
        SelectInput(2, 2);
        for (int k = 1; k <= 3; ++k)
            SelectOutput(k, k);
        RoutingOptions.RouteMask[0] = 3;  // input 1 to outputs 1 and 2
    }

    void route(uint32_t device, std::initializer_list<uint32_t> messages)
    {
        play(device, messages);
        DrainEvents();
        fake.clearSent();
    }
};

TEST_F(StuckNotes, CuttingARouteReleasesTheNotesHeldThere)
{
    route(0, {Msg(0x90, 60, 100), Msg(0x91, 64, 90), Msg(0x90, 67, 80), Msg(0x80, 67, 0), Msg(0x90, 72, 0)});
    SetRouting(1, 2, false, false);  // output 1 cut, output 2 kept
    EXPECT_EQ((Messages{Msg(0x80, 60, 64), Msg(0x81, 64, 64)}), fake.sent(0));
    EXPECT_TRUE(fake.sent(1).empty());
    EXPECT_EQ(2, RoutingOptions.RouteMask[0]);
    // Released once: cutting again sends nothing.
    fake.clearSent();
    SetRouting(1, 0, false, false);
    EXPECT_EQ((Messages{Msg(0x80, 60, 64), Msg(0x81, 64, 64)}), fake.sent(1));
    EXPECT_TRUE(fake.sent(0).empty());
}

TEST_F(StuckNotes, APedalHeldDownIsReleasedToo)
{
    route(0, {Msg(0xB2, 64, 127), Msg(0x92, 40, 100), Msg(0xB3, 64, 127), Msg(0xB3, 64, 0)});
    SetRouting(1, 2, false, false);
    EXPECT_EQ((Messages{Msg(0x82, 40, 64), Msg(0xB2, 64, 0)}), fake.sent(0));
}

TEST_F(StuckNotes, AllNotesOffForgetsTheChannel)
{
    route(0, {Msg(0x90, 60, 100), Msg(0x91, 61, 100), Msg(0xB0, 123, 0)});
    SetRouting(1, 0, false, false);
    EXPECT_EQ((Messages{Msg(0x81, 61, 64)}), fake.sent(0));
}

TEST_F(StuckNotes, ClosingOrReopeningAnOutputReleasesItsNotesFirst)
{
    RoutingOptions.RouteMask[1] = 1;
    route(0, {Msg(0x90, 60, 100)});
    route(1, {Msg(0x95, 127, 1)});
    fake.clearCalls();
    SelectOutput(1, 1);  // the same device again
    EXPECT_EQ((Messages{Msg(0x80, 60, 64), Msg(0x85, 127, 64)}), fake.sent(0));
    EXPECT_EQ((std::vector<std::string>{"close out 0", "open out 0"}), fake.calls());
    fake.clearSent();
    SelectOutput(1, 0);
    EXPECT_TRUE(fake.sent(0).empty());  // nothing left to release
}

TEST_F(StuckNotes, ClosingAnInputReleasesWhatItLeftEverywhere)
{
    route(0, {Msg(0x90, 60, 100)});
    play(0, {Msg(0x90, 62, 100)});  // still in the ring when the input closes
    SelectInput(1, 0);
    EXPECT_EQ((Messages{Msg(0x90, 62, 100), Msg(0x80, 60, 64), Msg(0x80, 62, 64)}), fake.sent(0));
    EXPECT_EQ((Messages{Msg(0x90, 62, 100), Msg(0x80, 60, 64), Msg(0x80, 62, 64)}), fake.sent(1));
}

TEST_F(StuckNotes, ANoteTwoInputsHoldIsReleasedWithItsLastHolder)
{
    RoutingOptions.RouteMask[1] = 1;
    route(0, {Msg(0x90, 60, 100), Msg(0xB0, 64, 127)});
    route(1, {Msg(0x90, 60, 90), Msg(0xB0, 64, 127), Msg(0x90, 62, 90)});
    SetRouting(1, 2, false, false);  // input 2 still holds note and pedal on output 1
    EXPECT_TRUE(fake.sent(0).empty());
    SelectInput(2, 0);
    EXPECT_EQ((Messages{Msg(0x80, 60, 64), Msg(0x80, 62, 64), Msg(0xB0, 64, 0)}), fake.sent(0));
}

TEST_F(StuckNotes, TurningPressureToBendOffCentresTheBentChannels)
{
    RoutingOptions.AtToPb[0] = 1;
    route(0, {Msg(0xD3, 0x50), Msg(0xD5, 0x00), Msg(0xD6, 0x7F)});
    SetRouting(1, 3, true, false);  // still on: nothing to do
    EXPECT_TRUE(fake.sendLog().empty());
    SetRouting(1, 1, false, false);
    // Channel 5 went back to the centre on its own; 3 and 6 are centred now.
    // Output 2 is cut as well, and centred first.
    EXPECT_EQ((Messages{Msg(0xE3, 0, 64), Msg(0xE6, 0, 64)}), fake.sent(0));
    EXPECT_EQ((Messages{Msg(0xE3, 0, 64), Msg(0xE6, 0, 64)}), fake.sent(1));
}

TEST_F(StuckNotes, ACutRouteIsCentredAsWellAsReleased)
{
    RoutingOptions.AtToPb[0] = 1;
    route(0, {Msg(0xD2, 0x40), Msg(0x92, 50, 90)});
    SetRouting(1, 2, true, false);
    EXPECT_EQ((Messages{Msg(0xE2, 0, 64), Msg(0x82, 50, 64)}), fake.sent(0));
    EXPECT_TRUE(fake.sent(1).empty());
}

TEST_F(StuckNotes, NothingIsTrackedForAClosedOutput)
{
    RoutingOptions.RouteMask[0] = 4;
    SelectOutput(3, 0);
    route(0, {Msg(0x90, 60, 100)});
    SelectOutput(3, 3);
    SetRouting(1, 0, false, false);
    EXPECT_TRUE(fake.sent(2).empty());
}

TEST_F(StuckNotes, ShutdownLeavesNothingSounding)
{
    RoutingOptions.RouteMask[1] = 4;
    route(0, {Msg(0x90, 60, 100)});
    route(1, {Msg(0x9F, 1, 1)});
    CloseAllDevices();
    EXPECT_EQ((Messages{Msg(0x80, 60, 64)}), fake.sent(0));
    EXPECT_EQ((Messages{Msg(0x80, 60, 64)}), fake.sent(1));
    EXPECT_EQ((Messages{Msg(0x8F, 1, 64)}), fake.sent(2));
}

TEST_F(StuckNotes, OnlyWhatTheDeviceTookIsRecorded)
{
    fake.refuseSends(0, true);
    route(0, {Msg(0x90, 60, 100)});  // never sounded: nothing to release
    fake.refuseSends(0, false);
    route(0, {Msg(0x90, 61, 100)});
    fake.refuseSends(0, true);
    SetRouting(1, 2, false, false);  // the note-off is refused: 61 still sounds
    fake.refuseSends(0, false);
    SetRouting(1, 3, false, false);
    SetRouting(1, 2, false, false);
    EXPECT_EQ((Messages{Msg(0x80, 61, 64)}), fake.sent(0));
}

// While a notice is up nothing drains: a clock fills the ring, yet the
// note-off behind it gets in, and where even releases no longer fit the
// input's notes are released once the ring is drained.
TEST_F(StuckNotes, AFullRingLeavesNoNoteWithoutItsNoteOff)
{
    {
        NoticeScope notice;
        play(0, {Msg(0x90, 60, 100)});
        for (uint32_t i = 0; i < EventRingSlots; ++i)
            play(0, {Msg(0xF8)});
        play(0, {Msg(0x80, 60, 0)});
    }
    DrainEvents();
    EXPECT_EQ(Msg(0x80, 60, 0), fake.sent(0).back());
    route(0, {Msg(0x90, 61, 100)});
    {
        NoticeScope notice;
        for (uint32_t i = 0; i < EventRingSlots; ++i)
            play(0, {Msg(0x82, 1, 0)});
        play(0, {Msg(0x80, 61, 0)});  // refused
    }
    DrainEvents();
    EXPECT_EQ(Msg(0x80, 61, 64), fake.sent(0).back());
}

// Three players, routes cut and made, outputs reopened, pressure to bend
// turned on and off, notices up, on either thread's routing: afterwards
// nothing sounds on any output.
class RandomSession : public StuckNotes, public ::testing::WithParamInterface<bool> {};

TEST_P(RandomSession, LeavesNothingSounding)
{
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    fake.sendFromCapture(GetParam());
    SelectInput(1, 1);  // again, now routing where the service allows
    SelectInput(2, 2);
    SelectInput(3, 3);
    std::optional<NoticeScope> notice;
    for (int step = 0; step < 300; ++step) {
        const int n = 1 + static_cast<int>(random() % 3);
        if (!RandomUserChange(random, n, [](int k) { SelectOutput(k, k); })) {
            if (random() % 4 == 0) {
                notice.reset();
                if (random() % 2)
                    notice.emplace();
            }
            for (int i = 0; i < 10; ++i) {
                const std::vector<uint8_t> bytes = RandomPlayerMessage(random);
                fake.deliver(n - 1, Msg(bytes[0], bytes[1], bytes.size() > 2 ? bytes[2] : 0));
            }
        }
        bool handled = false;
        ApplicationMessage(WakeUpMessage, handled);
    }
    notice.reset();
    fake.waitDelivered();
    CloseAllDevices();
    for (uint32_t device = 0; device < 3; ++device) {
        SynthModel model;
        for (const uint32_t message : fake.sent(device))
            model.hear({StatusOf(message), Data1Of(message), Data2Of(message)});
        EXPECT_EQ("", model.leftSounding()) << "output " << device + 1;
    }
}

INSTANTIATE_TEST_SUITE_P(OnEitherThread, RandomSession, ::testing::Bool());

// Where the capture callbacks route, a note another input strikes while a
// cut route's note-offs go out is not cut by one of them, and the record
// lets go of it when the output closes.
TEST_F(StuckNotes, ANoteStruckWhileACutRouteIsReleasedKeepsSounding)
{
    fake.sendFromCapture(true);
    SelectInput(1, 1);
    SelectInput(2, 2);
    RoutingOptions.RouteMask[1] = 1;
    play(0, {Msg(0x90, 60, 100), Msg(0x90, 61, 100)});
    fake.deliverWhenSent(0, Msg(0x80, 60, 64), 1, Msg(0x90, 61, 90));
    SetRouting(1, 2, false, false);
    fake.waitDelivered();
    SelectOutput(1, 0);
    EXPECT_EQ((Messages{Msg(0x90, 60, 100), Msg(0x90, 61, 100), Msg(0x80, 60, 64), Msg(0x80, 61, 64), Msg(0x90, 61, 90),
                        Msg(0x80, 61, 64)}),
              fake.sent(0));
}

// The same for a bend another input makes from pressure while pressure to
// bend is turned off for the first: its bend is not centred under it.
TEST_F(StuckNotes, ABendMadeWhilePressureBendsAreCentredStays)
{
    fake.sendFromCapture(true);
    SelectInput(1, 1);
    SelectInput(2, 2);
    RoutingOptions.RouteMask[0] = 1;
    RoutingOptions.RouteMask[1] = 1;
    RoutingOptions.AtToPb[0] = RoutingOptions.AtToPb[1] = 1;
    play(0, {Msg(0xD0, 100), Msg(0xD1, 100)});
    const uint32_t othersBend = PressureToPitchBend(0xD1, 30);
    fake.deliverWhenSent(0, Msg(0xE0, 0, 64), 1, Msg(0xD1, 30));
    SetRouting(1, 1, false, false);
    fake.waitDelivered();
    SelectOutput(1, 0);
    EXPECT_EQ((Messages{PressureToPitchBend(0xD0, 100), PressureToPitchBend(0xD1, 100), Msg(0xE0, 0, 64),
                        Msg(0xE1, 0, 64), othersBend, Msg(0xE1, 0, 64)}),
              fake.sent(0));
}

}  // namespace

// The panic key: what the record holds goes first (a note still queued
// included), each once, then every channel of every open output is told to
// stop; a second panic finds nothing left to release.
TEST_F(StuckNotes, PanicReleasesWhatIsHeldThenSilencesEveryChannelOfEveryOpenOutput)
{
    RoutingOptions.RouteMask[1] = 1;
    RoutingOptions.AtToPb[0] = 1;
    route(0, {Msg(0x90, 60, 100), Msg(0xB0, 64, 127), Msg(0xD0, 100)});
    route(1, {Msg(0x90, 60, 90)});
    play(0, {Msg(0x90, 62, 100)});
    SendPanic();
    Messages silence;
    for (uint8_t channel = 0; channel < 16; ++channel) {
        silence.push_back(Msg(0xB0 | channel, 123, 0));
        silence.push_back(Msg(0xB0 | channel, 121, 0));
    }
    const auto then = [&](Messages first) {
        first.insert(first.end(), silence.begin(), silence.end());
        return first;
    };
    const Messages released = {Msg(0xE0, 0, 64), Msg(0x80, 62, 64), Msg(0xB0, 64, 0)};
    Messages output1 = {Msg(0x90, 62, 100)};
    output1.insert(output1.end(), released.begin(), released.end());
    output1.push_back(Msg(0x80, 60, 64));  // held by both inputs: once, with the last
    EXPECT_EQ(then(output1), fake.sent(0));
    Messages output2 = {Msg(0x90, 62, 100)};
    output2.insert(output2.end(), released.begin(), released.end());
    output2.insert(output2.begin() + 2, Msg(0x80, 60, 64));
    EXPECT_EQ(then(output2), fake.sent(1));
    EXPECT_EQ(silence, fake.sent(2));
    fake.clearSent();
    SendPanic();
    for (uint32_t device = 0; device < 3; ++device)
        EXPECT_EQ(silence, fake.sent(device));
}
