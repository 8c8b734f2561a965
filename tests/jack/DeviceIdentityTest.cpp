// Devices that come, go, return and are renamed while the router runs: a
// device is known by its port and its name, never by a port handle alone.

#include "OverJackFixture.h"

#include "EngineHooks.h"

#include <algorithm>

namespace {

// A synth that quits keeps its place in the list, shown absent; the port
// stays open on it and is connected again, quietly, when it comes back.
TEST_F(OverJack, ASynthThatQuitsAndComesBackIsReconnected)
{
    JackPeer& keys = peer("keys", true, false);
    auto synth = std::make_unique<JackPeer>("synth", false, true);
    startRouter();
    const int32_t selection = OutputOf(*synth);
    SelectInput(1, InputOf(keys));
    SelectOutput(1, selection);
    SetRouteMask(1, 1);
    synth.reset();
    EXPECT_TRUE(WaitFor([&] { return !DevicePresent(false, selection); }));
    EXPECT_EQ(selection, OpenSelection[OutputPort(1)]);

    synth = std::make_unique<JackPeer>("synth", false, true);
    EXPECT_TRUE(WaitFor([&] { return DevicePresent(false, selection); }));
    EXPECT_EQ(selection, OutputOf(*synth));
    ASSERT_TRUE(Prime(keys, {synth.get()}));
    keys.play({0x90, 62, 100});
    EXPECT_TRUE(WaitFor([&] { return synth->received().size() == 1; }));
    EXPECT_TRUE(Notices.empty());
    CloseAllDevices();
}

// A client that starts while a synth is away may be given the synth's old
// port id, and so its port handle: it is a new device all the same, and the
// synth is connected again when it comes back.
TEST_F(OverJack, AClientGivenAGoneSynthsPortIdIsANewDevice)
{
    JackPeer& keys = peer("keys", true, false);
    auto synthA = std::make_unique<JackPeer>("synthA", false, true);
    startRouter();
    const int32_t selection = OutputOf(*synthA);
    Route(keys, 1, *synthA, 1);
    const jack_uuid_t id = synthA->synthPortId();
    JackPeer* other = nullptr;
    {
        NoticeScope notice;  // the lists are not looked at meanwhile
        synthA.reset();
        other = &peer("other", false, true);
    }
    if (server->kind() == JackServer::Kind::Jackd) {
        ASSERT_EQ(id, other->synthPortId()) << "the case needs the id handed on";
    }
    ASSERT_TRUE(WaitFor([&] { return OutputOf(*other) > 0; }));
    EXPECT_NE(selection, OutputOf(*other));
    EXPECT_EQ("synthA:in", OutDeviceNames[selection]);
    EXPECT_FALSE(DevicePresent(false, selection));

    synthA = std::make_unique<JackPeer>("synthA", false, true);
    ASSERT_TRUE(WaitFor([&] { return DevicePresent(false, selection); }));
    EXPECT_TRUE(Prime(keys, {synthA.get()}));
    EXPECT_TRUE(other->received().empty());
}

// A keyboard that leaves with a key down and is back before the lists are
// looked at again never looked absent; its note is released all the same.
TEST_F(OverJack, AKeyboardBackBeforeTheNextLookHasItsNoteReleased)
{
    auto keys = std::make_unique<JackPeer>("keys", true, false);
    JackPeer& synth = peer("synth", false, true);
    startRouter();
    Route(*keys, 1, synth, 1);
    ASSERT_TRUE(Prime(*keys, {&synth}));
    keys->play({0x90, 60, 100});
    ASSERT_TRUE(WaitFor([&] { return synth.received().size() == 1; }));
    {
        NoticeScope notice;
        keys.reset();
        peer("other", true, false);  // given the keyboard's port id on jackd
        keys = std::make_unique<JackPeer>("keys", true, false);
    }
    EXPECT_TRUE(WaitFor([&] { return synth.received().size() == 2; }));
    EXPECT_EQ((Bytes{0x80, 60, 64}), synth.received().back().bytes);
    EXPECT_TRUE(Prime(*keys, {&synth}));
    EXPECT_TRUE(Notices.empty());
}

// A renamed device keeps its place in the list and its connection.
TEST_F(OverJack, ARenamedKeyboardKeepsItsPlaceAndRoute)
{
    if (server->kind() == JackServer::Kind::PipeWire)
        GTEST_SKIP() << "PipeWire's libjack accepts a rename but other clients go on seeing the old name";
    JackPeer& keys = peer("keys", true, false);
    JackPeer& synth = peer("synth", false, true);
    startRouter();
    Route(keys, 1, synth, 1);
    const int32_t selection = OpenSelection[InputPort(1)];
    ASSERT_TRUE(keys.renameKeyboard("renamed"));
    EXPECT_TRUE(WaitFor([&] { return InDeviceNames[selection] == "keys:renamed"; }));
    EXPECT_TRUE(DevicePresent(true, selection));
    ASSERT_TRUE(Prime(keys, {&synth}));
    EXPECT_TRUE(Notices.empty());
}

TEST_F(OverJack, AClientStartedLaterCanBeChosen)
{
    JackPeer& keys = peer("keys", true, false);
    startRouter();
    SelectInput(1, InputOf(keys));
    SetRouteMask(1, 1);
    JackPeer& late = peer("late", false, true);
    ASSERT_TRUE(WaitFor([&] { return OutputOf(late) > 0; }));
    SelectOutput(1, OutputOf(late));
    ASSERT_TRUE(Prime(keys, {&late}));
    EXPECT_TRUE(Notices.empty());
}

}  // namespace
