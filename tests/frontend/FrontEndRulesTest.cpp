#include "MiddleCut.h"
#include "TypeToFind.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

TEST(FrontEndRules, TypedLettersBuildOnePrefixOnlyWhenQuickAndInOneList)
{
    const std::vector<std::string> entries = {"NO Selected IN Device", "Keys A", "keys B", "Pads", "Piano"};
    TypeToFind search;
    const TypeToFind::Clock::time_point t0{1s};
    int list = 0, other = 0;
    EXPECT_EQ(3, search.find(&list, "p", 0, entries, t0));
    EXPECT_EQ(4, search.find(&list, "I", 3, entries, t0 + 499ms));  // "pi", case ignored
    // 500 ms later a fresh prefix, looked for after the entry shown.
    EXPECT_EQ(1, search.find(&list, "k", 4, entries, t0 + 999ms));
    EXPECT_EQ(2, search.find(&list, "K", 1, entries, t0 + 1600ms));
    // Another list starts afresh; no match, or only the entry shown, changes nothing.
    EXPECT_EQ(-1, search.find(&other, "x", 1, entries, t0 + 1700ms));
    EXPECT_EQ(-1, search.find(&other, "n", 0, entries, t0 + 2500ms));
}

TEST(FrontEndRules, LongNamesAreCutInTheMiddleBetweenCharacters)
{
    const auto bytes = [](const std::string& text) { return static_cast<int>(text.size()); };
    EXPECT_EQ("short", CutInTheMiddle("short", 5, bytes));
    EXPECT_EQ("clie\xE2\x80\xA6port", CutInTheMiddle("client-with-a-long-name:port", 11, bytes));
    // Two-byte characters are never split.
    EXPECT_EQ("\xC3\xA9\xC3\xA9\xE2\x80\xA6\xC3\xA9", CutInTheMiddle("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", 9, bytes));
}

}  // namespace
