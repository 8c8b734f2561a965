#include "AlsaDeviceService.h"

#include <gtest/gtest.h>

#include <string>
#include <unistd.h>
#include <vector>

namespace {

TEST(FindAlsaPort, ChecksTheNumberAndFollowsThePortByName)
{
    const std::vector<std::string> enumerated{"Through:0 14:0", "Keys:0 20:0", "Pads:0 24:0"};
    EXPECT_EQ(MMSYSERR_BADDEVICEID, FindAlsaPort(3, enumerated, enumerated).result);
    EXPECT_EQ(MMSYSERR_BADDEVICEID, FindAlsaPort(0xFFFFFFFE, enumerated, enumerated).result);

    const AlsaPortLookup same = FindAlsaPort(1, enumerated, enumerated);
    EXPECT_EQ(MMSYSERR_NOERROR, same.result);
    EXPECT_EQ(1u, same.index);

    // A port before it went away: the same device is now one place earlier.
    const AlsaPortLookup moved = FindAlsaPort(2, enumerated, {"Keys:0 20:0", "Pads:0 24:0"});
    EXPECT_EQ(MMSYSERR_NOERROR, moved.result);
    EXPECT_EQ(1u, moved.index);

    EXPECT_EQ(MIDIERR_NODEVICE, FindAlsaPort(1, enumerated, {"Through:0 14:0"}).result);
}

TEST(AlsaService, IsAbsentWithoutASequencerAndSaysNothing)
{
    if (access("/dev/snd/seq", F_OK) == 0)
        GTEST_SKIP() << "this machine has an ALSA sequencer";
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    EXPECT_EQ(nullptr, OpenAlsaDeviceService("Roraridov"));
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
}

}  // namespace
