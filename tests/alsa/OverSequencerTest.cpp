// The ALSA sequencer service, the engine over it and the headless program,
// over a real kernel sequencer: this runs inside the guest scripts/alsa-vm
// boots, with "Midi Through" and four virtual raw MIDI devices whose files
// /dev/snd/midiC0D0-3 are the far ends of the devices the program sees.

#include "ChildProgram.h"
#include "EngineFixture.h"
#include "EngineReset.h"
#include "MessagePath.h"
#include "MidiPorts.h"
#include "OptionsFile.h"
#include "RawMidiFile.h"
#include "RoutingSettings.h"
#include "SavedDeviceNames.h"
#include "SequencerPeer.h"
#include "SoundingNotes.h"
#include "TempDirectory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <thread>
#include <unistd.h>

namespace {

// A device's selection index, by the start of its name; 0 if not listed.
int32_t Selection(const std::vector<std::string>& names, const std::string& start)
{
    for (size_t k = 1; k < names.size(); ++k) {
        if (names[k].starts_with(start))
            return static_cast<int32_t>(k);
    }
    return 0;
}

std::string VirtualDevice(int n)
{
    return "Virtual Raw MIDI 0-" + std::to_string(n) + ":";
}

// A message a line, long ones by their length and ends only.
std::string Summary(const std::vector<Bytes>& messages)
{
    std::string text;
    char hex[4];
    for (const Bytes& m : messages) {
        for (size_t i = 0; i < m.size(); ++i) {
            if (m.size() > 8 && i == 3) {
                text += "... (" + std::to_string(m.size()) + " bytes) ...";
                i = m.size() - 2;
                continue;
            }
            std::snprintf(hex, sizeof hex, " %02X", m[i]);
            text += hex;
        }
        text += '\n';
    }
    return text;
}

// What the main thread does on its wake-ups, as the windows would.
bool Serve(const std::function<bool()>& done, int ms)
{
    return Poll(
        [&] {
            DrainEvents();
            if (DeviceChangeWaiting())
                ServiceDevices();
            return done();
        },
        ms);
}

// Until the ports are subscribed what is played is lost: plays note-offs
// until every listener hears one, then a last one all of them must hear
// last, and forgets them all.
bool Prime(RawMidiFile& keys, std::initializer_list<MidiListener*> listeners,
           const std::function<bool(const std::function<bool()>&, int)>& wait)
{
    const auto all = [&](auto heard) {
        return std::all_of(listeners.begin(), listeners.end(), [&](MidiListener* l) { return heard(l->messages()); });
    };
    const bool reached = wait(
        [&] {
            keys.write({0x80, 0, 0});
            return all([](const std::vector<Bytes>& got) { return !got.empty(); });
        },
        20000);
    const Bytes last{0x80, 1, 0};
    keys.write(last);
    const bool settled =
        wait([&] { return all([&](const std::vector<Bytes>& got) { return !got.empty() && got.back() == last; }); },
             10000);
    for (MidiListener* listener : listeners)
        listener->forget();
    return reached && settled;
}

// The notes a stream leaves sounding, by channel and key.
std::set<int> Sounding(const std::vector<Bytes>& messages)
{
    std::set<int> sounding;
    for (const Bytes& m : messages) {
        if ((m[0] & 0xF0) == 0x90 && m[2] != 0)
            sounding.insert((m[0] & 0x0F) << 7 | m[1]);
        else if ((m[0] & 0xF0) == 0x80 || (m[0] & 0xF0) == 0x90)
            sounding.erase((m[0] & 0x0F) << 7 | m[1]);
    }
    return sounding;
}

// Unbinding the driver is how a hot-plugged card goes (modprobe -r refuses
// while a port of it is subscribed).
bool PlugVirtualDevices(bool in)
{
    std::ofstream(in ? "/sys/bus/platform/drivers/snd_virmidi/bind" : "/sys/bus/platform/drivers/snd_virmidi/unbind")
        << "snd_virmidi.0" << std::flush;
    return Poll([&] { return (access("/dev/snd/midiC0D0", F_OK) == 0) == in; }, 10000);
}

// The engine as the program runs it, over the machine's ALSA sequencer.
class OverSequencer : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0, access("/dev/snd/seq", F_OK)) << "no ALSA sequencer: run this through scripts/alsa-vm";
        Start();
    }
    void TearDown() override { Stop(); }
    void Start()
    {
        ResetEngine();
        SetWakeUpTarget(&wakeUps);
        EnumerateDevices(ServiceChoice::Alsa);
    }
    static void Stop()
    {
        CloseAllDevices();
        ReleaseDeviceService();
        FreeDeviceNames();
        ResetEngine();
    }

    TempDirectory directory;
    CountingWakeUp wakeUps;
};

TEST_F(OverSequencer, RoutesWithTheMainThreadHeldCutsARouteCleanlyAndFollowsADeviceUnpluggedAndBack)
{
    const int32_t keysIn = Selection(InDeviceNames, VirtualDevice(0));
    const int32_t synthA = Selection(OutDeviceNames, VirtualDevice(1));
    const int32_t synthB = Selection(OutDeviceNames, VirtualDevice(2));
    SelectInput(1, keysIn);
    SelectOutput(1, synthA);
    SelectOutput(2, synthB);
    ASSERT_EQ(keysIn, OpenSelection[InputPort(1)]);
    ASSERT_EQ(synthB, OpenSelection[OutputPort(2)]);
    SetRouting(1, 0b011, false, false);
    {
        RawMidiFile keys(0), a(1), b(2);
        ASSERT_TRUE(Prime(keys, {&a, &b}, Serve));

        // Held as by a notice box: no drain, no wake-up taken.
        keys.write({0x90, 60, 100});
        EXPECT_TRUE(Poll([&] { return a.messages().size() == 1 && b.messages().size() == 1; }, 5000))
            << "a message waited for the main thread";

        // Notes stream in while output 2 is cut from the route, a pair each
        // 2 ms: as fast as a MIDI cable carries them.
        constexpr int Notes = 300;
        std::thread player([&] {
            for (int i = 0; i < Notes; ++i) {
                keys.write({0x91, uint8_t(i % 128), 90, 0x81, uint8_t(i % 128), 0});
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
        Serve([&] { return b.messages().size() > 40; }, 20000);
        SetRouting(1, 0b001, false, false);
        player.join();
        keys.write({0x80, 60, 0});
        EXPECT_TRUE(Serve([&] { return a.messages().size() == 2 + 2 * Notes; }, 30000)) << a.messages().size();
        EXPECT_TRUE(Sounding(a.messages()).empty());
        // The held note and the one the cut caught are released there.
        EXPECT_EQ(std::set<int>{}, Sounding(b.messages()));
        EXPECT_LT(b.messages().size(), 2u + 2 * Notes);
    }

    ASSERT_TRUE(PlugVirtualDevices(false));
    EXPECT_TRUE(Serve([&] { return !DevicePresent(true, keysIn) && !DevicePresent(false, synthA); }, 10000))
        << "the devices that went are still shown present";
    ASSERT_TRUE(PlugVirtualDevices(true));
    EXPECT_TRUE(Serve([&] { return DevicePresent(true, keysIn) && DevicePresent(false, synthA); }, 10000))
        << "the devices that came back are not found by name";
    RawMidiFile keys(0), a(1);
    EXPECT_TRUE(Prime(keys, {&a}, Serve));
    keys.write({0x90, 62, 80});
    EXPECT_TRUE(Serve([&] { return a.messages() == std::vector<Bytes>{{0x90, 62, 80}}; }, 5000));
    keys.write({0x80, 62, 0});
    Serve([&] { return a.messages().size() == 2; }, 5000);
}

// The names file saved in one run finds its devices in the next, though
// they were plugged in another order and now have other client numbers.
TEST_F(OverSequencer, SavedDevicesAreFoundByNameAfterReplugAndTheProgramReleasesOnSigterm)
{
    auto spare = std::make_unique<SequencerPeer>("spare");
    auto synth = std::make_unique<SequencerPeer>("synth");
    const int firstNumber = synth->client();
    Stop();
    Start();
    SelectInput(1, Selection(InDeviceNames, VirtualDevice(0)));
    SelectOutput(1, Selection(OutDeviceNames, "synth:"));
    ASSERT_NE(0, OpenSelection[OutputPort(1)]);
    SetRouting(1, 0b001, false, false);
    SaveOptions();
    Stop();

    synth.reset();
    spare.reset();
    synth = std::make_unique<SequencerPeer>("synth");
    spare = std::make_unique<SequencerPeer>("spare");
    ASSERT_NE(firstNumber, synth->client());

    RawMidiFile keys(0);
    ChildProgram program(RORARIDOV_PROGRAM, {"--headless", "--service", "alsa"});
    ASSERT_TRUE(Prime(keys, {synth.get()}, Poll));
    keys.write({0x90, 64, 70});
    EXPECT_TRUE(Poll([&] { return synth->messages() == std::vector<Bytes>{{0x90, 64, 70}}; }, 5000));
    program.signal(SIGTERM);
    EXPECT_EQ(0, program.wait());
    EXPECT_EQ((std::vector<Bytes>{{0x90, 64, 70}, {0x80, 64, 64}}), synth->messages());
    EXPECT_EQ("", program.err());
}

// Raw bytes into two inputs, raw bytes out of the outputs each is routed
// to, and nothing anywhere else.
TEST(HeadlessOverSequencer, RoutesConvertsFiltersAndCarriesA16KiBDumpByteExact)
{
    TempDirectory directory;
    ResetEngine();
    EnumerateDevices(ServiceChoice::Alsa);
    TRoutingOptions options{};
    options.InSelect[0] = Selection(InDeviceNames, VirtualDevice(0));
    options.InSelect[1] = Selection(InDeviceNames, VirtualDevice(3));
    options.OutSelect[0] = Selection(OutDeviceNames, VirtualDevice(1));
    options.OutSelect[1] = Selection(OutDeviceNames, VirtualDevice(2));
    options.RouteMask[0] = 0b001;
    options.RouteMask[1] = 0b010;
    options.AtToPb[0] = 1;
    options.ChVoiceOnly[1] = 1;
    std::ofstream names(DeviceNamesFileName);
    for (int32_t selection : {options.InSelect[0], options.InSelect[1], 0})
        names << (selection ? InDeviceNames[selection] : "") << '\n';
    for (int32_t selection : {options.OutSelect[0], options.OutSelect[1], 0})
        names << (selection ? OutDeviceNames[selection] : "") << '\n';
    names.close();
    ReleaseDeviceService();
    FreeDeviceNames();
    WriteOptionsFile(options);

    RawMidiFile keys(0), pads(3), a(1), b(2);
    ChildProgram program(RORARIDOV_PROGRAM, {"--headless", "--service", "alsa"});
    ASSERT_TRUE(Prime(keys, {&a}, Poll));
    ASSERT_TRUE(Prime(pads, {&b}, Poll));

    Bytes dump{0xF0};
    for (int i = 1; i < 16 * 1024 - 1; ++i)
        dump.push_back(uint8_t(i * 7 % 128));
    dump.push_back(0xF7);
    keys.write({0x90, 60, 100, 0xD0, 0x25});
    keys.write(dump);
    keys.write({0xF8, 0x80, 60, 64});
    pads.write({0xF8, 0xFE, 0xF0, 0x01, 0x02, 0xF7, 0x91, 0x40, 0x50, 0xB1, 0x07, 0x64, 0xFE, 0x81, 0x40, 0x00});
    const std::vector<Bytes> expectedA{{0x90, 60, 100}, {0xE0, 0x00, 0x52}, dump, {0xF8}, {0x80, 60, 64}};
    const std::vector<Bytes> expectedB{{0x91, 0x40, 0x50}, {0xB1, 0x07, 0x64}, {0x81, 0x40, 0x00}};
    EXPECT_TRUE(Poll([&] { return a.messages().size() >= expectedA.size() && b.messages().size() >= expectedB.size(); },
                     20000));
    EXPECT_EQ(Summary(expectedA), Summary(a.messages()));
    EXPECT_TRUE(expectedA == a.messages()) << "the dump changed on its way";
    EXPECT_EQ(expectedB, b.messages());
    program.signal(SIGTERM);
    EXPECT_EQ(0, program.wait());
    EXPECT_EQ("", program.err());
}

}  // namespace
