#include "AlsaDeviceService.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

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
