// The router over a real JACK server of the test's own: small JACK clients
// play keyboards and synths; the test's loop drains the ring the way the
// main loop does.

#include "OverJackFixture.h"

#include "EngineHooks.h"
#include "EngineReset.h"
#include "JackDeviceService.h"
#include "JackPeer.h"
#include "JackServer.h"
#include "MessagePath.h"
#include "MidiPorts.h"
#include "OptionsFile.h"
#include "RoutingSettings.h"
#include "SavedDeviceNames.h"
#include "TempDirectory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace {

TEST_F(OverJack, ListsTheOtherClientsMidiPortsByTheirFullNames)
{
    peer("keys", true, false);
    peer("synth", false, true);
    peer("both", true, true);
    peer("a-client-with-a-long-name", true, false, "-and-an-even-longer-port-name");
    startRouter();
    std::vector<std::string> inputs(InDeviceNames.begin() + 1, InDeviceNames.end());
    std::sort(inputs.begin(), inputs.end());
    EXPECT_EQ((std::vector<std::string>{"a-client-with-a-long-name:out-and-an-even-longer-port-name", "both:out",
                                        "keys:out"}),
              inputs);
    std::vector<std::string> outputs(OutDeviceNames.begin() + 1, OutDeviceNames.end());
    std::sort(outputs.begin(), outputs.end());
    EXPECT_EQ((std::vector<std::string>{"both:in", "synth:in"}), outputs);
}

TEST_F(OverJack, ANoteReachesTheRoutedSynthsOnly)
{
    JackPeer& keys = peer("keys", true, false);
    JackPeer& synthA = peer("synthA", false, true);
    JackPeer& synthB = peer("synthB", false, true);
    JackPeer& synthC = peer("synthC", false, true);
    startRouter();
    SelectInput(1, InputOf(keys));
    SelectOutput(1, OutputOf(synthA));
    SelectOutput(2, OutputOf(synthB));
    SelectOutput(3, OutputOf(synthC));
    SetRouteMask(1, 5);
    ASSERT_TRUE(Notices.empty());
    ASSERT_TRUE(Prime(keys, {&synthA, &synthC}));

    keys.play({0x90, 0x3C, 0x64});
    keys.play({0x80, 0x3C, 0x00});
    EXPECT_TRUE(WaitFor([&] { return synthA.received().size() == 2 && synthC.received().size() == 2; }));
    const std::vector<Bytes> expected{{0x90, 0x3C, 0x64}, {0x80, 0x3C, 0x00}};
    EXPECT_EQ(expected, BytesOf(synthA));
    EXPECT_EQ(expected, BytesOf(synthC));
    EXPECT_TRUE(synthB.received().empty());
}

TEST_F(OverJack, ChannelPressureLeavesAsPitchBend)
{
    JackPeer& keys = peer("keys", true, false);
    JackPeer& synth = peer("synth", false, true);
    startRouter();
    Route(keys, 2, synth, 1);
    SetPressureToBend(2, true);
    ASSERT_TRUE(Prime(keys, {&synth}));
    keys.play({0xD3, 0x25});
    keys.play({0xA3, 0x3C, 0x25});
    EXPECT_TRUE(WaitFor([&] { return synth.received().size() == 2; }));
    EXPECT_EQ((std::vector<Bytes>{{0xE3, 0x00, 0x52}, {0xA3, 0x3C, 0x25}}), BytesOf(synth));
}

TEST_F(OverJack, ClockAndSensingAreDroppedOnlyWhereAsked)
{
    JackPeer& filtered = peer("filtered", true, false);
    JackPeer& open = peer("open", true, false);
    JackPeer& synth = peer("synth", false, true);
    startRouter();
    SelectInput(1, InputOf(filtered));
    SelectInput(2, InputOf(open));
    SelectOutput(1, OutputOf(synth));
    SetRouteMask(1, 1);
    SetRouteMask(2, 1);
    SetChannelVoiceOnly(1, true);
    ASSERT_TRUE(Prime(filtered, {&synth}));
    ASSERT_TRUE(Prime(open, {&synth}));
    filtered.play({0xF8});
    filtered.play({0xFE});
    filtered.play({0x90, 1, 1});
    EXPECT_TRUE(WaitFor([&] { return synth.received().size() == 1; }));
    open.play({0xF8});
    open.play({0xFE});
    open.play({0x91, 2, 2});
    EXPECT_TRUE(WaitFor([&] { return synth.received().size() == 4; }));
    EXPECT_EQ((std::vector<Bytes>{{0x90, 1, 1}, {0xF8}, {0xFE}, {0x91, 2, 2}}), BytesOf(synth));
}

TEST_F(OverJack, ABurstOf2000ArrivesWholeAndInOrder)
{
    JackPeer& keys = peer("keys", true, false);
    JackPeer& synth = peer("synth", false, true);
    startRouter();
    Route(keys, 3, synth, 2);
    ASSERT_TRUE(Prime(keys, {&synth}));
    std::vector<Bytes> played;
    for (int i = 0; i < 2000; ++i) {
        played.push_back({static_cast<uint8_t>(0xB0 | (i % 16)), static_cast<uint8_t>(i % 128),
                          static_cast<uint8_t>(i / 128)});
        keys.play(played.back());
    }
    EXPECT_TRUE(WaitFor([&] { return synth.received().size() >= 2000; }));
    EXPECT_EQ(played, BytesOf(synth));
}

// A backlog (the drain after a notice, a stalled main thread) leaves over
// as many cycles as it needs; PipeWire drops a cycle that carries too much.
TEST_F(OverJack, ABacklogOnAnOutputArrivesWhole)
{
    JackPeer& synth = peer("synth", false, true);
    startRouter();
    SelectOutput(1, OutputOf(synth));
    // Once the synth hears the latest of the note-offs sent, the connection
    // is in place and none of them is still on its way.
    bool primed = false;
    for (uint8_t probe = 0; !primed && probe < 120; ++probe) {
        SendToOutput(1, 0x80 | probe << 8);
        primed = WaitFor([&] { return !synth.received().empty() && synth.received().back().bytes == Bytes{0x80, probe, 0}; }, 250);
    }
    ASSERT_TRUE(primed);
    synth.forget();
    std::vector<Bytes> sent;
    for (int i = 0; i < 2000; ++i) {
        sent.push_back({0xB0, static_cast<uint8_t>(i % 120), static_cast<uint8_t>(i / 120)});
        SendToOutput(1, sent.back()[0] | sent.back()[1] << 8 | sent.back()[2] << 16);
    }
    EXPECT_TRUE(WaitFor([&] { return synth.received().size() >= 2000; }));
    EXPECT_EQ(sent, BytesOf(synth));
}

TEST_F(OverJack, ReselectingADeviceReopensIt)
{
    JackPeer& keys = peer("keys", true, false);
    JackPeer& synth = peer("synth", false, true);
    startRouter();
    Route(keys, 1, synth, 1);
    for (int round = 0; round < 3; ++round) {
        SelectInput(1, InputOf(keys));
        SelectOutput(1, OutputOf(synth));
        ASSERT_NE(0, OpenSelection[InputPort(1)]);
        ASSERT_TRUE(Prime(keys, {&synth})) << "deaf after reopening, round " << round;
        keys.play({0x90, static_cast<uint8_t>(60 + round), 100});
        ASSERT_TRUE(WaitFor([&] { return synth.received().size() == 1; })) << round;
        EXPECT_EQ((Bytes{0x90, static_cast<uint8_t>(60 + round), 100}), synth.received()[0].bytes);
        synth.forget();
    }
    EXPECT_TRUE(Notices.empty());
}

TEST_F(OverJack, AnOutOfRangeSelectionShowsItsNotice)
{
    peer("synth", false, true);
    startRouter();
    SelectOutput(1, 2);
    SelectInput(1, 1);
    EXPECT_EQ(0, OpenSelection[OutputPort(1)]);
    const std::vector<std::pair<std::string, std::string>> expected{
        {"Errorr: The specified device identifier is out of range.", "Errorr..."},
        {"Errorr: The specified device identifier is out of range.", "Errorr... in MIDI in 1"}};
    EXPECT_EQ(expected, Notices);
}

// Saved settings follow the devices by name: the next day the clients start
// in another order, and two keyboards whose names agree in their first 40
// characters are still told apart.
TEST_F(OverJack, SavedDevicesAreFoundByNameWhereverTheyStandNow)
{
    const std::string prefix = "keyboard-client-with-a-rather-long-name-";
    TempDirectory directory;
    {
        auto first = std::make_unique<JackPeer>(prefix + "one", true, false);
        auto second = std::make_unique<JackPeer>(prefix + "two", true, false);
        auto synth = std::make_unique<JackPeer>("synth", false, true);
        startRouter();
        Route(*second, 2, *synth, 3);
        SaveOptions();
        CloseAllDevices();
        DeviceService = nullptr;
        router.reset();
        ResetEngine();
    }
    JackPeer& synth = peer("synth", false, true);
    JackPeer& second = peer(prefix + "two", true, false);
    JackPeer& first = peer(prefix + "one", true, false);
    startRouter();
    LoadOptions();
    RestoreSavedDeviceNames();
    OpenSavedDevices();
    EXPECT_EQ(InputOf(second), OpenSelection[InputPort(2)]);
    EXPECT_EQ(OutputOf(synth), OpenSelection[OutputPort(3)]);
    ASSERT_TRUE(Prime(second, {&synth}));
    first.play({0x90, 1, 1});
    second.play({0x90, 2, 2});
    EXPECT_TRUE(WaitFor([&] { return synth.received().size() == 1; }));
    EXPECT_EQ((Bytes{0x90, 2, 2}), synth.received().back().bytes);
    EXPECT_TRUE(Notices.empty());
}

// Each of the program's own ports has the JACK name of its number, whatever
// else is open.
TEST_F(OverJack, Input3OpenedAloneIsIn3)
{
    JackPeer& keys = peer("keys", true, false);
    startRouter();
    SelectInput(3, InputOf(keys));
    EXPECT_TRUE(WaitFor([&] { return keys.keyboardConnections() == std::vector<std::string>{"Roraridov:in_3"}; }));
}

TEST_F(OverJack, OneDeviceIsNotOpenedOnTwoPorts)
{
    JackPeer& keys = peer("keys", true, false);
    startRouter();
    SelectInput(1, InputOf(keys));
    SelectInput(3, InputOf(keys));
    EXPECT_EQ(0, OpenSelection[InputPort(3)]);
    const std::vector<std::pair<std::string, std::string>> expected{
        {"Errorr: The specified resource is already allocated.", "Errorr..."}};
    EXPECT_EQ(expected, Notices);
}

// What a send accepted leaves before the port goes: a note held while its
// output is reopened, or while everything closes, is let go.
TEST_F(OverJack, HeldNotesAreReleasedWhenTheirOutputCloses)
{
    JackPeer& keys = peer("keys", true, false);
    JackPeer& synth = peer("synth", false, true);
    startRouter();
    Route(keys, 1, synth, 1);
    ASSERT_TRUE(Prime(keys, {&synth}));
    keys.play({0x90, 60, 100});
    ASSERT_TRUE(WaitFor([&] { return synth.received().size() == 1; }));
    SelectOutput(1, OutputOf(synth));
    EXPECT_TRUE(WaitFor([&] { return synth.received().size() == 2; }));
    EXPECT_EQ((Bytes{0x80, 60, 64}), synth.received().back().bytes);

    ASSERT_TRUE(Prime(keys, {&synth}));
    keys.play({0x90, 64, 100});
    ASSERT_TRUE(WaitFor([&] { return synth.received().size() == 1; }));
    CloseAllDevices();
    EXPECT_TRUE(WaitFor([&] { return synth.received().size() == 2; }));
    EXPECT_EQ((Bytes{0x80, 64, 64}), synth.received().back().bytes);
}

// Other clients coming and going while the router opens its ports must never
// leave an input deaf. Under such churn JACK may drop a cycle's events, so
// the check is that messages keep arriving, not that every one does.
TEST_F(OverJack, ClientsComingAndGoingNeverLeaveAnInputDeaf)
{
    JackPeer& keys = peer("keys", true, false);
    JackPeer& synth = peer("synth", false, true);
    startRouter();
    SelectOutput(1, OutputOf(synth));
    SetRouteMask(1, 1);

    std::atomic<bool> stop{false};
    std::thread churn([&] {
        for (int i = 0; !stop.load(); ++i) {
            jack_status_t status;
            if (jack_client_t* client = jack_client_open(("churn" + std::to_string(i % 4)).c_str(),
                                                         JackNoStartServer, &status)) {
                jack_port_register(client, "midi", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
                jack_activate(client);
                jack_client_close(client);
            }
        }
    });
    for (int round = 0; round < 8; ++round) {
        SelectInput(1, InputOf(keys));
        EXPECT_TRUE(Prime(keys, {&synth})) << "input deaf after reopening, round " << round;
    }
    stop = true;
    churn.join();
    EXPECT_TRUE(Notices.empty());
}

// A keyboard program that quits with a key down, closing its client
// cleanly while the router's loop runs: its note is released at once, it is
// shown absent, and the other input goes on.
TEST_F(OverJack, AKeyboardThatExitsLeavesTheRouterRunning)
{
    JackPeer& gone = peer("gone", true, false);
    JackPeer& keys = peer("keys", true, false);
    JackPeer& synth = peer("synth", false, true);
    startRouter();
    const int32_t selection = InputOf(gone);
    SelectInput(1, selection);
    SelectInput(2, InputOf(keys));
    SelectOutput(1, OutputOf(synth));
    SetRouteMask(1, 1);
    SetRouteMask(2, 1);
    ASSERT_TRUE(Prime(gone, {&synth}));
    gone.play({0x90, 60, 100});
    ASSERT_TRUE(WaitFor([&] { return synth.received().size() == 1; }));
    std::thread quitting([&] { gone.exit(); });
    EXPECT_TRUE(WaitFor([&] { return synth.received().size() == 2 && !DevicePresent(true, selection); }));
    quitting.join();
    ASSERT_EQ(2u, synth.received().size());
    EXPECT_EQ((Bytes{0x80, 60, 64}), synth.received().back().bytes);
    ASSERT_TRUE(Prime(keys, {&synth}));
    keys.play({0x90, 61, 100});
    EXPECT_TRUE(WaitFor([&] { return synth.received().size() == 1; }));
    SelectInput(1, 0);
    EXPECT_EQ(0, OpenSelection[InputPort(1)]);
    EXPECT_TRUE(Notices.empty());
}

// A server that goes away and comes back: the router looks for it again on
// its own and reopens its ports on the same devices, by name.
TEST_F(OverJack, AServerThatComesBackIsUsedAgain)
{
    auto keys = std::make_unique<JackPeer>("keys", true, false);
    auto synth = std::make_unique<JackPeer>("synth", false, true);
    startRouter();
    const int32_t in = InputOf(*keys), out = OutputOf(*synth);
    SelectInput(1, in);
    SelectOutput(1, out);
    SetRouteMask(1, 1);

    server->kill();
    ASSERT_TRUE(WaitFor([&] { return !DevicePresent(false, out); }));
    keys.reset();
    synth.reset();
    ASSERT_TRUE(server->restart()) << server->failure();
    keys = std::make_unique<JackPeer>("keys", true, false);
    synth = std::make_unique<JackPeer>("synth", false, true);
    ASSERT_TRUE(WaitFor([&] { return DevicePresent(true, in) && DevicePresent(false, out); }));
    ASSERT_TRUE(Prime(*keys, {synth.get()}));
    keys->play({0x90, 63, 100});
    EXPECT_TRUE(WaitFor([&] { return synth->received().size() == 1; }));
    EXPECT_TRUE(Notices.empty());
    CloseAllDevices();
}

TEST_F(OverJack, AServerThatDiesLeavesTheRouterRunning)
{
    JackPeer& keys = peer("keys", true, false);
    JackPeer& synth = peer("synth", false, true);
    startRouter();
    Route(keys, 1, synth, 1);
    ASSERT_TRUE(Prime(keys, {&synth}));

    server->kill();
    // Sends after the server is gone are dropped quietly, closes succeed,
    // and letting go of the service neither hangs nor crashes.
    for (int i = 0; i < 100; ++i) {
        SendToOutput(1, 0x00403C90);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    SelectInput(1, 0);
    CloseAllDevices();
    EXPECT_TRUE(Notices.empty());
    for (int port = 0; port < PortCount; ++port)
        EXPECT_EQ(0, OpenSelection[port]);
    const auto start = std::chrono::steady_clock::now();
    DeviceService = nullptr;
    router.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
