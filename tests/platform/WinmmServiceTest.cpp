// The program's ports over the system's own winmm (under wine here, which
// has no MIDI devices).

#include "EngineFixture.h"
#include "EngineReset.h"
#include "MidiPorts.h"
#include "RoutingSettings.h"

#include <gtest/gtest.h>

namespace {

std::vector<Notice> Notices;

class Winmm : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetEngine();
        Notices.clear();
        EngineHooks.ShowErrorNotice = [](const char* text, const char* caption) { Notices.push_back({text, caption}); };
        EnumerateDevices();  // chooses the system's service
    }

    void TearDown() override
    {
        CloseAllDevices();
        ResetEngine();
    }
};

TEST_F(Winmm, WithoutDevicesTheListsHoldOnlyTheirFirstEntries)
{
    ASSERT_NE(nullptr, DeviceService);
    EXPECT_EQ(std::vector<std::string>{"NO Selected IN Device"}, InDeviceNames);
    EXPECT_EQ(std::vector<std::string>{"NO Selected OUT Device"}, OutDeviceNames);
}

TEST_F(Winmm, OpeningDeviceFiveFailsAsOutOfRangeOnEveryPort)
{
    for (int n = 1; n <= 3; ++n) {
        SelectInput(n, 6);
        SelectOutput(n, 6);
    }
    const std::string text = "Errorr: The specified device identifier is out of range.";
    const std::vector<Notice> expected{{text, "Errorr... in MIDI in 1"}, {text, "Errorr..."}, {text, "Errorr..."},
                                       {text, "Errorr..."},              {text, "Errorr..."}, {text, "Errorr..."}};
    EXPECT_EQ(expected, Notices);
    for (int port = 0; port < PortCount; ++port)
        EXPECT_EQ(0, OpenSelection[port]);
}

}  // namespace
