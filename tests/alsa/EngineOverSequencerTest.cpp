// The ALSA sequencer service and the engine over it, on a real kernel
// sequencer: this runs inside the guest scripts/alsa-vm boots, with "Midi
// Through" and four virtual raw MIDI devices whose files /dev/snd/midiC0D0-3
// are the far ends of the devices the program sees.

#include "ChildProgram.h"
#include "EngineFixture.h"
#include "GuestDevices.h"
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
#include <filesystem>
#include <fstream>
#include <memory>
#include <sched.h>
#include <set>
#include <thread>
#include <unistd.h>

namespace {

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

// The threads of this process that run real-time (the guest runs as root,
// which may).
int RealtimeThreads()
{
    int count = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        const int policy = sched_getscheduler(std::stoi(task.path().filename().string()));
        count += policy >= 0 && (policy & ~SCHED_RESET_ON_FORK) == SCHED_FIFO;
    }
    return count;
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
        notices.clear();
        EngineHooks.ShowErrorNotice = [](const char* text, const char*) { notices.push_back(text); };
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
    static inline std::vector<std::string> notices;
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
    EXPECT_EQ(1, RealtimeThreads()) << "the reader runs without real-time priority";
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
TEST_F(OverSequencer, SavedDevicesAreFoundByNameInTheNextRunAtOtherClientNumbers)
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

    // What the program does when it starts.
    Start();
    LoadOptions();
    RestoreSavedDeviceNames();
    OpenSavedDevices();
    RawMidiFile keys(0);
    ASSERT_TRUE(Prime(keys, {synth.get()}, Serve));
    keys.write({0x90, 64, 70});
    EXPECT_TRUE(Serve([&] { return synth->messages() == std::vector<Bytes>{{0x90, 64, 70}}; }, 5000));
    EXPECT_EQ(std::vector<std::string>{}, notices);
}

}  // namespace
