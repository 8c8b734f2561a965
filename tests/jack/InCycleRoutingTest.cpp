// Routing inside the JACK cycle: what arrives leaves in the same cycle, in
// time order, with no help from the main thread, and every note that went
// out gets its note-off whatever is changed while it sounds.

#include "OverJackFixture.h"

#include "LostMessages.h"
#include "SoundingNotes.h"
#include "SynthModel.h"

#include <algorithm>
#include <map>
#include <random>

TEST_F(OverJack, ARoutedMessageArrivesAtTheFrameADirectLinkDeliversItAt)
{
    JackPeer& keys = peer("keys", true, false);
    JackPeer& routed = peer("routed", false, true);
    JackPeer& direct = peer("direct", false, true);
    startRouter();
    Route(keys, 1, routed, 1);
    ASSERT_TRUE(keys.connect(keys.keyboardPort(), direct.synthPort()));
    ASSERT_TRUE(Prime(keys, {&routed, &direct}));
    for (uint8_t i = 0; i < 100; ++i) {
        keys.play({0x90, i, 100}, (i * 37) % 256);
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
    // A client that a busy host made miss a cycle loses that cycle's events,
    // over the direct link too, or hears them a cycle late: compare what
    // arrived both ways; the most of it arrives at the same frame, and
    // nothing earlier.
    Settle(routed);
    Settle(direct);
    std::map<Bytes, jack_nframes_t> directly;
    for (const auto& event : direct.received())
        directly[event.bytes] = event.at.frame;
    size_t compared = 0;
    size_t late = 0;
    for (const auto& event : routed.received()) {
        const auto match = directly.find(event.bytes);
        if (match == directly.end())
            continue;
        ++compared;
        EXPECT_GE(event.at.frame, match->second) << "note " << int(event.bytes[1]);
        late += event.at.frame != match->second;
    }
    EXPECT_GE(compared, 90u);
    EXPECT_LE(late, 10u);
}

TEST_F(OverJack, TwoInputsIntoOneOutputArriveMergedInTimeOrder)
{
    JackPeer& left = peer("left", true, false);
    JackPeer& right = peer("right", true, false);
    JackPeer& synth = peer("synth", false, true);
    startRouter();
    Route(left, 1, synth, 1);
    Route(right, 2, synth, 1);
    ASSERT_TRUE(Prime(left, {&synth}));
    ASSERT_TRUE(Prime(right, {&synth}));
    const size_t primed[] = {left.playedAt().size(), right.playedAt().size()};
    for (uint8_t round = 0; round < 10; ++round) {
        for (uint8_t i = 0; i < 8; ++i) {
            left.play({0x90, i, 1}, 10 + 20 * i);
            right.play({0x91, i, 1}, 20 + 20 * i);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    // Each arrives at the frame it was played at; what a missed cycle lost
    // is simply not there.
    WaitFor([&] { return synth.received().size() == 160; });
    Settle(synth);
    ASSERT_GE(synth.received().size(), 140u);
    std::vector<jack_nframes_t> played, heard;
    for (JackPeer* keys : {&left, &right}) {
        for (size_t i = primed[keys == &right]; i < keys->playedAt().size(); ++i)
            played.push_back(keys->playedAt()[i].frame);
    }
    for (const auto& event : synth.received())
        heard.push_back(event.at.frame);
    EXPECT_TRUE(std::is_sorted(heard.begin(), heard.end()));
    std::sort(played.begin(), played.end());
    EXPECT_TRUE(std::includes(played.begin(), played.end(), heard.begin(), heard.end()));
}

TEST_F(OverJack, EveryNoteThatReachedTheSynthGetsItsNoteOffWhenItsRouteIsCutMidStream)
{
    JackPeer& keys = peer("keys", true, false);
    JackPeer& synth = peer("synth", false, true);
    startRouter();
    Route(keys, 1, synth, 1);
    ASSERT_TRUE(Prime(keys, {&synth}));
    for (int i = 0; i < 2000; ++i)
        keys.play({static_cast<uint8_t>(0x90 | (i / 128 % 16)), static_cast<uint8_t>(i % 128), 100});
    ASSERT_TRUE(WaitFor([&] { return synth.received().size() >= 300; }));
    SetRouting(1, 0, false, false);
    EXPECT_TRUE(WaitFor([&] { return LeftSounding(synth).empty(); })) << LeftSounding(synth);
    Settle(synth);
    EXPECT_EQ("", LeftSounding(synth));
    EXPECT_LT(synth.received().size(), 4000u);  // the cut stopped the stream
}

// A notice stops the main thread's loop, not the music: thousands of
// messages pass, and what is still held is known exactly afterwards.
TEST_F(OverJack, PlayingGoesOnWhileANoticeIsUpAndTheRecordStaysExact)
{
    JackPeer& keys = peer("keys", true, false);
    JackPeer& synth = peer("synth", false, true);
    startRouter();
    Route(keys, 1, synth, 1);
    ASSERT_TRUE(Prime(keys, {&synth}));
    {
        NoticeScope notice;
        keys.play({0x90, 60, 100});
        for (int i = 0; i < 3000; ++i)
            keys.play({0xF8});
        keys.play({0x80, 60, 0});
        keys.play({0x90, 62, 100});
        keys.play({0xB0, 66, 127});
        EXPECT_TRUE(WaitFor([&] { return synth.received().size() == 3004; }));
    }
    SetRouting(1, 0, false, false);
    WaitFor([&] { return synth.received().size() >= 3006; });
    Settle(synth);
    const std::vector<Bytes> all = BytesOf(synth);
    ASSERT_EQ(3006u, all.size());
    EXPECT_EQ((std::vector<Bytes>{{0x80, 62, 64}, {0xB0, 66, 0}}), std::vector<Bytes>(all.end() - 2, all.end()));
}

// A backlog the main thread queued (here the note-offs of 1,500 held notes)
// leaves over as many cycles as it needs, even at a long period, and a
// close waits for all of it however short the period.
TEST_F(OverJack, HeldNotesAreAllLetGoAtALongPeriodAndAtAShortOne)
{
    for (const bool closing : {false, true}) {
        // 128 rather than 64: the dummy driver misses cycles at 64 on a busy
        // machine, and a missed cycle loses its notes.
        startServer(closing ? 128 : 2048);
        JackPeer& keys = peer("keys", true, false);
        JackPeer& synth = peer("synth", false, true);
        startRouter();
        Route(keys, 1, synth, 1);
        ASSERT_TRUE(Prime(keys, {&synth}));
        // More than PipeWire carries in one cycle at the long period; over
        // the 512 a cycle takes at the short one.
        const size_t notes = closing ? 1000 : 1500;
        const size_t primed = keys.playedAt().size();
        for (size_t i = 0; i < notes; ++i)
            keys.play({static_cast<uint8_t>(0x90 | (i / 128)), static_cast<uint8_t>(i % 128), 100});
        // A cycle a loaded machine made a client miss loses its notes; the
        // ones that sounded must all be let go.
        ASSERT_TRUE(WaitFor([&] { return keys.playedAt().size() == primed + notes; }));
        ASSERT_TRUE(WaitFor([&] { return synth.received().size() >= notes * 9 / 10; }));
        Settle(synth);
        const size_t sounding = synth.received().size();
        size_t expected = 2 * sounding;
        std::string left;
        if (closing) {
            SelectOutput(1, 0);
        } else {
            // Routed again at once: a note played now must not be cut by the
            // older note-off still waiting in the backlog.
            SetRouting(1, 0, false, false);
            SetRouting(1, 1, false, false);
            keys.play({0x9B, 0, 100});
            ++expected;
            left = " note 0 on channel 12;";
        }
        EXPECT_TRUE(WaitFor([&] { return synth.received().size() == expected; }))
            << "period " << (closing ? 128 : 2048);
        EXPECT_EQ(left, LeftSounding(synth));
        TearDown();
    }
}

// Three players, routes cut and made, outputs reopened, pressure to bend
// turned on and off, notices up: afterwards nothing sounds anywhere.
TEST_F(OverJack, ARandomSessionLeavesNothingSounding)
{
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::vector<JackPeer*> keys, synths;
    for (const char* name : {"k1", "k2", "k3"})
        keys.push_back(&peer(name, true, false));
    for (const char* name : {"s1", "s2", "s3"})
        synths.push_back(&peer(name, false, true));
    startRouter();
    for (int n = 1; n <= 3; ++n)
        Route(*keys[n - 1], n, *synths[n - 1], n);
    for (int n = 1; n <= 3; ++n)
        ASSERT_TRUE(Prime(*keys[n - 1], {synths[n - 1]}));
    for (int step = 0; step < 80; ++step) {
        const int n = 1 + static_cast<int>(random() % 3);
        if (!RandomUserChange(random, n, [&](int k) { SelectOutput(k, OutputOf(*synths[k - 1])); })) {
            for (int i = 0; i < 20; ++i)
                keys[n - 1]->play(RandomPlayerMessage(random));
        }
        std::optional<NoticeScope> notice;
        if (random() % 5 == 0)
            notice.emplace();
        WaitFor([] { return false; }, 5);
    }
    CloseAllDevices();
    for (JackPeer* synth : synths) {
        WaitFor([&] { return LeftSounding(*synth).empty(); });
        Settle(*synth);
        EXPECT_EQ("", LeftSounding(*synth)) << synth->synthPort();
    }
}

namespace {

// A system exclusive message of `size` bytes whose data tell where they
// stand and who sent them.
Bytes Sysex(size_t size, uint8_t sender)
{
    Bytes bytes(size, 0);
    bytes.front() = 0xF0;
    for (size_t i = 1; i + 1 < size; ++i)
        bytes[i] = static_cast<uint8_t>((i * 7 + sender) & 0x7F);
    bytes.back() = 0xF7;
    return bytes;
}

}  // namespace

// Patch dumps pass whole and byte-exact, to every routed output, in order
// with the notes around them; from two inputs at once each stays whole;
// one a bridge cut into three events arrives as one; Ch Voice Only drops
// them.
TEST_F(OverJack, SystemExclusivePassesWholeToEveryRoutedOutput)
{
    // A port carries about 32 KiB of MIDI a cycle on jackd and PipeWire.
    const size_t dump = 30 * 1024;
    JackPeer& editor = peer("editor", true, false);
    JackPeer& other = peer("other", true, false);
    JackPeer& synthA = peer("synthA", false, true);
    JackPeer& synthB = peer("synthB", false, true);
    startRouter();
    Route(editor, 1, synthA, 1);
    Route(editor, 1, synthB, 2);
    Route(other, 2, synthA, 1);
    ASSERT_TRUE(Prime(editor, {&synthA, &synthB}));
    ASSERT_TRUE(Prime(other, {&synthA}));
    const std::vector<Bytes> sent{{0x90, 60, 100}, Sysex(12, 1), Sysex(4096, 1), Sysex(dump, 1), {0x80, 60, 0}};
    for (const Bytes& message : sent)
        editor.play(message);
    ASSERT_TRUE(WaitFor([&] { return synthB.received().size() == sent.size(); }));
    EXPECT_EQ(sent, BytesOf(synthB));
    ASSERT_TRUE(WaitFor([&] { return synthA.received().size() == sent.size(); }));
    EXPECT_EQ(sent, BytesOf(synthA));

    synthA.forget();
    editor.play(Sysex(dump / 2, 1));
    other.play(Sysex(dump / 2, 2));
    ASSERT_TRUE(WaitFor([&] { return synthA.received().size() == 2; }));
    std::vector<Bytes> heard = BytesOf(synthA);
    std::sort(heard.begin(), heard.end());
    EXPECT_EQ((std::vector<Bytes>{Sysex(dump / 2, 1), Sysex(dump / 2, 2)}), heard);

    synthB.forget();
    const Bytes whole = Sysex(3000, 3);
    editor.play(Bytes(whole.begin(), whole.begin() + 1000));
    editor.play(Bytes(whole.begin() + 1000, whole.begin() + 2000));
    editor.play(Bytes(whole.begin() + 2000, whole.end()));
    ASSERT_TRUE(WaitFor([&] { return synthB.received().size() == 1; }));
    EXPECT_EQ(whole, synthB.received()[0].bytes);

    // One larger than a cycle of the port carries is dropped whole and
    // counted, and what follows passes.
    synthB.forget();
    const Bytes tooLarge = Sysex(40 * 1024, 4);
    for (size_t at = 0; at < tooLarge.size(); at += 10 * 1024)
        editor.play(Bytes(tooLarge.begin() + at, tooLarge.begin() + std::min<size_t>(at + 10 * 1024, tooLarge.size())));
    editor.play({0x90, 62, 100});
    ASSERT_TRUE(WaitFor([&] { return synthB.received().size() == 1; }));
    EXPECT_EQ((Bytes{0x90, 62, 100}), synthB.received()[0].bytes);
    EXPECT_LT(0u, LostMessages());

    synthB.forget();
    SetChannelVoiceOnly(1, true);
    editor.play(Sysex(100, 1));
    editor.play({0x90, 61, 100});
    ASSERT_TRUE(WaitFor([&] { return synthB.received().size() == 1; }));
    EXPECT_EQ((Bytes{0x90, 61, 100}), synthB.received()[0].bytes);
}

// A server that stops running cycles while messages are queued: the close
// says so and keeps the port and its queue. More is queued than any cycle
// takes, so a cycle that was under way as the server stopped cannot empty
// it. Once cycles run again the queue is taken (how much of it a server
// stopped mid-cycle delivers is its own affair: PipeWire drops most) and
// the port works on; then the close goes through.
TEST_F(OverJack, AnOutputWhoseQueueCannotLeaveStaysOpenAndSaysSo)
{
    JackPeer& synth = peer("synth", false, true);
    startRouter();
    SelectOutput(1, OutputOf(synth));
    ASSERT_TRUE(WaitFor([&] { return SendToOutput(1, 0x00003C80) && !synth.received().empty(); }));
    server->pause(true);
    for (int i = 0; i < 3000; ++i)
        ASSERT_TRUE(SendToOutput(1, 0x000010B0 | (i % 128) << 16));
    SelectOutput(1, 0);
    EXPECT_EQ((std::vector<std::pair<std::string, std::string>>{{"Errorr: Buffers are still in the queue.", "Errorr..."}}),
              Notices);
    EXPECT_NE(0, OpenSelection[OutputPort(1)]);
    server->pause(false);
    // PipeWire may drop the cycles right after it resumes: sent until heard.
    const Bytes later{0x80, 0x3C, 0x40};
    EXPECT_TRUE(WaitFor([&] {
        SendToOutput(1, later[0] | later[1] << 8 | later[2] << 16);
        return !synth.received().empty() && synth.received().back().bytes == later;
    }));
    SelectOutput(1, 0);
    EXPECT_EQ(0, OpenSelection[OutputPort(1)]);
    EXPECT_EQ(1u, Notices.size());
}

// A 30 KiB dump on one input and 150 notes on another in one cycle, to one
// output: more than PipeWire carries in a cycle of a port; what does not fit
// goes whole in the next cycle.
TEST_F(OverJack, ADumpAndManyNotesMeetingInOneCycleAllArrive)
{
    JackPeer& editor = peer("editor", true, false);
    JackPeer& keys = peer("keys", true, false);
    JackPeer& synth = peer("synth", false, true);
    startRouter();
    Route(editor, 1, synth, 1);
    Route(keys, 2, synth, 1);
    ASSERT_TRUE(Prime(editor, {&synth}) && Prime(keys, {&synth}));
    std::vector<Bytes> sent{Sysex(30 * 1024, 1)};
    for (uint8_t i = 0; i < 150; ++i)
        sent.push_back({static_cast<uint8_t>(0x90 | (i / 128)), static_cast<uint8_t>(i % 128), 100});
    for (const Bytes& message : sent)
        (message == sent.front() ? editor : keys).play(message);
    ASSERT_TRUE(WaitFor([&] { return synth.received().size() == sent.size(); })) << synth.received().size();
    std::vector<Bytes> heard = BytesOf(synth);
    std::stable_partition(heard.begin(), heard.end(), [&](const Bytes& bytes) { return bytes == sent.front(); });
    EXPECT_EQ(sent, heard);
}

// Inputs that play at one frame reach an output in input order, also once an
// input that played earlier in the cycle has nothing more.
TEST_F(OverJack, InputsAtTheSameFrameKeepTheirOrder)
{
    const std::vector<JackPeer*> keys{&peer("k1", true, false), &peer("k2", true, false), &peer("k3", true, false)};
    JackPeer& synth = peer("synth", false, true);
    startRouter();
    for (int n = 1; n <= 3; ++n) {
        Route(*keys[n - 1], n, synth, 1);
        ASSERT_TRUE(Prime(*keys[n - 1], {&synth}));
    }
    // A round at a time, so that a long period does not gather one player's
    // notes of several rounds at one frame.
    for (uint8_t round = 0; round < 20; ++round) {
        for (uint8_t n = 0; n < 3; ++n)
            keys[n]->play({static_cast<uint8_t>(0x90 | n), round, 1}, n == 0 ? 0 : 100);
        ASSERT_TRUE(WaitFor([&] { return synth.received().size() == 3u * (round + 1); }));
    }
    // Only what arrived at one frame is compared (a cycle may begin between
    // two players' notes), and most did.
    const auto& heard = synth.received();
    int together = 0;
    for (size_t i = 1; i < heard.size(); ++i) {
        if (heard[i].at.frame != heard[i - 1].at.frame)
            continue;
        together += heard[i - 1].bytes[0] != heard[i].bytes[0];
        EXPECT_LE(heard[i - 1].bytes[0], heard[i].bytes[0]) << "at " << i;
    }
    EXPECT_GE(together, 10);
}
