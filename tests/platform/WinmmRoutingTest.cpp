// Routing on winmm's routing thread, over the in-memory service routing as
// the winmm service does: the main thread never drains here, so whatever
// arrives was routed and sent on that thread.

#include "AllocationCounter.h"
#include "EngineFixture.h"
#include "LostMessages.h"
#include "MessagePath.h"
#include "MidiPorts.h"
#include "SoundingNotes.h"
#include "SynthModel.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace {

class WinmmRouting : public EngineFixture {
protected:
    void SetUp() override
    {
        fake.routeOnThread();
        EngineFixture::SetUp();
        SelectInput(1, 1);
        SelectOutput(1, 1);
        SetRouting(1, 1, false, false);
    }

    // Waits, with a deadline a loaded machine meets, until output 1 has had
    // `count` messages.
    bool sentReaches(size_t count)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (fake.sent(0).size() < count && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return fake.sent(0).size() >= count;
    }

    // What output 1's synth is left doing by everything sent to it.
    std::string leftSounding()
    {
        SynthModel synth;
        for (const uint32_t message : fake.sent(0))
            synth.hear({StatusOf(message), Data1Of(message), Data2Of(message)});
        return synth.leftSounding();
    }
};

// A route cut, an output closed and an input closed while notes stream in,
// again and again: each time, every note the synth heard is let go.
TEST_F(WinmmRouting, ACutUnderAStreamLeavesNothingSounding)
{
    // Paced in bursts, as a cable would pace it, so that the ring never fills.
    std::jthread player([&](const std::stop_token& stop) {
        for (uint32_t i = 0; !stop.stop_requested(); ++i) {
            fake.deliver(0, Msg(static_cast<uint8_t>((i % 3 ? 0x90 : 0x80) | i / 7 % 4), i * 5 % 128, 100));
            if (i % 20 == 0)
                fake.waitDelivered();
        }
    });
    const std::function<void(int32_t)> cuts[] = {[](int32_t on) { SetRouting(1, on, false, false); },
                                                 [](int32_t on) { SelectOutput(1, on); },
                                                 [](int32_t on) { SelectInput(1, on); }};
    for (int round = 0; round < 30; ++round) {
        ASSERT_TRUE(sentReaches(fake.sent(0).size() + 50)) << "round " << round;
        cuts[round % 3](0);
        ASSERT_EQ("", leftSounding()) << "round " << round;
        cuts[round % 3](1);
    }
}

// A notice holds the main thread, not the music, and the routing thread
// allocates nothing; the lamps are the main thread's only part. What a
// burst faster than the output overflows is counted, a note-off still finds
// room, and the record of what sounds stays exact.
TEST_F(WinmmRouting, MessagesPassWhileANoticeIsUp)
{
    // Once a message has been routed, the thread's start (which takes memory
    // for its counter on MinGW) is behind us.
    play(0, {Msg(0x90, 60, 100)});
    const uint64_t allocations = CountedAllocations();
    {
        NoticeScope notice;
        for (int i = 0; i < 3000; ++i)
            fake.deliver(0, Msg(0xF8));
        play(0, {Msg(0x80, 60, 0), Msg(0x90, 62, 100), Msg(0xB0, 66, 127)});
        EXPECT_EQ(3004u, fake.sent(0).size() + LostMessages());
        const std::vector<uint32_t> sent = fake.sent(0);
        EXPECT_NE(sent.end(), std::find(sent.begin(), sent.end(), Msg(0x80, 60, 0)));
        bool handled = false;
        ApplicationMessage(WakeUpMessage, handled);
        EXPECT_EQ((std::vector<bool>{true, false, false, true, false, false}), lamps());
    }
    EXPECT_EQ(allocations, CountedAllocations());
    SetRouting(1, 0, false, false);
    EXPECT_EQ("", leftSounding());
}

}  // namespace
