#include "EngineFixture.h"
#include "MidiPorts.h"
#include "OptionsFile.h"
#include "RoutingSettings.h"
#include "TempDirectory.h"

#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<uint8_t>;

const Notice Missing{"Options file not exist!  Initializing With Deffault Values!", "Errorr!"};
const Notice ShortRead{"Error While Reading Options File !", "Errorr!"};

class OptionsFile : public EngineFixture {
protected:
    static void Write(const Bytes& bytes, const char* name = OptionsFileName)
    {
        std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }

    static Bytes Read(const char* name = OptionsFileName)
    {
        std::ifstream in(name, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }

    static Bytes Image()
    {
        Bytes bytes(sizeof RoutingOptions);
        memcpy(bytes.data(), &RoutingOptions, bytes.size());
        return bytes;
    }

    // A file with every byte distinct: byte i holds i + 1.
    static Bytes Counting(size_t size)
    {
        Bytes bytes(size);
        for (size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<uint8_t>(i + 1);
        return bytes;
    }

    TempDirectory directory;
};

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
    mkdir(OptionsFileName, 0755);
    LoadOptions();
    EXPECT_EQ(std::vector<Notice>{Missing}, notices());
    EXPECT_THROW(SaveOptions(), FileFailure);
}

TEST_F(OptionsFile, AFileSomeoneElseHoldsCannotBeOpened)
{
    Write(Counting(44));
    const int other = open(OptionsFileName, O_RDONLY);
    ASSERT_EQ(0, flock(other, LOCK_EX | LOCK_NB));
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
        EXPECT_STREQ("Cannot create file Roraridov.opt", failure.what());
    }
    EXPECT_EQ(Counting(44), Read());
    close(other);
    LoadOptions();
    EXPECT_EQ(Counting(44), Image());
}

TEST_F(OptionsFile, AFifoOfThatNameFailsInsteadOfHanging)
{
    ASSERT_EQ(0, mkfifo(OptionsFileName, 0644));
    EXPECT_THROW(LoadOptions(), FileFailure);
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

TEST_F(OptionsFile, SavingLeavesNoOtherFileBehind)
{
    SaveOptions();
    SaveOptions();
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory.path()))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(std::vector<std::string>{OptionsFileName}, names);
}

TEST_F(OptionsFile, SavingThroughALinkReplacesTheFileItPointsTo)
{
    std::filesystem::create_directory("settings");
    Write(Counting(44), "settings/real.opt");
    std::filesystem::create_symlink("settings/real.opt", OptionsFileName);
    SaveOptions();
    EXPECT_TRUE(std::filesystem::is_symlink(OptionsFileName));
    EXPECT_EQ(Image(), Read("settings/real.opt"));
}

TEST_F(OptionsFile, AShortWriteIsReportedAndKeepsTheOldFile)
{
    Write(Counting(44));
    // In a child process: a file size limit makes the write come up short.
    const auto saveUnderLimit = [] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{30, 30};
        setrlimit(RLIMIT_FSIZE, &limit);
        RoutingOptions.RouteMask[0] = 7;
        SaveOptions();
        const bool reported = notices() == std::vector<Notice>{{"Error Writing Options File !", "Bad Write"}};
        const bool kept = Read() == Counting(44);
        std::_Exit(reported && kept ? 0 : 1);
    };
    EXPECT_EXIT(saveUnderLimit(), ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(Counting(44), Read());
}

// Files of any size and content: the loader never crashes, takes exactly
// the bytes it reads, and zeroes the selections whenever the read was short.
TEST_F(OptionsFile, ArbitraryFilesLoadSafely)
{
    std::mt19937 random(2026);
    for (int round = 0; round < 500; ++round) {
        const size_t size = random() % 3 == 0 ? 44 : random() % 100;
        Bytes bytes(size);
        for (auto& byte : bytes)
            byte = static_cast<uint8_t>(random());
        Write(bytes);
        RoutingOptions = TRoutingOptions{};
        notices().clear();
        LoadOptions();
        Bytes expected(44, 0);
        std::copy_n(bytes.begin(), std::min<size_t>(size, 44), expected.begin());
        if (size < 44) {
            std::fill_n(expected.begin(), 24, 0);
            ASSERT_EQ(std::vector<Notice>{ShortRead}, notices()) << size;
        } else {
            ASSERT_TRUE(notices().empty()) << size;
        }
        ASSERT_EQ(expected, Image()) << "size " << size;
    }
}

}  // namespace
