#include "AllocationCounter.h"
#include "EngineFixture.h"
#include "MessagePath.h"
#include "MidiPorts.h"
#include "RoutingSettings.h"

namespace {

using Capture = EngineFixture;

TEST_F(Capture, AllocatesNothingOnTheDeviceThread)
{
    SelectInput(1, 1);
    SelectInput(2, 2);
    SelectInput(3, 3);
    SetChannelVoiceOnly(2, true);
    const uint64_t before = CountedAllocations();
    for (int i = 0; i < 500; ++i) {
        fake.deliver(0, Msg(0x90, i % 128, 100));
        fake.deliver(1, Msg(0xF8));
        fake.deliver(2, Msg(0xD0, i % 128), i % 2 ? MIM_DATA : MIM_ERROR);
        if (i % 50 == 0)
            fake.deliverLong(0, {0xF0, 0x7D, static_cast<uint8_t>(i % 128), 0xF7});
    }
    fake.waitDelivered();
    EXPECT_EQ(before, CountedAllocations());
    EXPECT_EQ(760, wakeUps.posts());
}

// A wake-up target that allocates each time it is woken.
class AllocatingWakeUp final : public WakeUpTarget {
public:
    void Post() noexcept override
    {
        static void* volatile kept;
        kept = ::operator new(16);
        ::operator delete(kept);
    }
};

TEST_F(Capture, AnAllocationInACaptureIsSeen)
{
    // The proof above is only as good as its count: what the program's own
    // capture does, down to the wake-up it posts, must be counted.
    AllocatingWakeUp allocating;
    SetWakeUpTarget(&allocating);
    SelectInput(1, 1);
    const uint64_t before = CountedAllocations();
    play(0, {Msg(0x90, 60, 100), Msg(0x80, 60, 0)});
    EXPECT_EQ(before + 2, CountedAllocations());
    SelectInput(1, 0);  // before the target goes
    SetWakeUpTarget(&wakeUps);
}

TEST_F(Capture, StopsWhenTheInputCloses)
{
    SelectInput(1, 1);
    SelectOutput(1, 1);
    RoutingOptions.RouteMask[0] = 1;
    play(0, {Msg(0x90, 1, 1)});
    SelectInput(1, 0);
    play(0, {Msg(0x90, 2, 2)});
    DrainEvents();
    // What was captured before the close is still routed by its input number,
    // and the note it left sounding is released: its note-off cannot come now.
    EXPECT_EQ((std::vector<uint32_t>{Msg(0x90, 1, 1), Msg(0x80, 1, 64)}), fake.sent(0));
    EXPECT_EQ(1, wakeUps.posts());
}

// Where the capture callbacks route, a cycle wakes the main thread once at
// most, at its end, and only to light a lamp that is out.
TEST_F(Capture, RoutingInTheCycleWakesTheMainThreadOnlyForALampThatIsOut)
{
    fake.sendFromCapture(true);
    SelectInput(1, 1);
    SelectOutput(1, 1);
    RoutingOptions.RouteMask[0] = 1;
    const std::vector<uint32_t> cycle(40, Msg(0x90, 60, 100));
    fake.deliverCycle(0, cycle);
    EXPECT_EQ(1, wakeUps.posts());
    bool handled = false;
    ApplicationMessage(WakeUpMessage, handled);
    for (int tick = 0; tick < 3; ++tick) {  // lit, they stay lit while traffic goes on
        fake.deliverCycle(0, cycle);
        DecayActivity();
    }
    EXPECT_EQ((std::vector<bool>{true, false, false, true, false, false}), lamps());
    EXPECT_EQ(1, wakeUps.posts());
    DecayActivity();
    DecayActivity();
    fake.deliverCycle(0, cycle);
    EXPECT_EQ(2, wakeUps.posts());
}

}  // namespace
