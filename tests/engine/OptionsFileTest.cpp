#include "FileHolder.h"
#include "MidiPorts.h"
#include "OptionsFileFixture.h"
#include "RoutingSettings.h"
#include "SavedDeviceNames.h"
#include "SetupCommands.h"

#include <algorithm>
#include <memory>

namespace {

const Notice Damaged{"Device names file Roraridov.devices is damaged or unreadable: saved devices opened by position.",
                     "Errorr!"};

TEST_F(OptionsFile, NoFileIsReportedAndLeavesEverythingZero)
{
    LoadOptions();
    EXPECT_EQ(std::vector<Notice>{Missing}, notices());
    EXPECT_EQ(Bytes(44, 0), Image());
}

TEST_F(OptionsFile, AFullFileLoadsEveryFieldSilently)
{
    Bytes bytes(44, 0);
    const int32_t ints[9] = {1, 2, 3, 3, 2, 1, 5, 7, 2};
    memcpy(bytes.data(), ints, sizeof ints);
    const uint8_t flags[8] = {1, 0, 1, 0, 1, 1, 0xAB, 0xCD};
    memcpy(bytes.data() + 36, flags, sizeof flags);
    Write(bytes);
    LoadOptions();
    EXPECT_TRUE(notices().empty());
    EXPECT_EQ(bytes, Image());
    EXPECT_EQ(3, RoutingOptions.InSelect[2]);
    EXPECT_EQ(7, RoutingOptions.RouteMask[1]);
    EXPECT_TRUE(ChannelVoiceOnly(3));
    EXPECT_FALSE(ChannelVoiceOnly(1));
}

TEST_F(OptionsFile, AThirtyByteFileKeepsItsPartialRouting)
{
    Write(Counting(30));
    LoadOptions();
    EXPECT_EQ(std::vector<Notice>{ShortRead}, notices());
    Bytes expected(44, 0);
    for (size_t i = 24; i < 30; ++i)  // selections zeroed, masks as far as they were read
        expected[i] = static_cast<uint8_t>(i + 1);
    EXPECT_EQ(expected, Image());
    EXPECT_EQ(0x1C1B1A19, RoutingOptions.RouteMask[0]);
    EXPECT_EQ(0x1E1D, RoutingOptions.RouteMask[1]);
    EXPECT_EQ(0, RoutingOptions.RouteMask[2]);
}

TEST_F(OptionsFile, AnEmptyFileIsAShortRead)
{
    Write({});
    LoadOptions();
    EXPECT_EQ(std::vector<Notice>{ShortRead}, notices());
    EXPECT_EQ(Bytes(44, 0), Image());
}

TEST_F(OptionsFile, AFiftyByteFileLoadsLikeItsFirst44)
{
    Write(Counting(50));
    LoadOptions();
    EXPECT_TRUE(notices().empty());
    EXPECT_EQ(Counting(44), Image());
}

TEST_F(OptionsFile, ADirectoryOfThatNameCountsAsNoFile)
{
    std::filesystem::create_directory(OptionsFileName);
    LoadOptions();
    EXPECT_EQ(std::vector<Notice>{Missing}, notices());
    EXPECT_THROW(SaveOptions(), FileFailure);
}

TEST_F(OptionsFile, AFileSomeoneElseHoldsCannotBeOpened)
{
    Write(Counting(44));
    auto other = std::make_unique<FileHolder>(OptionsFileName);
    ASSERT_TRUE(other->holding());
    try {
        LoadOptions();
        ADD_FAILURE() << "no failure raised";
    } catch (const FileFailure& failure) {
        EXPECT_STREQ("Cannot open file Roraridov.opt", failure.what());
    }
    EXPECT_EQ(Bytes(44, 0), Image());
    try {
        SaveOptions();
        ADD_FAILURE() << "no failure raised";
    } catch (const FileFailure& failure) {
        EXPECT_STREQ("Cannot create file Roraridov.opt: Another program holds it", failure.what());
    }
    other.reset();
    EXPECT_EQ(Counting(44), Read());  // the refused save left it as it was
    LoadOptions();
    EXPECT_EQ(Counting(44), Image());
}

TEST_F(OptionsFile, SaveWritesTheDevicesOpenNow)
{
    Write(Counting(44));
    LoadOptions();
    SelectInput(2, 3);
    SaveOptions();
    const Bytes saved = Read();
    ASSERT_EQ(44u, saved.size());
    int32_t selections[6];
    memcpy(selections, saved.data(), sizeof selections);
    EXPECT_EQ((std::vector<int32_t>{0, 3, 0, 0, 0, 0}), std::vector<int32_t>(selections, selections + 6));
    // Everything after the selections, the reserved bytes included, is written back as loaded.
    const Bytes loaded = Counting(44);
    EXPECT_EQ(Bytes(loaded.begin() + 24, loaded.end()), Bytes(saved.begin() + 24, saved.end()));
}

TEST_F(OptionsFile, SavingTwiceWritesTheSame44Bytes)
{
    Write(Counting(100));
    RoutingOptions.RouteMask[2] = 6;
    RoutingOptions.AtToPb[0] = 1;
    SetChannelVoiceOnly(2, true);
    SaveOptions();
    const Bytes first = Read();
    SaveOptions();
    EXPECT_EQ(44u, first.size());
    EXPECT_EQ(first, Read());
    EXPECT_EQ(first, Image());
}

TEST_F(OptionsFile, WhatIsSavedLoadsBackInTheNextRun)
{
    SelectInput(1, 2);
    SelectOutput(3, 1);
    RoutingOptions.RouteMask[0] = 5;
    RoutingOptions.AtToPb[2] = 1;
    SetChannelVoiceOnly(1, true);
    SaveOptions();
    const Bytes saved = Image();
    CloseAllDevices();
    RoutingOptions = TRoutingOptions{};
    LoadOptions();
    EXPECT_EQ(saved, Image());
    EXPECT_TRUE(notices().empty());
}

// The names saved beside the options file lead each port to its device
// wherever the device stands now; a port without a usable name keeps its
// saved position.
TEST_F(OptionsFile, SavedNamesLeadToTheirDevices)
{
    Bytes bytes(44, 0);
    bytes[0] = 1;   // input 1: position 1, saved as "Pads", now at 3
    bytes[4] = 2;   // input 2: position 2, no name saved
    bytes[12] = 1;  // output 1: position 1, saved as a synth that has gone
    Write(bytes);
    const std::string names = "Pads\n\n\nGone synth\n\n\n";
    Write(Bytes(names.begin(), names.end()), DeviceNamesFileName);
    LoadOptions();
    RestoreSavedDeviceNames();
    OpenSavedDevices();
    EXPECT_EQ(3, OpenSelection[InputPort(1)]);
    EXPECT_EQ(2, OpenSelection[InputPort(2)]);
    EXPECT_EQ(0, OpenSelection[OutputPort(1)]);
    EXPECT_EQ(std::vector<Notice>{Notice({"Errorr: The specified device identifier is out of range.", "Errorr..."})},
              notices());
    EXPECT_EQ(std::vector<std::string>{"output 1, device \"Gone synth\""}, noticeSubjects());

    // Not text: passed over and said so, the positions stand.
    CloseAllDevices();
    notices().clear();
    Write(Bytes{'P', 'a', 'd', 's', 0, '\n'}, DeviceNamesFileName);
    LoadOptions();
    RestoreSavedDeviceNames();
    OpenSavedDevices();
    EXPECT_EQ(1, OpenSelection[InputPort(1)]);
    EXPECT_EQ(1, OpenSelection[OutputPort(1)]);
    EXPECT_EQ(std::vector<Notice>{Damaged}, notices());
}

TEST_F(OptionsFile, SavingLeavesNoOtherFileBehind)
{
    SaveOptions();
    SaveOptions();
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory.path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::string>{DeviceNamesFileName, OptionsFileName}), names);
}

}  // namespace

// A save from the command line changes what it names and nothing else: a
// saved device that is not here keeps its name and position, the reserved
// bytes stay, and a device asked for on two inputs saves nothing.
TEST_F(OptionsFile, ACommandLineSaveKeepsWhatItDoesNotName)
{
    TRoutingOptions before{{1, 0, 0}, {2, 0, 0}, {1, 0, 0}, {}, {}, {0xAB, 0xCD}};
    Write(Bytes(reinterpret_cast<uint8_t*>(&before), reinterpret_cast<uint8_t*>(&before + 1)));
    std::ofstream(DeviceNamesFileName) << "Keys A\n\n\nGone Synth\n\n\n";
    const auto run = [](std::vector<SettingsChange> changes, std::string& out, std::string& err) {
        std::FILE* files[2] = {std::fopen("setup.out", "w+b"), std::fopen("setup.err", "w+b")};
        const int status = RunSetupCommand(SetupAction::Save, changes, ServiceChoice::Automatic, "", files[0], files[1]);
        for (int i = 0; i < 2; ++i) {
            std::rewind(files[i]);
            std::string& text = i == 0 ? out : err;
            for (int c; (c = std::fgetc(files[i])) != EOF;)
                text += static_cast<char>(c);
            std::fclose(files[i]);
        }
        return status;
    };
    std::string out, err;
    EXPECT_EQ(0, run({{SettingsChange::Input, 2, "Pads"}, {SettingsChange::Route, 2, "", 5},
                      {SettingsChange::AtToPb, 1, "", 0, true}},
                     out, err));
    EXPECT_EQ("", err);
    TRoutingOptions after{{1, 3, 0}, {4, 0, 0}, {1, 5, 0}, {1, 0, 0}, {}, {0xAB, 0xCD}};
    const Bytes saved = Read();
    EXPECT_EQ(Bytes(reinterpret_cast<uint8_t*>(&after), reinterpret_cast<uint8_t*>(&after + 1)), saved);
    const Bytes names = Read(DeviceNamesFileName);
    EXPECT_EQ("Keys A\nPads\n\nGone Synth\n\n\n", std::string(names.begin(), names.end()));
    EXPECT_TRUE(out.find("\noutput 1: Gone Synth\n") != std::string::npos) << out;

    out.clear();
    EXPECT_EQ(1, run({{SettingsChange::Input, 3, "Keys A"}}, out, err));
    EXPECT_EQ("Roraridov: input 1 and input 3 cannot both have \"Keys A\"\nRoraridov: nothing saved.\n", err);
    EXPECT_EQ(saved, Read());
}
