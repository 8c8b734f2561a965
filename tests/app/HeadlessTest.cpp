// The built program as a user starts it from a shell or a service: a child
// process with no display in its environment, over the test's JACK server.

#include "FileHolder.h"
#include "JackPeer.h"
#include "JackServer.h"
#include "OptionsFile.h"
#include "Patience.h"
#include "RoutingSettings.h"
#include "SavedDeviceNames.h"
#include "TempDirectory.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <string_view>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace {

using Bytes = std::vector<uint8_t>;

bool Poll(const std::function<bool()>& done, int ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::string Read(const std::filesystem::path& file)
{
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Its standard output and error go to files in the current directory.
class Program {
public:
    explicit Program(std::vector<std::string> arguments, const char* workingDirectory = nullptr)
        : m_out(std::filesystem::current_path() / "program.out"), m_err(std::filesystem::current_path() / "program.err")
    {
        arguments.insert(arguments.begin(), RORARIDOV_PROGRAM);
        std::vector<char*> argv;
        for (auto& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        std::vector<char*> env;
        for (char** entry = environ; *entry; ++entry) {
            const std::string_view name(*entry);
            if (!name.starts_with("DISPLAY=") && !name.starts_with("WAYLAND_DISPLAY=") &&
                !name.starts_with("QT_QPA_PLATFORM="))
                env.push_back(*entry);
        }
        env.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (workingDirectory)
            posix_spawn_file_actions_addchdir_np(&actions, workingDirectory);
        if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), env.data()) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }

    ~Program()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }

    void signal(int number) { kill(m_pid, number); }

    // The exit status, or -1 when it did not end normally in time.
    int wait()
    {
        int status = 0;
        if (m_pid <= 0 || !Poll([&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; }, PatienceMs))
            return -1;
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string out() const { return Read(m_out); }
    std::string err() const { return Read(m_err); }

private:
    std::filesystem::path m_out, m_err;
    pid_t m_pid = -1;
};

void WriteOptionsFile(std::array<int32_t, 6> selections, int32_t routeMask1)
{
    TRoutingOptions options{};
    for (int n = 0; n < 3; ++n) {
        options.InSelect[n] = selections[n];
        options.OutSelect[n] = selections[n + 3];
    }
    options.RouteMask[0] = routeMask1;
    std::ofstream(OptionsFileName, std::ios::binary).write(reinterpret_cast<const char*>(&options), sizeof options);
}

std::vector<Bytes> Heard(JackPeer& synth)
{
    std::vector<Bytes> bytes;
    for (const auto& event : synth.received())
        bytes.push_back(event.bytes);
    return bytes;
}

class Headless : public testing::Test {
protected:
    JackServer server;
    JackPeer keys{"keys", true, false};
    JackPeer synth{"synth", false, true};
    TempDirectory directory;
};

TEST_F(Headless, RoutesTheSavedRouteAndReleasesAHeldNoteOnSigterm)
{
    ASSERT_TRUE(server.running());
    WriteOptionsFile({1, 0, 0, 1, 0, 0}, 1);
    Program program({"--headless"});
    ASSERT_TRUE(PrimePath(keys, {&synth}, Poll));
    keys.play({0x90, 60, 100});
    ASSERT_TRUE(Poll([&] { return !synth.received().empty(); }, PatienceMs));

    program.signal(SIGTERM);
    EXPECT_EQ(0, program.wait());
    EXPECT_TRUE(Poll([&] { return synth.received().size() == 2; }, PatienceMs));
    EXPECT_EQ((std::vector<Bytes>{{0x90, 60, 100}, {0x80, 60, 64}}), Heard(synth));
    EXPECT_EQ("", program.err());
}

TEST_F(Headless, WritesTheNoticesOfMissingDevicesEachNamingItsPortAndRoutesTheRest)
{
    ASSERT_TRUE(server.running());
    WriteOptionsFile({1, 0, 7, 1, 9, 0}, 1);
    Program program({"--headless"});
    ASSERT_TRUE(PrimePath(keys, {&synth}, Poll));
    keys.play({0xC0, 5});
    EXPECT_TRUE(Poll([&] { return !synth.received().empty(); }, PatienceMs));
    EXPECT_EQ("Errorr...: Errorr: The specified device identifier is out of range. (input 3, device 7)\n"
              "Errorr...: Errorr: The specified device identifier is out of range. (output 2, device 9)\n",
              program.err());
    program.signal(SIGINT);
    EXPECT_EQ(0, program.wait());
}

// A box whose unit starts before its JACK server: the saved devices wait,
// by name, and routing starts when the server answers, with no notice.
TEST(HeadlessOverJack, StartedBeforeTheServerWaitsForItAndRoutes)
{
    JackServer server(256, false, JackServer::Start::Later);
    TempDirectory directory;
    WriteOptionsFile({1, 0, 0, 1, 0, 0}, 1);
    std::ofstream(DeviceNamesFileName) << "keys:out\n\n\nsynth:in\n\n\n";
    Program program({"--headless", "--service", "jack"});
    // Long enough for the program to have looked for a server and found none.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_TRUE(server.restart()) << server.failure();
    JackPeer keys{"keys", true, false};
    JackPeer synth{"synth", false, true};
    ASSERT_TRUE(PrimePath(keys, {&synth}, Poll));
    keys.play({0x90, 60, 100});
    ASSERT_TRUE(Poll([&] { return !synth.received().empty(); }, PatienceMs));
    program.signal(SIGTERM);
    EXPECT_EQ(0, program.wait());
    EXPECT_EQ("", program.err());
}

// Positions left alone may lead to other devices: a damaged names file is
// passed over, but never in silence.
TEST_F(Headless, SaysWhenTheDeviceNamesFileIsDamaged)
{
    ASSERT_TRUE(server.running());
    WriteOptionsFile({1, 0, 0, 1, 0, 0}, 1);
    const std::function<void()> damages[] = {
        [] { std::ofstream(DeviceNamesFileName) << "keys\x01\xff\xfe"; },  // not text
        [] { std::ofstream(DeviceNamesFileName) << "keys:out\nkeys:"; },     // cut short
        [] { std::filesystem::create_directory(DeviceNamesFileName); },
        [] { std::filesystem::create_symlink("gone", DeviceNamesFileName); },
    };
    for (const auto& damage : damages) {
        std::filesystem::remove(DeviceNamesFileName);
        damage();
        Program program({"--headless"});
        ASSERT_TRUE(Poll([&] { return !program.err().empty(); }, PatienceMs));
        program.signal(SIGTERM);
        EXPECT_EQ(0, program.wait());
        EXPECT_EQ("Errorr!: Device names file Roraridov.devices is damaged or unreadable: saved devices opened by "
                  "position.\n",
                  program.err());
    }
}

TEST_F(Headless, EndsWithStatus1WhenTheOptionsFileIsHeld)
{
    ASSERT_TRUE(server.running());
    WriteOptionsFile({1, 0, 0, 1, 0, 0}, 1);
    FileHolder holder(OptionsFileName);
    ASSERT_TRUE(holder.holding());
    // Started elsewhere, so only --directory can lead it to the file.
    Program program({"--headless", "--directory", directory.path().string()}, "/");
    EXPECT_EQ(1, program.wait());
    EXPECT_EQ("Roraridov: Cannot open file Roraridov.opt.\n", program.err());
}

TEST(CommandLine, AnswersWithoutADisplay)
{
    TempDirectory directory;
    const struct {
        std::vector<std::string> arguments;
        int status;
        std::string out;
        std::string errStart;
    } cases[] = {
        {{"--help"}, 0, "", ""},
        {{"--version"}, 0, "Roraridov " RORARIDOV_VERSION "\n", ""},
        {{"--frobnicate"}, 2, "", "Roraridov: unknown option '--frobnicate'\n\nUsage: "},
        {{"--directory", "."}, 2, "", "Roraridov: option '--directory' needs '--headless'\n"},
        {{"--service", "winmm"}, 2, "", "Roraridov: option '--service' takes jack|alsa, not 'winmm'\n"},
    };
    for (const auto& c : cases) {
        Program program(c.arguments);
        EXPECT_EQ(c.status, program.wait()) << c.arguments[0];
        if (c.arguments[0] == "--help")
            EXPECT_TRUE(program.out().starts_with("Usage: Roraridov")) << program.out();
        else
            EXPECT_EQ(c.out, program.out()) << c.arguments[0];
        EXPECT_TRUE(program.err().starts_with(c.errStart)) << program.err();
    }
}

}  // namespace
