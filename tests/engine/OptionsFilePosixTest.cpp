#include "MidiPorts.h"
#include "OptionsFileFixture.h"
#include "SavedDeviceNames.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sys/resource.h>
#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
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
                // The system's reason follows the program's words.
                std::_Exit(std::string(failure.what()) == "Cannot create file Roraridov.opt: Permission denied" ? 1 : 2);
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

// The mode of a file is the process's business only at its creation: a save
// must not change the process's file mode mask, which every thread shares
// (the JACK library makes its socket on a thread of its own meanwhile).
TEST_F(OptionsFile, SavingLeavesTheModeOfOtherThreadsFilesAlone)
{
    // In memory where there is such a place: a thousand saves on a disk take long.
    const TempDirectory inMemory(std::filesystem::is_directory("/dev/shm") ? "/dev/shm"
                                                                           : std::filesystem::temp_directory_path());
    const mode_t mask = umask(022);
    std::atomic<bool> saving{true};
    int unmasked = 0;
    std::thread other([&] {
        for (int i = 0; saving.load(); ++i) {
            const std::string name = "other-" + std::to_string(i % 4);
            const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            struct stat info;
            if (fd >= 0 && fstat(fd, &info) == 0 && (info.st_mode & 022) != 0)
                ++unmasked;
            if (fd >= 0)
                close(fd);
            unlink(name.c_str());
        }
    });
    for (int i = 0; i < 1000; ++i)
        SaveOptions();
    saving = false;
    other.join();
    umask(mask);
    EXPECT_EQ(0, unmasked);
    struct stat info;
    ASSERT_EQ(0, stat(OptionsFileName, &info));
    EXPECT_EQ(0644u, info.st_mode & 07777);  // a new file: as the mask says
    chmod(OptionsFileName, 0600);
    SaveOptions();
    ASSERT_EQ(0, stat(OptionsFileName, &info));
    EXPECT_EQ(0600u, info.st_mode & 07777);  // an old one keeps its own
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

    // The names file, written first, comes up short: the save fails and says why.
    const std::string names = "\n\n\n\n\n\n";
    Write(Bytes(names.begin(), names.end()), DeviceNamesFileName);
    const auto saveNamesUnderLimit = [] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{3, 3};
        setrlimit(RLIMIT_FSIZE, &limit);
        SelectOutput(2, 1);
        try {
            SaveOptions();
        } catch (const FileFailure& failure) {
            std::_Exit(std::string(failure.what()) == "Cannot create file Roraridov.devices: File too large" ? 0 : 1);
        }
        std::_Exit(2);
    };
    EXPECT_EXIT(saveNamesUnderLimit(), ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(Bytes(names.begin(), names.end()), Read(DeviceNamesFileName));
    EXPECT_EQ(Counting(44), Read());
}

}  // namespace
