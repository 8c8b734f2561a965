#pragma once

#include "EngineHooks.h"
#include "FakeDeviceService.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <utility>
#include <vector>

// Counts the wake-ups capture callbacks post.
class CountingWakeUp final : public WakeUpTarget {
public:
    void Post() noexcept override { m_posts.fetch_add(1, std::memory_order_relaxed); }
    int posts() const { return m_posts.load(std::memory_order_relaxed); }

private:
    std::atomic<int> m_posts{0};
};

struct Notice {
    std::string text;
    std::string caption;
    bool operator==(const Notice&) const = default;
};

// An engine in its start-of-run state over an in-memory service with three
// input and three output devices, with lamps, notices and wake-ups recorded.
class EngineFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

public:

    // Delivers messages on input device `device`'s own thread and waits
    // until the capture callback has taken each of them.
    void play(uint32_t device, std::initializer_list<uint32_t> messages);
    // Lamps in port order: true while lit.
    static std::vector<bool> lamps();
    static std::vector<std::pair<int, bool>>& lampCalls();
    static std::vector<Notice>& notices();
    // What each notice was about (its port and device), in the same order.
    static std::vector<std::string>& noticeSubjects();

    FakeDeviceService fake{{"Keys A", "Keys B", "Pads"}, {"Synth A", "Synth B", "Drums"}};
    CountingWakeUp wakeUps;
};

// The three bytes of a short message packed as the service carries them.
constexpr uint32_t Msg(uint8_t status, uint8_t data1 = 0, uint8_t data2 = 0)
{
    return status | (uint32_t(data1) << 8) | (uint32_t(data2) << 16);
}
