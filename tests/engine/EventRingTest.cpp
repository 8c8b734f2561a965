#include "EngineReset.h"
#include "EventRing.h"
#include "LostMessages.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <atomic>
#include <random>
#include <thread>
#include <vector>

namespace {

class EventRingTest : public ::testing::Test {
protected:
    void SetUp() override { ResetEngine(); }
    void TearDown() override { ResetEngine(); }
};

TEST_F(EventRingTest, KeepsOrderAcrossTheWrap)
{
    uint32_t entry;
    for (uint32_t round = 0; round < 3; ++round) {
        for (uint32_t i = 0; i < 1500; ++i)
            ASSERT_TRUE(PushEvent(round * 10000 + i));
        for (uint32_t i = 0; i < 1500; ++i) {
            ASSERT_TRUE(PopEvent(entry));
            ASSERT_EQ(round * 10000 + i, entry);
        }
        EXPECT_FALSE(PopEvent(entry));
    }
    EXPECT_EQ(0u, DroppedEvents());
}

TEST_F(EventRingTest, FullRingDropsTheNewestAndKeepsEveryUnreadEntryAndTheReserveForReleases)
{
    constexpr uint32_t Ordinary = EventRingSlots - 1 - ReleaseReserve;
    for (uint32_t i = 0; i < Ordinary; ++i)
        ASSERT_TRUE(PushEvent(i));
    EXPECT_FALSE(PushEvent(0xAAAA));  // only the reserve is left
    for (uint32_t i = Ordinary; i < EventRingSlots - 1; ++i)
        ASSERT_TRUE(PushEvent(i, true));
    EXPECT_FALSE(PushEvent(0xBBBB, true));
    EXPECT_EQ(2u, DroppedEvents());

    uint32_t entry;
    ASSERT_TRUE(PopEvent(entry));
    EXPECT_EQ(0u, entry);
    EXPECT_FALSE(PushEvent(0xAAAA));
    EXPECT_TRUE(PushEvent(0xCCCC, true));  // one slot freed
    for (uint32_t i = 1; i < EventRingSlots - 1; ++i) {
        ASSERT_TRUE(PopEvent(entry));
        ASSERT_EQ(i, entry);
    }
    ASSERT_TRUE(PopEvent(entry));
    EXPECT_EQ(0xCCCCu, entry);
    EXPECT_FALSE(PopEvent(entry));
}

// Three producers against one consumer that stalls now and then: nothing is
// lost but what was refused as full, nothing doubled, nothing reordered
// within a producer, and the drop count is exact.
TEST_F(EventRingTest, ThreeProducersOneStallingConsumer)
{
    constexpr uint32_t PerProducer = 1'000'000;
    std::array<std::atomic<uint64_t>, 3> refused{};
    std::atomic<int> finished{0};

    std::vector<std::thread> producers;
    for (uint32_t p = 1; p <= 3; ++p) {
        producers.emplace_back([p, &refused, &finished] {
            for (uint32_t seq = 0; seq < PerProducer; ++seq) {
                if (!PushEvent(p << 24 | seq))
                    refused[p - 1].fetch_add(1, std::memory_order_relaxed);
            }
            finished.fetch_add(1, std::memory_order_release);
        });
    }

    std::array<int64_t, 3> last{-1, -1, -1};
    std::array<uint64_t, 3> received{};
    std::mt19937 random(12345);
    bool ordered = true;
    for (;;) {
        const bool done = finished.load(std::memory_order_acquire) == 3;
        uint32_t entry;
        while (PopEvent(entry)) {
            const uint32_t p = entry >> 24;
            const int64_t seq = entry & 0xFFFFFF;
            ASSERT_TRUE(p >= 1 && p <= 3) << entry;
            ordered = ordered && seq > last[p - 1];
            last[p - 1] = seq;
            ++received[p - 1];
        }
        if (done)
            break;
        if (random() % 64 == 0)
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 500));
    }
    for (auto& producer : producers)
        producer.join();

    EXPECT_TRUE(ordered);
    uint64_t totalRefused = 0;
    for (int p = 0; p < 3; ++p) {
        EXPECT_EQ(PerProducer, received[p] + refused[p]) << "producer " << p + 1;
        totalRefused += refused[p];
    }
    EXPECT_EQ(totalRefused, DroppedEvents());
    RecordProperty("dropped", std::to_string(totalRefused));
}

// Whatever loses a message, the count a user is shown holds it: sends
// refused on three threads at once and entries the full ring turned away.
TEST_F(EventRingTest, LostMessagesHoldEveryLossFromEveryThread)
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
TEST_F(EventRingTest, LossesAreReportedWhenTheyBeginAndWhenTheyEnd)
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
