#include "EngineFixture.h"
#include "EngineReset.h"
#include "MessagePath.h"
#include "MidiPorts.h"
#include "NullDeviceService.h"
#include "RoutingSettings.h"

#include <climits>

namespace {

using Kind = FakeDeviceService::Kind;
using Ports = EngineFixture;
using Strings = std::vector<std::string>;

TEST_F(Ports, NameListsStartWithTheNoDeviceEntry)
{
    EXPECT_EQ((Strings{"NO Selected IN Device", "Keys A", "Keys B", "Pads"}), InDeviceNames);
    EXPECT_EQ((Strings{"NO Selected OUT Device", "Synth A", "Synth B", "Drums"}), OutDeviceNames);
}

TEST(PortsWithoutDevices, ListsHoldOnlyTheirFirstEntries)
{
    ResetEngine();
    NullDeviceService none;
    DeviceService = &none;
    EnumerateDevices();
    EXPECT_EQ(Strings{"NO Selected IN Device"}, InDeviceNames);
    EXPECT_EQ(Strings{"NO Selected OUT Device"}, OutDeviceNames);
    ResetEngine();
    DeviceService = nullptr;
}

TEST(PortNames, LongNamesAreCutAndEveryDeviceGetsAnEntry)
{
    ResetEngine();
    FakeDeviceService fake({"A keyboard with a rather long product name", "", "X"}, {"Out"});
    DeviceService = &fake;
    EnumerateDevices();
    ASSERT_EQ(4u, InDeviceNames.size());
    EXPECT_EQ("A keyboard with a rather long p", InDeviceNames[1]);
    EXPECT_EQ(31u, InDeviceNames[1].size());
    EXPECT_FALSE(InDeviceNames[2].empty());  // a nameless device still has a visible entry
    EXPECT_EQ("X", InDeviceNames[3]);
    FreeDeviceNames();
    EXPECT_TRUE(InDeviceNames.empty());
    EXPECT_TRUE(OutDeviceNames.empty());
    ResetEngine();
    DeviceService = nullptr;
}

TEST_F(Ports, SelectingZeroOnAClosedPortDoesNothing)
{
    SelectInput(2, 0);
    SelectOutput(3, 0);
    EXPECT_TRUE(fake.calls().empty());
    EXPECT_TRUE(notices().empty());
}

TEST_F(Ports, OpenAndCloseFollowTheSelection)
{
    SelectInput(2, 3);
    SelectOutput(1, 2);
    EXPECT_EQ(3, OpenSelection[InputPort(2)]);
    EXPECT_EQ(2, OpenSelection[OutputPort(1)]);
    EXPECT_TRUE(fake.isOpen(Kind::Input, 2));
    EXPECT_TRUE(fake.isOpen(Kind::Output, 1));
    EXPECT_EQ((Strings{"open in 2", "start in 2", "open out 1"}), fake.calls());
    SelectInput(2, 0);
    SelectOutput(1, 0);
    EXPECT_EQ(0, OpenSelection[InputPort(2)]);
    EXPECT_EQ(0, OpenSelection[OutputPort(1)]);
    EXPECT_FALSE(fake.isOpen(Kind::Input, 2));
    EXPECT_FALSE(fake.isOpen(Kind::Output, 1));
    EXPECT_TRUE(notices().empty());
}

TEST_F(Ports, ReselectingTheOpenDeviceClosesAndReopensIt)
{
    SelectOutput(1, 1);
    RoutingOptions.RouteMask[0] = 1;
    SelectInput(1, 1);
    fake.clearCalls();
    SelectInput(1, 1);
    EXPECT_EQ((Strings{"close in 0", "open in 0", "start in 0"}), fake.calls());
    EXPECT_EQ(1, OpenSelection[InputPort(1)]);
    play(0, {Msg(0x90, 60, 1)});
    DrainEvents();
    EXPECT_EQ(1u, fake.sent(0).size());
}

TEST_F(Ports, ChoosingAnotherDeviceClosesTheOldOneFirst)
{
    SelectOutput(2, 1);
    fake.clearCalls();
    SelectOutput(2, 3);
    EXPECT_EQ((Strings{"close out 0", "open out 2"}), fake.calls());
    EXPECT_EQ(3, OpenSelection[OutputPort(2)]);
}

struct Failure {
    int port;  // port index
    MmResult code;
    const char* text;
    const char* caption;
};

std::string FailureName(const ::testing::TestParamInfo<Failure>& info)
{
    return "Port" + std::to_string(info.param.port) + "Code" + std::to_string(info.param.code);
}

void Select(int port, int32_t selection)
{
    if (port < 3)
        SelectInput(port + 1, selection);
    else
        SelectOutput(port - 2, selection);
}

Kind KindOf(int port)
{
    return port < 3 ? Kind::Input : Kind::Output;
}

class OpenFailure : public EngineFixture, public ::testing::WithParamInterface<Failure> {};

TEST_P(OpenFailure, IsReportedInItsOwnWordsAndLeavesThePortClosed)
{
    const Failure& f = GetParam();
    fake.failNextOpen(KindOf(f.port), 1, f.code);
    Select(f.port, 2);
    EXPECT_EQ(0, OpenSelection[f.port]);
    EXPECT_EQ(std::vector<Notice>{(Notice{f.text, f.caption})}, notices());
}

constexpr const char* OutOfRange = "Errorr: The specified device identifier is out of range.";
constexpr const char* Allocated = "Errorr: The specified resource is already allocated.";
constexpr const char* NoMemory = "Errorr: The system is unable to allocate or lock memory.";
constexpr const char* BadParam = "Errorr: The specified pointer or structure is invalid.";
constexpr const char* NoDevice = "Errorr: No MIDI port was found. This error occurs only when the mapper is opened.";
constexpr const char* In1 = "Errorr... in MIDI in 1";
constexpr const char* Plain = "Errorr...";

INSTANTIATE_TEST_SUITE_P(
    Table, OpenFailure,
    ::testing::Values(Failure{0, 2, OutOfRange, In1}, Failure{0, 4, Allocated, In1}, Failure{0, 7, NoMemory, In1},
                      Failure{0, 11, BadParam, In1}, Failure{0, 68, NoDevice, Plain},
                      Failure{1, 2, OutOfRange, Plain}, Failure{1, 4, Allocated, Plain},
                      Failure{2, 7, NoMemory, Plain}, Failure{2, 11, BadParam, Plain}, Failure{2, 68, NoDevice, Plain},
                      Failure{3, 2, OutOfRange, Plain}, Failure{3, 4, Allocated, Plain},
                      Failure{4, 7, NoMemory, Plain}, Failure{4, 11, BadParam, Plain}, Failure{5, 68, NoDevice, Plain}),
    FailureName);

class CloseFailure : public EngineFixture, public ::testing::WithParamInterface<Failure> {};

TEST_P(CloseFailure, IsReportedAndThePortKeepsItsDevice)
{
    const Failure& f = GetParam();
    Select(f.port, 2);
    MidiHandle handle = DeviceHandles[f.port];
    fake.failNextClose(KindOf(f.port), 1, f.code);
    fake.clearCalls();
    Select(f.port, 3);
    EXPECT_EQ(std::vector<Notice>{(Notice{f.text, f.caption})}, notices());
    EXPECT_EQ(2, OpenSelection[f.port]);
    EXPECT_EQ(handle, DeviceHandles[f.port]);
    // Nothing was opened over the handle that is still open.
    EXPECT_EQ((Strings{std::string("close ") + (f.port < 3 ? "in" : "out") + " 1"}), fake.calls());
    EXPECT_TRUE(fake.isOpen(KindOf(f.port), 1));
    EXPECT_FALSE(fake.isOpen(KindOf(f.port), 2));
}

INSTANTIATE_TEST_SUITE_P(
    Table, CloseFailure,
    ::testing::Values(Failure{0, 65, "Buffers are still in the queue.", In1},
                      Failure{0, 5, "The specified device handle is invalid.", In1},
                      Failure{0, 7, "The system is unable to load mapper string description.", In1},
                      Failure{1, 65, "Buffers are still in the queue.", Plain},
                      Failure{2, 5, "The specified device handle is invalid.", Plain},
                      Failure{2, 7, "The system is unable to load mapper string description.", Plain},
                      Failure{3, 65, "Errorr: Buffers are still in the queue.", Plain},
                      Failure{4, 5, "Errorr: The specified device handle is invalid.", Plain},
                      Failure{5, 7, "Errorr: The system is unable to load mapper string description.", Plain}),
    FailureName);

TEST_F(Ports, UnknownCodesPassInSilence)
{
    for (MmResult code : {1u, 6u, 64u, 99u}) {
        fake.failNextOpen(Kind::Input, 0, code);
        SelectInput(1, 1);
        EXPECT_EQ(0, OpenSelection[InputPort(1)]);
        fake.failNextOpen(Kind::Output, 0, code);
        SelectOutput(3, 1);
        EXPECT_EQ(0, OpenSelection[OutputPort(3)]);
    }
    SelectOutput(3, 1);
    fake.failNextClose(Kind::Output, 0, 99);
    SelectOutput(3, 0);
    EXPECT_EQ(1, OpenSelection[OutputPort(3)]);
    EXPECT_TRUE(notices().empty());
}

TEST_F(Ports, AFailedCloseCanBeRetried)
{
    SelectInput(1, 1);
    SelectOutput(1, 1);
    RoutingOptions.RouteMask[0] = 1;
    fake.failNextClose(Kind::Input, 0, MIDIERR_STILLPLAYING);
    SelectInput(1, 2);
    // The old device still plays into input 1 ...
    play(0, {Msg(0x90, 60, 1)});
    DrainEvents();
    EXPECT_EQ(1u, fake.sent(0).size());
    // ... until a later choice closes it.
    SelectInput(1, 2);
    EXPECT_EQ(2, OpenSelection[InputPort(1)]);
    EXPECT_FALSE(fake.isOpen(Kind::Input, 0));
    EXPECT_TRUE(fake.isOpen(Kind::Input, 1));
}

TEST_F(Ports, OpenFailureAfterAGoodCloseLeavesThePortClosed)
{
    SelectOutput(2, 1);
    fake.holdElsewhere(Kind::Output, 2);
    SelectOutput(2, 3);
    EXPECT_EQ(0, OpenSelection[OutputPort(2)]);
    EXPECT_FALSE(fake.isOpen(Kind::Output, 0));
    EXPECT_EQ(std::vector<Notice>{(Notice{Allocated, Plain})}, notices());
}

TEST_F(Ports, OutOfRangeAndNegativeSelectionsFailAsOutOfRange)
{
    SelectOutput(1, 4);  // three output devices
    SelectInput(1, 4);
    SelectInput(2, -1);
    SelectOutput(3, INT_MIN);
    const std::vector<Notice> expected{{OutOfRange, Plain}, {OutOfRange, In1}, {OutOfRange, Plain}, {OutOfRange, Plain}};
    EXPECT_EQ(expected, notices());
    for (int port = 0; port < PortCount; ++port)
        EXPECT_EQ(0, OpenSelection[port]);
    EXPECT_EQ((Strings{"open out 3", "open in 3", "open in 4294967294", "open out 2147483647"}), fake.calls());
}

TEST_F(Ports, SavedDevicesOpenInputsFirstThenOutputs)
{
    RoutingOptions.InSelect[0] = 3;
    RoutingOptions.InSelect[2] = 1;
    RoutingOptions.OutSelect[0] = 2;
    RoutingOptions.OutSelect[1] = 9;  // gone since it was saved
    RoutingOptions.OutSelect[2] = 1;
    OpenSavedDevices();
    EXPECT_EQ((Strings{"open in 2", "start in 2", "open in 0", "start in 0", "open out 1", "open out 8", "open out 0"}),
              fake.calls());
    EXPECT_EQ((std::vector<int32_t>{3, 0, 1, 2, 0, 1}), std::vector<int32_t>(OpenSelection, OpenSelection + 6));
    EXPECT_EQ(std::vector<Notice>{(Notice{OutOfRange, Plain})}, notices());
}

TEST_F(Ports, CloseAllClosesInputsThenOutputsAndReportsEveryFailure)
{
    for (int n = 1; n <= 3; ++n) {
        SelectInput(n, n);
        SelectOutput(n, n);
    }
    fake.failNextClose(Kind::Input, 1, MMSYSERR_INVALHANDLE);
    fake.failNextClose(Kind::Output, 0, MMSYSERR_NOMEM);
    fake.clearCalls();
    CloseAllDevices();
    EXPECT_EQ((Strings{"close in 0", "close in 1", "close in 2", "close out 0", "close out 1", "close out 2"}),
              fake.calls());
    const std::vector<Notice> expected{{"The specified device handle is invalid.", Plain},
                                       {"Errorr: The system is unable to load mapper string description.", Plain}};
    EXPECT_EQ(expected, notices());
    EXPECT_EQ((std::vector<int32_t>{0, 2, 0, 1, 0, 0}), std::vector<int32_t>(OpenSelection, OpenSelection + 6));
}

TEST_F(Ports, TheSameDeviceOnTwoPortsIsAlreadyAllocated)
{
    SelectInput(1, 2);
    SelectInput(3, 2);
    EXPECT_EQ(0, OpenSelection[InputPort(3)]);
    EXPECT_EQ(std::vector<Notice>{(Notice{Allocated, Plain})}, notices());
}

}  // namespace
