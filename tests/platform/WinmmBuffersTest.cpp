// winmm's long-message bookkeeping over a driver played by the test: no
// devices needed, so it runs natively and under wine alike.

#include "WinmmInputBuffers.h"
#include "WinmmOutputHeaders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Logs its calls: "p3" prepare 3, "a" add, "u" unprepare ("u1?" still playing),
// "s" send, "r" reset. A header plays until the test, a reset or its unprepare
// count (playsFor, -1 for ever) ends it. A reset returns input buffers empty.
struct Driver {
    std::string calls;
    uint8_t* data[WinmmInputBuffers::Count]{};  // where each buffer or header points
    bool playing[WinmmInputBuffers::Count]{};
    int playsFor = -1;
    int wakes = 0;
    WinmmInputBuffers* input = nullptr;
    std::vector<Bytes> delivered;

    MmResult log(const char* call, unsigned n, MmResult result = MMSYSERR_NOERROR)
    {
        calls += call + std::to_string(n) + (result == MIDIERR_STILLPLAYING ? "? " : " ");
        return result;
    }
};

Driver& Of(void* context)
{
    return *static_cast<Driver*>(context);
}

void Deliver(MidiHandle, uint32_t message, uintptr_t driver, uintptr_t param1, uintptr_t)
{
    const auto* m = reinterpret_cast<const MidiLongMessage*>(param1);
    Of(reinterpret_cast<void*>(driver))
        .delivered.push_back(message == MIM_LONGDATA ? Bytes(m->bytes, m->bytes + m->size)
                                                     : Bytes{static_cast<uint8_t>(param1)});
}

MmResult Prepare(void* d, unsigned n, uint8_t* bytes, uint32_t)
{
    Of(d).data[n] = bytes;
    return Of(d).log("p", n);
}

MmResult Unprepare(void* d, unsigned n)
{
    Driver& driver = Of(d);
    const bool playing = driver.playing[n] && driver.playsFor != 0;
    driver.playsFor -= playing && driver.playsFor > 0;
    driver.playing[n] = playing;
    return driver.log("u", n, playing ? MIDIERR_STILLPLAYING : MMSYSERR_NOERROR);
}

MmResult Reset(void* d)
{
    Driver& driver = Of(d);
    driver.calls += "r ";
    std::fill(std::begin(driver.playing), std::end(driver.playing), false);
    for (unsigned n = 0; driver.input && n < WinmmInputBuffers::Count; ++n)
        driver.input->received(n, 0, false, &Deliver, nullptr, reinterpret_cast<uintptr_t>(d), 0);
    return MMSYSERR_NOERROR;
}

const WinmmInputCalls InputCalls{&Prepare, [](void* d, unsigned n) { return Of(d).log("a", n); }, &Unprepare,
                                 &Reset, [](void* d) { ++Of(d).wakes; }};
const WinmmOutputCalls OutputCalls{
    &Prepare, [](void* d, unsigned n) { Of(d).playing[n] = true; return Of(d).log("s", n); }, &Unprepare, &Reset};

TEST(WinmmInputBuffers, QueuesEveryBufferAndGivesEachBackOutsideTheCallbackButNotAtTheClose)
{
    Driver driver;
    WinmmInputBuffers buffers(InputCalls, &driver);
    driver.input = &buffers;
    const auto fill = [&](unsigned n, const Bytes& bytes, bool error = false) {
        std::copy(bytes.begin(), bytes.end(), driver.data[n]);
        buffers.received(n, static_cast<uint32_t>(bytes.size()), error, &Deliver, nullptr,
                         reinterpret_cast<uintptr_t>(&driver), 0);
    };
    ASSERT_EQ(MMSYSERR_NOERROR, buffers.queue());
    EXPECT_EQ("p0 a0 p1 a1 p2 a2 p3 a3 p4 a4 p5 a5 p6 a6 p7 a7 ", driver.calls);

    driver.calls.clear();
    fill(2, {0xF0, 0x43, 0x01});
    fill(5, {0x02, 0xF7, 0xF0});  // a message spanning two buffers, and the next one's start
    fill(0, {0x7F});
    fill(1, {}, true);  // MIM_LONGERROR: the message in progress is bad
    fill(3, {0x05, 0xF7, 0xF0, 0xF8, 0xF7});
    EXPECT_EQ((std::vector<Bytes>{{0xF0, 0x43, 0x01, 0x02, 0xF7}, {0xF8}, {0xF0, 0xF7}}), driver.delivered);
    EXPECT_EQ(1u, buffers.reader().cutShort());
    EXPECT_EQ(5, driver.wakes);
    buffers.giveBack();
    buffers.giveBack();
    EXPECT_EQ("a0 a1 a2 a3 a5 ", driver.calls);

    driver.calls.clear();
    EXPECT_EQ(MMSYSERR_NOERROR, buffers.withdraw());
    buffers.giveBack();
    EXPECT_EQ("r u0 u1 u2 u3 u4 u5 u6 u7 ", driver.calls);
    EXPECT_EQ(5, driver.wakes);
}

TEST(WinmmOutputHeaders, SendsACopyAndReusesAHeaderOnceTheDriverIsDone)
{
    Driver driver;
    WinmmOutputHeaders headers(OutputCalls, &driver);
    Bytes message{0xF0, 0x41, 0x10, 0xF7};
    const Bytes original = message;
    Bytes tooLong(MaxLongMessageBytes + 1, 0x00);
    tooLong.front() = 0xF0;
    tooLong.back() = 0xF7;
    for (const Bytes& bad : {Bytes{0xF0, 0x41}, Bytes{0x90, 0x3C, 0x40}, Bytes{0xF0, 0xF8, 0xF7}, tooLong})
        EXPECT_EQ(MMSYSERR_INVALPARAM, headers.send(bad.data(), static_cast<uint32_t>(bad.size())));
    EXPECT_EQ("", driver.calls);
    for (unsigned n = 0; n < WinmmOutputHeaders::Count; ++n) {
        ASSERT_EQ(MMSYSERR_NOERROR, headers.send(message.data(), 4));
        message[2] = 0x7F;
    }
    EXPECT_EQ(original, Bytes(driver.data[0], driver.data[0] + 4));  // the driver reads it later
    EXPECT_EQ(MIDIERR_STILLPLAYING, headers.send(message.data(), 4));

    driver.playing[1] = false;
    driver.calls.clear();
    ASSERT_EQ(MMSYSERR_NOERROR, headers.send(original.data(), 4));
    EXPECT_EQ("u0? u1 u2? u3? p1 s1 ", driver.calls);
}

TEST(WinmmOutputHeaders, CloseWaitsForTheDriverThenResetsIt)
{
    const std::pair<int, const char*> cases[] = {{3, "u0? u1? u0 u1 "}, {-1, "r u0 u1 "}};
    for (const auto& [playsFor, ending] : cases) {
        Driver driver;
        driver.playsFor = playsFor;
        WinmmOutputHeaders headers(OutputCalls, &driver, std::chrono::milliseconds(20));
        const uint8_t message[] = {0xF0, 0xF7};
        ASSERT_EQ(MMSYSERR_NOERROR, headers.send(message, 2));
        ASSERT_EQ(MMSYSERR_NOERROR, headers.send(message, 2));
        EXPECT_EQ(MMSYSERR_NOERROR, headers.finish()) << playsFor;
        EXPECT_TRUE(driver.calls.ends_with(ending)) << driver.calls;
    }
}

}  // namespace
