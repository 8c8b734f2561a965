// The built program as a user starts it from a shell or a service: a child
// process with no display in its environment, over the test's JACK server.

#include "ChildProgram.h"
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
#include <fstream>
#include <thread>

namespace {

using Bytes = std::vector<uint8_t>;

void WriteOptionsFile(std::array<int32_t, 6> selections, int32_t routeMask1)
{
    TRoutingOptions options{};
    for (int n = 0; n < 3; ++n) {
        options.InSelect[n] = selections[n];
        options.OutSelect[n] = selections[n + 3];
    }
    options.RouteMask[0] = routeMask1;
    ::WriteOptionsFile(options);
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
    ChildProgram program(RORARIDOV_PROGRAM, {"--headless"});
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
    ChildProgram program(RORARIDOV_PROGRAM, {"--headless"});
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
    ChildProgram program(RORARIDOV_PROGRAM, {"--headless", "--service", "jack"});
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
        ChildProgram program(RORARIDOV_PROGRAM, {"--headless"});
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
    ChildProgram program(RORARIDOV_PROGRAM, {"--headless", "--directory", directory.path().string()}, "/");
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
        {{"--directory", "."}, 2, "", "Roraridov: option '--directory' needs '--headless', '--list-devices', "},
        {{"--service", "winmm"}, 2, "", "Roraridov: option '--service' takes jack|alsa, not 'winmm'\n"},
    };
    for (const auto& c : cases) {
        ChildProgram program(RORARIDOV_PROGRAM, c.arguments);
        EXPECT_EQ(c.status, program.wait()) << c.arguments[0];
        if (c.arguments[0] == "--help")
            EXPECT_TRUE(program.out().starts_with("Usage: Roraridov")) << program.out();
        else
            EXPECT_EQ(c.out, program.out()) << c.arguments[0];
        EXPECT_TRUE(program.err().starts_with(c.errStart)) << program.err();
    }
}

}  // namespace

// A box set up over ssh: the devices listed, two ports and a route saved
// from the command line, then the service started on them plays. SIGUSR1
// sends the panic; a second copy in the same directory is refused (it would
// double every note), one in another directory is not.
TEST_F(Headless, IsSetUpFromTheCommandLineAndRoutesAnswersThePanicAndRefusesASecondCopy)
{
    ASSERT_TRUE(server.running());
    ChildProgram list(RORARIDOV_PROGRAM, {"--list-devices"});
    ASSERT_EQ(0, list.wait()) << list.err();
    std::istringstream lines(list.out());
    // Where they stand in the lists, as the options file counts them.
    int32_t keysAt = 0, synthAt = 0, inputs = 0, outputs = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("input\t") && ++inputs && line == "input\t" + keys.keyboardPort())
            keysAt = inputs;
        if (line.starts_with("output\t") && ++outputs && line == "output\t" + synth.synthPort())
            synthAt = outputs;
    }
    ASSERT_TRUE(keysAt > 0 && synthAt > 0) << list.out();
    EXPECT_TRUE(list.out().ends_with("\n\ninput 1: none\ninput 2: none\ninput 3: none\n"
                                     "output 1: none\noutput 2: none\noutput 3: none\n"));

    ChildProgram save(RORARIDOV_PROGRAM, {"--input", "1=" + keys.keyboardPort(), "--output=2=" + synth.synthPort(), "--route", "1=2", "--save"});
    ASSERT_EQ(0, save.wait()) << save.err();
    ChildProgram show(RORARIDOV_PROGRAM, {"--show"});
    EXPECT_EQ(0, show.wait());
    EXPECT_EQ("input 1: " + keys.keyboardPort() + "; to output 2; AT to PB off; Ch Voice Only off\n"
              "input 2: none; to no output; AT to PB off; Ch Voice Only off\n"
              "input 3: none; to no output; AT to PB off; Ch Voice Only off\n"
              "output 1: none\noutput 2: " + synth.synthPort() + "\noutput 3: none\n",
              show.out());
    TRoutingOptions expected{};
    expected.InSelect[0] = keysAt;
    expected.OutSelect[1] = synthAt;
    expected.RouteMask[0] = 2;
    const std::string saved = ReadText(OptionsFileName);
    EXPECT_TRUE(saved.size() == sizeof expected && memcmp(saved.data(), &expected, sizeof expected) == 0);
    EXPECT_EQ(keys.keyboardPort() + "\n\n\n\n" + synth.synthPort() + "\n\n", ReadText(DeviceNamesFileName));

    ChildProgram program(RORARIDOV_PROGRAM, {"--headless"}, nullptr, "service");
    ASSERT_TRUE(Poll([&] { return program.out().ends_with("\n"); }, PatienceMs));
    EXPECT_EQ("Roraridov: MIDI service JACK; input 1 \"" + keys.keyboardPort() + "\", input 2 none, input 3 none; "
              "output 1 none, output 2 \"" + synth.synthPort() + "\", output 3 none\n",
              program.out());
    ASSERT_TRUE(PrimePath(keys, {&synth}, Poll));
    keys.play({0x90, 60, 100});
    ASSERT_TRUE(Poll([&] { return synth.received().size() == 1; }, PatienceMs));
    program.signal(SIGUSR1);
    ASSERT_TRUE(Poll([&] { return synth.received().size() == 34; }, PatienceMs)) << synth.received().size();
    const std::vector<Bytes> heard = Heard(synth);
    EXPECT_EQ((std::vector<Bytes>{{0x90, 60, 100}, {0x80, 60, 64}, {0xB0, 123, 0}, {0xB0, 121, 0}}),
              std::vector<Bytes>(heard.begin(), heard.begin() + 4));
    EXPECT_EQ((Bytes{0xBF, 121, 0}), heard.back());

    ChildProgram second(RORARIDOV_PROGRAM, {"--headless"}, nullptr, "second");
    EXPECT_EQ(1, second.wait());
    EXPECT_EQ("Roraridov: Another copy is already running in this directory.\n", second.err());
    std::filesystem::create_directory("elsewhere");
    ChildProgram elsewhere(RORARIDOV_PROGRAM, {"--headless", "--directory", "elsewhere"}, nullptr, "elsewhere");
    EXPECT_TRUE(Poll([&] { return elsewhere.out().ends_with("\n"); }, PatienceMs));
    elsewhere.signal(SIGTERM);
    EXPECT_EQ(0, elsewhere.wait());

    program.signal(SIGTERM);
    EXPECT_EQ(0, program.wait());
    EXPECT_EQ("", program.err());
}

// An unknown device or a mistyped option saves nothing, not even the
// changes that were right: both files stay as they were, byte for byte.
TEST_F(Headless, AMistakeOnTheCommandLineSavesNothing)
{
    ASSERT_TRUE(server.running());
    WriteOptionsFile({1, 0, 0, 1, 0, 0}, 1);
    std::ofstream(DeviceNamesFileName) << "keys:out\n\n\nsynth:in\n\n\n";
    const std::string options = ReadText(OptionsFileName), names = ReadText(DeviceNamesFileName);
    const struct {
        std::vector<std::string> arguments;
        int status;
        std::string err;
    } cases[] = {
        {{"--route", "2=1", "--input", "2=kyes:out", "--save"},
         1,
         "Roraridov: input 2: no device \"kyes:out\"; close matches: \"keys:out\"\nRoraridov: nothing saved.\n"},
        {{"--route", "2=1", "--route", "1=1,4", "--save"}, 2, "Roraridov: option '--route' takes N=OUTPUTS"},
    };
    for (const auto& c : cases) {
        ChildProgram program(RORARIDOV_PROGRAM, c.arguments);
        EXPECT_EQ(c.status, program.wait());
        EXPECT_TRUE(program.err().starts_with(c.err)) << program.err();
        EXPECT_EQ(options, ReadText(OptionsFileName));
        EXPECT_EQ(names, ReadText(DeviceNamesFileName));
        EXPECT_EQ(4, std::distance(std::filesystem::directory_iterator("."), {}));  // no file left beside them
    }
}
