#include "MidiPorts.h"
#include "OptionsFileFixture.h"

#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

// What only a POSIX file system has: FIFOs, links, a file size limit.

namespace {

TEST_F(OptionsFile, AFifoOfThatNameFailsInsteadOfHanging)
{
    ASSERT_EQ(0, mkfifo(OptionsFileName, 0644));
    EXPECT_THROW(LoadOptions(), FileFailure);
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

}  // namespace
