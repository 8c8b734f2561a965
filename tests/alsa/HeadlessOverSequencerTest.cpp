// The headless program on a real kernel sequencer, inside the guest
// scripts/alsa-vm boots: raw MIDI bytes into virtual devices, raw bytes out.

#include "ChildProgram.h"
#include "EngineReset.h"
#include "GuestDevices.h"
#include "MidiPorts.h"
#include "RawMidiFile.h"
#include "RoutingSettings.h"
#include "SavedDeviceNames.h"
#include "SequencerPeer.h"
#include "TempDirectory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>

namespace {

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

// Raw bytes into two inputs, raw bytes out of the outputs each is routed
// to, and nothing anywhere else, though another listener stops reading; at
// SIGTERM what sounds is let go.
TEST(HeadlessOverSequencer, RoutesConvertsFiltersCarriesA16KiBDumpByteExactAndReleasesOnSigterm)
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
    // A second listener on output 1 (port 3, out_1) that never reads: its
    // full queue must not hold back the device beside it.
    SequencerPeer stuck("stuck");
    ASSERT_TRUE(stuck.listenTo("Roraridov:3"));

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

    // Stopped while a note sounds and a bend made from pressure stands.
    a.forget();
    keys.write({0x90, 61, 90, 0xD0, 0x30});
    EXPECT_TRUE(Poll([&] { return a.messages().size() == 2; }, 5000));
    program.signal(SIGTERM);
    EXPECT_EQ(0, program.wait());
    std::vector<Bytes> released = a.messages();
    ASSERT_LE(2u, released.size());
    released.erase(released.begin(), released.begin() + 2);
    std::sort(released.begin(), released.end());
    EXPECT_EQ((std::vector<Bytes>{{0x80, 61, 64}, {0xE0, 0x00, 0x40}}), released);
    EXPECT_EQ("", program.err());
}

}  // namespace
