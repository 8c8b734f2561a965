#include "ByteRing.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(ByteRing, TakesWholeWritesOnlyAndKeepsOrderAcrossItsEnd)
{
    ByteRing ring(8);
    const uint8_t first[5] = {1, 2, 3, 4, 5};
    const uint8_t second[6] = {6, 7, 8, 9, 10, 11};
    ASSERT_TRUE(ring.write(first, sizeof first));
    EXPECT_FALSE(ring.write(second, sizeof second));  // nothing of it is written
    EXPECT_EQ(5u, ring.readable());
    uint8_t bytes[6]{};
    ASSERT_TRUE(ring.peek(bytes, 2, 3));
    EXPECT_EQ(4, bytes[0]);
    ring.skip(sizeof first);
    ASSERT_TRUE(ring.write(second, sizeof second));  // runs over the end
    EXPECT_FALSE(ring.peek(bytes, 7));
    ASSERT_TRUE(ring.peek(bytes, 6));
    EXPECT_EQ(std::vector<uint8_t>(second, second + 6), std::vector<uint8_t>(bytes, bytes + 6));
}

}  // namespace
