#include "EngineReset.h"
#include "EventRing.h"
#include "LostMessages.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

class LostMessagesTest : public ::testing::Test {
protected:
    void SetUp() override { ResetEngine(); }
    void TearDown() override { ResetEngine(); }
};

// Whatever loses a message, the count a user is shown holds it: sends
// refused on three threads at once and entries the full ring turned away.
TEST_F(LostMessagesTest, CountsEveryLossFromEveryThread)
{
    std::vector<std::thread> senders;
    for (int t = 0; t < 3; ++t) {
        senders.emplace_back([] {
            for (int i = 0; i < 1000; ++i)
                CountLostMessages();
        });
    }
    uint64_t refused = 0;
    for (uint32_t i = 0; i < EventRingSlots + 4; ++i)
        refused += PushEvent(i) ? 0 : 1;
    for (auto& sender : senders)
        sender.join();
    CountLostMessages(10);
    EXPECT_GE(refused, 5u);
    EXPECT_EQ(3000u + refused + 10u, LostMessages());
}

// One report when losses begin, one when a look finds no new loss.
TEST_F(LostMessagesTest, ReportsWhenLossesBeginAndWhenTheyEnd)
{
    LossWatch watch;
    const auto look = [&] { return WatchLosses(watch); };
    EXPECT_EQ(LossChange::None, look());
    CountLostMessages(2);
    EXPECT_EQ(LossChange::Began, look());
    uint64_t refused = 0;
    for (uint32_t i = 0; i < EventRingSlots; ++i)
        refused += PushEvent(i) ? 0 : 1;  // the ring fills up
    EXPECT_EQ(LossChange::None, look());
    EXPECT_EQ(2u + refused, watch.seen);
    EXPECT_EQ(LossChange::Ended, look());
    EXPECT_EQ(LossChange::None, look());
    CountLostMessages();
    EXPECT_EQ(LossChange::Began, look());
}

}  // namespace
