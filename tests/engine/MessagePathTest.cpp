#include "EngineFixture.h"
#include "EventRing.h"
#include "MessagePath.h"
#include "MidiPorts.h"
#include "RoutingSettings.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using MessagePath = EngineFixture;

void WakeUp()
{
    bool handled = false;
    ApplicationMessage(WakeUpMessage, handled);
    EXPECT_FALSE(handled);
}

// What the program starts with. The fixtures reset all of it, so it is
// looked at in a new process of this program before any test has run.
TEST(FreshProcess, NothingIsOpenRoutedOrQueued)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto zeroed = [] {
        const TRoutingOptions zero{};
        bool zeroed = memcmp(&zero, &RoutingOptions, sizeof zero) == 0;
        for (int port = 0; port < PortCount; ++port)
            zeroed = zeroed && OpenSelection[port] == 0 && DeviceHandles[port] == nullptr && ActivityHold[port] == 0;
        uint32_t entry;
        return zeroed && !PopEvent(entry);
    };
    EXPECT_EXIT(std::_Exit(zeroed() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

struct PressureCase {
    uint32_t in;
    uint32_t out;
};

std::string CaseName(const ::testing::TestParamInfo<PressureCase>& info)
{
    char name[16];
    snprintf(name, sizeof name, "In%06X", info.param.in);
    return name;
}

class PressureToBend : public EngineFixture, public ::testing::WithParamInterface<PressureCase> {};

TEST_P(PressureToBend, LeavesAsPitchBendOnTheSameChannel)
{
    SelectInput(1, 1);
    SelectOutput(1, 1);
    RoutingOptions.RouteMask[0] = 1;
    RoutingOptions.AtToPb[0] = 1;
    play(0, {GetParam().in});
    WakeUp();
    EXPECT_EQ(std::vector<uint32_t>{GetParam().out}, fake.sent(0));
}

INSTANTIATE_TEST_SUITE_P(Examples, PressureToBend,
                         ::testing::Values(PressureCase{Msg(0xD3, 0x25), Msg(0xE3, 0x00, 0x52)},
                                           PressureCase{Msg(0xD3, 0x00), Msg(0xE3, 0x00, 0x40)},
                                           PressureCase{Msg(0xD3, 0x7F), Msg(0xE3, 0x00, 0x7F)},
                                           PressureCase{Msg(0xD0, 0x40), Msg(0xE0, 0x00, 0x60)},
                                           // poly pressure and other types are never converted
                                           PressureCase{Msg(0xA3, 0x3C, 0x25), Msg(0xA3, 0x3C, 0x25)},
                                           PressureCase{Msg(0x93, 0x3C, 0x64), Msg(0x93, 0x3C, 0x64)}),
                         CaseName);

TEST_F(MessagePath, PressurePassesUnchangedWithoutTheFlag)
{
    SelectInput(2, 2);
    SelectOutput(1, 1);
    RoutingOptions.RouteMask[1] = 1;
    RoutingOptions.AtToPb[0] = 1;  // another input's flag
    play(1, {Msg(0xD3, 0x25)});
    WakeUp();
    EXPECT_EQ(std::vector<uint32_t>{Msg(0xD3, 0x25)}, fake.sent(0));
}

TEST_F(MessagePath, ChannelVoiceOnlyDropsSystemMessagesAtCapture)
{
    SelectInput(1, 1);
    SelectOutput(1, 1);
    RoutingOptions.RouteMask[0] = 1;
    SetChannelVoiceOnly(1, true);
    play(0, {Msg(0xF8), Msg(0xFE)});
    EXPECT_EQ(0, wakeUps.posts());
    WakeUp();
    EXPECT_TRUE(fake.sent(0).empty());
    EXPECT_EQ(std::vector<bool>(6, false), lamps());

    play(0, {Msg(0x90, 60, 100), Msg(0xF8)});
    WakeUp();
    EXPECT_EQ(std::vector<uint32_t>{Msg(0x90, 60, 100)}, fake.sent(0));
}

TEST_F(MessagePath, SystemMessagesPassWithoutChannelVoiceOnly)
{
    SelectInput(1, 1);
    SelectOutput(1, 1);
    RoutingOptions.RouteMask[0] = 1;
    SetChannelVoiceOnly(2, true);  // another input's flag
    play(0, {Msg(0xF8), Msg(0xFE), Msg(0xF2, 0x10, 0x20)});
    WakeUp();
    EXPECT_EQ((std::vector<uint32_t>{Msg(0xF8), Msg(0xFE), Msg(0xF2, 0x10, 0x20)}), fake.sent(0));
}

TEST_F(MessagePath, RouteMaskSendsInOutputOrderAndLightsLamps)
{
    SelectInput(1, 1);
    for (int k = 1; k <= 3; ++k)
        SelectOutput(k, k);
    RoutingOptions.RouteMask[0] = 5;
    play(0, {Msg(0x90, 64, 90)});
    WakeUp();
    const std::vector<std::pair<uint32_t, uint32_t>> expected{{0, Msg(0x90, 64, 90)}, {2, Msg(0x90, 64, 90)}};
    EXPECT_EQ(expected, fake.sendLog());
    EXPECT_EQ((std::vector<bool>{true, false, false, true, false, true}), lamps());
}

TEST_F(MessagePath, MaskBitsAboveOutputThreeAreIgnored)
{
    SelectInput(3, 3);
    for (int k = 1; k <= 3; ++k)
        SelectOutput(k, k);
    RoutingOptions.RouteMask[2] = 0x7FFFFFF9;  // low bits 001: output 1 only
    play(2, {Msg(0xB0, 7, 100)});
    WakeUp();
    const std::vector<std::pair<uint32_t, uint32_t>> expected{{0, Msg(0xB0, 7, 100)}};
    EXPECT_EQ(expected, fake.sendLog());
}

TEST_F(MessagePath, MaskZeroStillCapturesAndLightsTheInputLamp)
{
    SelectInput(2, 1);
    SelectOutput(1, 1);
    play(0, {Msg(0x90, 60, 1)});
    EXPECT_EQ(1, wakeUps.posts());
    WakeUp();
    EXPECT_TRUE(fake.sendLog().empty());
    EXPECT_EQ((std::vector<bool>{false, true, false, false, false, false}), lamps());
}

TEST_F(MessagePath, ClosedOutputLightsItsLampAndSendsNothing)
{
    SelectInput(1, 1);
    SelectOutput(1, 1);
    RoutingOptions.RouteMask[0] = 2;
    play(0, {Msg(0x90, 60, 1)});
    WakeUp();
    EXPECT_TRUE(fake.sendLog().empty());
    EXPECT_EQ((std::vector<bool>{true, false, false, false, true, false}), lamps());
}

TEST_F(MessagePath, TenMessagesBeforeADrainGoOutInOrderOnTheFirstWakeUp)
{
    SelectInput(1, 1);
    SelectOutput(2, 2);
    RoutingOptions.RouteMask[0] = 2;
    std::vector<uint32_t> played;
    for (uint8_t i = 0; i < 10; ++i) {
        played.push_back(Msg(0x90, 60 + i, 100));
        fake.deliver(0, played.back());
    }
    fake.waitDelivered();
    EXPECT_EQ(10, wakeUps.posts());
    WakeUp();
    EXPECT_EQ(played, fake.sent(1));
    for (int i = 1; i < 10; ++i)
        WakeUp();
    EXPECT_EQ(played, fake.sent(1));
}

TEST_F(MessagePath, InputsAreTaggedWithTheirOwnNumber)
{
    SelectInput(1, 3);
    SelectInput(2, 1);
    SelectInput(3, 2);
    SelectOutput(1, 1);
    SelectOutput(2, 2);
    SelectOutput(3, 3);
    RoutingOptions.RouteMask[0] = 1;
    RoutingOptions.RouteMask[1] = 2;
    RoutingOptions.RouteMask[2] = 4;
    play(2, {Msg(0x91, 1, 1)});  // device 2 is input 1
    play(0, {Msg(0x92, 2, 2)});  // device 0 is input 2
    play(1, {Msg(0x93, 3, 3)});  // device 1 is input 3
    WakeUp();
    const std::vector<std::pair<uint32_t, uint32_t>> expected{
        {0, Msg(0x91, 1, 1)}, {1, Msg(0x92, 2, 2)}, {2, Msg(0x93, 3, 3)}};
    EXPECT_EQ(expected, fake.sendLog());
}

TEST_F(MessagePath, OnlyDataNotificationsCarryShortMessages)
{
    SelectInput(1, 1);
    SelectOutput(1, 1);
    RoutingOptions.RouteMask[0] = 1;
    for (uint32_t notification : {MIM_OPEN, MIM_CLOSE, MIM_ERROR, MIM_LONGERROR})
        fake.deliver(0, Msg(0x90, 1, 1), notification);
    fake.deliver(0, Msg(0x90, 2, 2), MIM_MOREDATA);
    fake.deliver(0, Msg(0x90, 3, 3), MIM_DATA);
    fake.waitDelivered();
    EXPECT_EQ(2, wakeUps.posts());
    WakeUp();
    EXPECT_EQ((std::vector<uint32_t>{Msg(0x90, 2, 2), Msg(0x90, 3, 3)}), fake.sent(0));
}

TEST_F(MessagePath, EntriesWithoutAnInputNumberAreSkipped)
{
    SelectOutput(1, 1);
    RoutingOptions.RouteMask[0] = RoutingOptions.RouteMask[1] = RoutingOptions.RouteMask[2] = 1;
    PushEvent(Msg(0x90, 1, 1));
    PushEvent(Msg(0x90, 2, 2) | 4u << 24);
    PushEvent(Msg(0x90, 3, 3) | 3u << 24);
    WakeUp();
    EXPECT_EQ(std::vector<uint32_t>{Msg(0x90, 3, 3)}, fake.sent(0));
    EXPECT_EQ((std::vector<bool>{false, false, true, true, false, false}), lamps());
}

TEST_F(MessagePath, OtherMessagesDoNotDrain)
{
    SelectInput(1, 1);
    SelectOutput(1, 1);
    RoutingOptions.RouteMask[0] = 1;
    play(0, {Msg(0x90, 1, 1)});
    bool handled = false;
    ApplicationMessage(WakeUpMessage + 1, handled);
    ApplicationMessage(0x0113, handled);  // a timer message
    EXPECT_FALSE(handled);
    EXPECT_TRUE(fake.sent(0).empty());
    WakeUp();
    EXPECT_EQ(1u, fake.sent(0).size());
}

TEST_F(MessagePath, LampLitOnceSurvivesOneTickAndGoesOutAtTheSecond)
{
    SelectInput(1, 1);
    RoutingOptions.RouteMask[0] = 1;
    play(0, {Msg(0x90, 60, 1)});
    WakeUp();
    play(0, {Msg(0x80, 60, 0)});
    WakeUp();
    EXPECT_TRUE(lamps()[0]);
    EXPECT_TRUE(lamps()[3]);
    DecayActivity();
    EXPECT_TRUE(lamps()[0]);
    EXPECT_TRUE(lamps()[3]);
    DecayActivity();
    EXPECT_FALSE(lamps()[0]);
    EXPECT_FALSE(lamps()[3]);
    // A message while the counter was 1 neither relit nor extended the lamp.
    const std::vector<std::pair<int, bool>> lit{{0, true}, {3, true}};
    std::vector<std::pair<int, bool>> litCalls;
    for (auto call : lampCalls()) {
        if (call.second)
            litCalls.push_back(call);
    }
    EXPECT_EQ(lit, litCalls);
}

TEST_F(MessagePath, IdleLampsAreSetOutOnEveryTick)
{
    DecayActivity();
    DecayActivity();
    EXPECT_EQ(12u, lampCalls().size());
    for (auto [port, lit] : lampCalls())
        EXPECT_FALSE(lit);
}

TEST_F(MessagePath, WakeUpsDuringANoticeWaitAndOneDrainFollowsIt)
{
    SelectInput(1, 1);
    SelectOutput(1, 1);
    RoutingOptions.RouteMask[0] = 1;
    static EngineFixture* self;
    static size_t sentDuringNotice;
    self = this;
    sentDuringNotice = 99;
    EngineHooks.ShowErrorNotice = [](const char*, const char*) {
        self->play(0, {Msg(0x90, 60, 100)});
        WakeUp();  // the notice's own loop takes the wake-up
        sentDuringNotice = self->fake.sent(0).size();
    };
    ErrorNotice("text", "caption");
    EXPECT_EQ(0u, sentDuringNotice);
    EXPECT_EQ(std::vector<uint32_t>{Msg(0x90, 60, 100)}, fake.sent(0));
}

TEST_F(MessagePath, NestedNoticesDrainOnlyWhenTheLastGoes)
{
    SelectInput(1, 1);
    SelectOutput(1, 1);
    RoutingOptions.RouteMask[0] = 1;
    static EngineFixture* self;
    static size_t sentAfterInner;
    self = this;
    {
        NoticeScope outer;
        EngineHooks.ShowErrorNotice = [](const char*, const char*) { self->play(0, {Msg(0x90, 1, 1)}); };
        ErrorNotice("inner", "caption");
        sentAfterInner = fake.sent(0).size();
        WakeUp();
        EXPECT_EQ(0u, fake.sent(0).size());
    }
    EXPECT_EQ(0u, sentAfterInner);
    EXPECT_EQ(1u, fake.sent(0).size());
}

TEST_F(MessagePath, WithoutAWakeUpTargetEntriesWaitForTheNextDrain)
{
    SetWakeUpTarget(nullptr);
    SelectInput(1, 1);
    SelectOutput(1, 1);
    RoutingOptions.RouteMask[0] = 1;
    play(0, {Msg(0x90, 1, 1), Msg(0x80, 1, 0)});
    EXPECT_EQ(0, wakeUps.posts());
    EXPECT_TRUE(fake.sent(0).empty());
    DrainEvents();
    EXPECT_EQ(2u, fake.sent(0).size());
}

TEST_F(MessagePath, ChangedFlagsTakeEffectForTheNextMessage)
{
    SelectInput(1, 1);
    SelectOutput(1, 1);
    SelectOutput(2, 2);
    RoutingOptions.RouteMask[0] = 1;
    play(0, {Msg(0xD0, 0x10)});
    WakeUp();
    RoutingOptions.RouteMask[0] = 2;
    RoutingOptions.AtToPb[0] = 1;
    play(0, {Msg(0xD0, 0x10)});
    WakeUp();
    EXPECT_EQ(std::vector<uint32_t>{Msg(0xD0, 0x10)}, fake.sent(0));
    EXPECT_EQ(std::vector<uint32_t>{Msg(0xE0, 0, 0x48)}, fake.sent(1));
}

// A system exclusive message goes whole, in order with the input's other
// messages, to every routed output, on either thread's routing; lamps light
// for it, Ch Voice Only drops it, and what the store cannot take is dropped
// whole.
class LongMessages : public EngineFixture, public ::testing::WithParamInterface<bool> {};

TEST_P(LongMessages, PassWholeInOrderToEveryRoutedOutput)
{
    fake.sendFromCapture(GetParam());
    SelectInput(1, 1);
    SelectInput(2, 2);
    SelectOutput(1, 1);
    SelectOutput(3, 3);
    RoutingOptions.RouteMask[0] = 5;
    RoutingOptions.RouteMask[1] = 1;
    RoutingOptions.AtToPb[0] = 1;
    std::vector<uint8_t> dump(MaxLongMessageBytes, 0x55);
    dump.front() = 0xF0;
    dump.back() = 0xF7;
    fake.deliver(0, Msg(0x90, 60, 100));
    fake.deliverLong(0, dump);
    fake.deliver(0, Msg(0x80, 60, 0));
    fake.deliverLong(0, {0xF0, 0x01, 0xF7});
    dump.push_back(0xF7);  // one byte too long
    fake.deliverLong(0, dump);
    SetChannelVoiceOnly(2, true);
    fake.deliverLong(1, {0xF0, 0x02, 0xF7});
    fake.waitDelivered();
    WakeUp();
    dump.pop_back();
    for (uint32_t device : {0u, 2u}) {
        EXPECT_EQ((std::vector<uint32_t>{Msg(0x90, 60, 100), 0xF0, Msg(0x80, 60, 0), 0xF0}), fake.sent(device));
        EXPECT_EQ((std::vector<std::vector<uint8_t>>{dump, {0xF0, 0x01, 0xF7}}), fake.sentLong(device));
    }
    DecayActivity();
    EXPECT_EQ((std::vector<bool>{true, false, false, true, false, true}), lamps());

    // More than the store holds while nothing drains: the rest waits whole.
    fake.clearSent();
    {
        NoticeScope notice;
        for (uint32_t i = 0; i < LongStoreBytes / MaxLongMessageBytes + 1; ++i)
            fake.deliverLong(0, dump);
        fake.waitDelivered();
    }
    WakeUp();
    const size_t whole = fake.sentLong(0).size();
    EXPECT_EQ(GetParam() ? LongStoreBytes / MaxLongMessageBytes + 1 : LongStoreBytes / MaxLongMessageBytes - 1, whole);
    for (const auto& sent : fake.sentLong(0))
        EXPECT_EQ(dump, sent);
}

INSTANTIATE_TEST_SUITE_P(OnEitherThread, LongMessages, ::testing::Bool());

}  // namespace
