#include "MidiBytes.h"
#include "MidiInputReader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

TEST(UnpackShortMessage, SendsOnlyWhatTheStatusCallsFor)
{
    uint8_t bytes[3];
    ASSERT_EQ(3u, UnpackShortMessage(0x017F3C90, bytes));  // the tag byte is not sent
    EXPECT_EQ((std::vector<uint8_t>{0x90, 0x3C, 0x7F}), std::vector<uint8_t>(bytes, bytes + 3));
    ASSERT_EQ(2u, UnpackShortMessage(0x00FF05C2, bytes));  // a stray second byte is not sent
    EXPECT_EQ((std::vector<uint8_t>{0xC2, 0x05}), std::vector<uint8_t>(bytes, bytes + 2));
    ASSERT_EQ(3u, UnpackShortMessage(0x00402AF2, bytes));  // song position
    ASSERT_EQ(2u, UnpackShortMessage(0x007F05F3, bytes));  // song select: no second data byte
    ASSERT_EQ(1u, UnpackShortMessage(0x123456F8, bytes));
    EXPECT_EQ(0xF8, bytes[0]);
    EXPECT_EQ(0u, UnpackShortMessage(0x00003C3C, bytes));
    EXPECT_EQ(0u, UnpackShortMessage(0x000000F0, bytes));
    EXPECT_EQ(0u, UnpackShortMessage(0x000000F7, bytes));
}

TEST(PackShortMessage, TakesOneCompleteMessage)
{
    uint32_t packed = 0;
    const uint8_t noteOn[] = {0x93, 0x3C, 0x64, 0x80};
    EXPECT_EQ(3u, PackShortMessage(noteOn, sizeof noteOn, packed));
    EXPECT_EQ(0x00643C93u, packed);
    const uint8_t program[] = {0xC1, 0x07};
    EXPECT_EQ(2u, PackShortMessage(program, sizeof program, packed));
    EXPECT_EQ(0x000007C1u, packed);
    const uint8_t clock[] = {0xF8};
    EXPECT_EQ(1u, PackShortMessage(clock, 1, packed));
    EXPECT_EQ(0xF8u, packed);
}

TEST(PackShortMessage, RefusesWhatIsNoShortMessage)
{
    uint32_t packed = 0;
    const uint8_t cut[] = {0x90, 0x3C};
    EXPECT_EQ(0u, PackShortMessage(cut, sizeof cut, packed));
    const uint8_t running[] = {0x3C, 0x64};
    EXPECT_EQ(0u, PackShortMessage(running, sizeof running, packed));
    const uint8_t sysex[] = {0xF0, 0x7E, 0xF7};
    EXPECT_EQ(0u, PackShortMessage(sysex, sizeof sysex, packed));
    const uint8_t statusAsData[] = {0x90, 0x3C, 0x90};
    EXPECT_EQ(0u, PackShortMessage(statusAsData, sizeof statusAsData, packed));
    EXPECT_EQ(0u, PackShortMessage(nullptr, 0, packed));
}

TEST(CopyProductName, CutsTo31CharactersAndTerminates)
{
    char field[32];
    memset(field, 'x', sizeof field);
    CopyProductName(field, "0123456789012345678901234567890123456789");
    EXPECT_STREQ("0123456789012345678901234567890", field);
    CopyProductName(field, "Short");
    EXPECT_STREQ("Short", field);
    CopyProductName(field, nullptr);
    EXPECT_STREQ("", field);
}


// One event's bytes read the way a receiver reads its cable.
TEST(ReadShortMessages, ReadAnEventLikeACable)
{
    const struct {
        std::vector<uint8_t> bytes;
        std::vector<uint32_t> messages;
    } cases[] = {
        {{0x90, 0x3C, 0x40}, {0x403C90}},
        {{0x90, 0xF8, 0x3C, 0x40}, {0xF8, 0x403C90}},               // clock inside a note-on
        {{0x90, 0x3C, 0xFE, 0x40}, {0xFE, 0x403C90}},
        {{0x90, 0x3C, 0x40, 0x3E, 0x00}, {0x403C90, 0x003E90}},     // running status
        {{0xC1, 0x05, 0x06}, {0x05C1, 0x06C1}},
        {{0x90, 0x3C, 0x40, 0xF2, 0x01, 0x02, 0x3E, 0x00}, {0x403C90, 0x0201F2}},  // cancelled
        {{0x90, 0x3C, 0x40, 0xF0, 0x7E, 0x3E, 0xF7, 0x3F, 0x00}, {0x403C90}},      // sysex
        {{0xF0, 0x01, 0xF8, 0x02, 0xF7}, {0xF8}},
        {{0x3C, 0x40, 0xB0, 0x40, 0x7F}, {0x7F40B0}},                // stray data
        {{0x90, 0x3C}, {}},                                          // unfinished
        {{0x90, 0x3C, 0x80, 0x3C, 0x00}, {0x003C80}},                // a status cuts short
        {{0xF6, 0x01, 0xF1, 0x22}, {0xF6, 0x22F1}},
        {{}, {}},
    };
    for (const auto& c : cases) {
        std::vector<uint32_t> read;
        ReadShortMessages(c.bytes.data(), c.bytes.size(), [&](uint32_t packed) { read.push_back(packed); });
        EXPECT_EQ(c.messages, read) << ::testing::PrintToString(c.bytes);
    }
}

// Everything a reader hands over for these events, short messages unpacked.
std::vector<std::vector<uint8_t>> Read(MidiInputReader& reader, const std::vector<std::vector<uint8_t>>& events)
{
    std::vector<std::vector<uint8_t>> messages;
    for (const auto& event : events) {
        reader.read(
            event.data(), event.size(),
            [&](uint32_t packed) {
                uint8_t bytes[3];
                messages.emplace_back(bytes, bytes + UnpackShortMessage(packed, bytes));
            },
            [&](const MidiLongMessage& message) { messages.emplace_back(message.bytes, message.bytes + message.size); });
    }
    return messages;
}

TEST(MidiInputReader, PutsSystemExclusiveTogetherAcrossEvents)
{
    using Bytes = std::vector<uint8_t>;
    const struct {
        std::vector<Bytes> events;
        std::vector<Bytes> messages;
        uint32_t cutShort = 0;
        uint32_t tooLong = 0;
    } cases[] = {
        {{{0xF0, 0x7E, 0x01, 0xF7}}, {{0xF0, 0x7E, 0x01, 0xF7}}, 0},
        {{{0xF0, 0x01, 0x02}, {0x03, 0xF7}}, {{0xF0, 0x01, 0x02, 0x03, 0xF7}}, 0},
        {{{0xF0, 0x01}, {0xF8}, {0x02, 0xF8, 0xF7}}, {{0xF8}, {0xF8}, {0xF0, 0x01, 0x02, 0xF7}}, 0},
        {{{0x90, 0x3C, 0x40, 0xF0, 0x01, 0xF7, 0x3E, 0x00, 0x80, 0x3C, 0x00}},
         {{0x90, 0x3C, 0x40}, {0xF0, 0x01, 0xF7}, {0x80, 0x3C, 0x00}}, 0},
        {{{0xF0, 0x01, 0x02, 0x90, 0x3C, 0x40}}, {{0x90, 0x3C, 0x40}}, 1},  // cut short by a status
        {{{0xF0, 0x01}, {0xF0, 0x02, 0xF7}}, {{0xF0, 0x02, 0xF7}}, 1},
        {{{0xF0, 0x01}, {0xF6}, {0x02, 0xF7}}, {{0xF6}}, 1},
        {{{0x01, 0xF7, 0x02}, {0xF7}}, {}, 0},  // an end with no start
        {{{0x90, 0x3C}, {0x40}}, {}, 0},         // a short message ends with its event
        {{{0xF0, 0xF7}}, {{0xF0, 0xF7}}, 0},
        {{{0xF0, 1, 2, 3, 4, 5, 6, 0xF7}}, {{0xF0, 1, 2, 3, 4, 5, 6, 0xF7}}, 0},  // as long as the storage
        {{{0xF0, 1, 2, 3}, {4, 5, 6, 0xF8, 7, 0xF7, 0xF0, 0xF7}}, {{0xF8}, {0xF0, 0xF7}}, 0, 1},
    };
    for (const auto& c : cases) {
        MidiInputReader reader(8);  // room for eight bytes
        EXPECT_EQ(c.messages, Read(reader, c.events)) << ::testing::PrintToString(c.events);
        EXPECT_EQ(c.cutShort, reader.cutShort()) << ::testing::PrintToString(c.events);
        EXPECT_EQ(c.tooLong, reader.tooLong()) << ::testing::PrintToString(c.events);
    }
}

}  // namespace
