#include "EngineFixture.h"
#include "MessagePath.h"
#include "MidiPorts.h"
#include "RoutingSettings.h"
#include "SoundingNotes.h"

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

}  // namespace
