#include "MidiPorts.h"
#include "OptionsFileFixture.h"

#include <csignal>
#include <cstdlib>
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

TEST_F(OptionsFile, SavingThroughALinkWritesTheFileItPointsTo)
{
    std::filesystem::create_directory("settings");
    std::filesystem::create_symlink("settings/real.opt", OptionsFileName);
    SaveOptions();  // no such file yet: it is made
    EXPECT_EQ(Image(), Read("settings/real.opt"));
    Write(Counting(44), "settings/real.opt");
    SaveOptions();
    EXPECT_TRUE(std::filesystem::is_symlink(OptionsFileName));
    EXPECT_EQ(Image(), Read("settings/real.opt"));
}

// Root ignores the mode bits: the save runs in a child that gave root up.
TEST_F(OptionsFile, SavingHonoursThePermissionsTheUserSet)
{
    const struct {
        mode_t file, directory;
        bool saved;
    } cases[] = {
        {0444, 0777, false},  // write-protected: refused, not replaced
        {0666, 0555, true},   // no new file can be made beside it: rewritten in place
        {0222, 0777, true},   // written, never read
    };
    RoutingOptions.RouteMask[1] = 6;
    for (const auto& permissions : cases) {
        Write(Counting(44));
        chmod(OptionsFileName, permissions.file);
        chmod(".", permissions.directory);
        const auto saveAsUser = [] {
            if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
                std::_Exit(2);
            try {
                SaveOptions();
                std::_Exit(0);
            } catch (const FileFailure& failure) {
                std::_Exit(std::string(failure.what()) == "Cannot create file Roraridov.opt" ? 1 : 2);
            }
        };
        EXPECT_EXIT(saveAsUser(), ::testing::ExitedWithCode(permissions.saved ? 0 : 1), "") << permissions.file;
        chmod(".", 0755);
        chmod(OptionsFileName, 0644);
        EXPECT_EQ(permissions.saved ? Image() : Counting(44), Read()) << permissions.file;
        // The names go beside a saved options file where a file can be made.
        const int files = permissions.saved && permissions.directory == 0777 ? 2 : 1;
        EXPECT_EQ(files, std::distance(std::filesystem::directory_iterator("."), {}));
    }
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
