#include "download/record_buffer.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using pandrel::Bytes;
using pandrel::RecordBuffer;

Bytes Block(const RecordBuffer& buffer) {
    const auto* block = static_cast<const std::uint8_t*>(buffer.BlockAddress());
    return Bytes(block, block + buffer.UsedSize());
}

TEST(RecordBufferTest, LaysFieldsOutWithPaddingByOwnSize) {
    struct Case {
        int alignment;
        int sizes[3];
        int usedSize;
        int paddingOfFirst;
    } cases[] = {
        {1, {3, 5, 2}, 10, 0}, {4, {3, 5, 2}, 16, 1}, // 3+1, 5+3, 2+2
        {4, {4, 8, 4}, 16, 0}, {8, {1, 0, 9}, 24, 7}, // 1+7, 0, 9+7
        {0, {3, 5, 2}, 10, 0},                        // an alignment below 1 counts as 1
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.alignment);
        RecordBuffer buffer;
        ASSERT_NE(buffer.Init(c.alignment, 0xAB, 64, 64), nullptr);
        EXPECT_TRUE(buffer.AddField("a", c.sizes[0], Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
        EXPECT_TRUE(buffer.AddField("b", c.sizes[1]));
        EXPECT_TRUE(buffer.AddField("c", c.sizes[2]));
        EXPECT_EQ(buffer.UsedSize(), c.usedSize);
        const Bytes block = Block(buffer);
        // The first field holds only its own size of the initial bytes; padding is fill bytes.
        for (int i = 0; i < c.sizes[0]; ++i) {
            EXPECT_EQ(block[i], i + 1);
        }
        for (int i = 0; i < c.paddingOfFirst; ++i) {
            EXPECT_EQ(block[c.sizes[0] + i], 0xAB);
        }
    }
}

TEST(RecordBufferTest, FindsFieldsByChecksumAndRefusesDuplicates) {
    RecordBuffer buffer;
    ASSERT_NE(buffer.Init(), nullptr);
    ASSERT_TRUE(buffer.AddField("first", 4, Bytes{9}));
    ASSERT_TRUE(buffer.AddField("second", 2));
    EXPECT_FALSE(buffer.AddField("first", 100));
    EXPECT_EQ(buffer.UsedSize(), 6);
    EXPECT_EQ(buffer.FindField("first"), 1);
    EXPECT_EQ(buffer.FindField("second"), 2);
    EXPECT_EQ(buffer.FindField("third"), 0);
    EXPECT_EQ(buffer.FindField("First"), 0);
    // "plumless" and "buckeroo" are a known CRC-32 collision: the same field to this buffer.
    ASSERT_EQ(pandrel::FieldNameChecksum("plumless"), pandrel::FieldNameChecksum("buckeroo"));
    ASSERT_TRUE(buffer.AddField("plumless", 4));
    EXPECT_FALSE(buffer.AddField("buckeroo", 4));
    EXPECT_EQ(buffer.FindField("buckeroo"), 3);

    EXPECT_EQ(buffer.ReadField("first"), (Bytes{9, 0, 0, 0}));
    EXPECT_TRUE(buffer.WriteField("first", Bytes{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(buffer.ReadField("first"), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(buffer.ReadField("second"), (Bytes{0, 0})); // the overlong write stayed inside
    EXPECT_FALSE(buffer.WriteField("third", Bytes{1}));
    EXPECT_TRUE(buffer.ReadField("third").empty());
}

TEST(RecordBufferTest, GrowsByStepsKeepingEarlierBytes) {
    struct Case {
        int capacity;
        int growStep;
        int fieldSize;
        int expectedCapacity;
    } cases[] = {
        {16, 16, 10, 32}, // 10 + 10 needs one step
        {16, 4, 40, 52},  // 10 + 40 needs ten steps
        {0, 1024, 10, 1024},
        {8, 100000, 5000, 100008},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fieldSize);
        RecordBuffer buffer;
        ASSERT_NE(buffer.Init(1, 0xCC, c.capacity, c.growStep), nullptr);
        ASSERT_TRUE(buffer.AddField("early", 10, Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
        ASSERT_TRUE(buffer.AddField("late", c.fieldSize));
        EXPECT_EQ(buffer.Capacity(), c.expectedCapacity);
        EXPECT_EQ(buffer.ReadField("early"), (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
        EXPECT_EQ(buffer.ReadField("late"), Bytes(static_cast<std::size_t>(c.fieldSize), 0));
    }
}

TEST(RecordBufferTest, FailuresLeaveTheBufferUnchanged) {
    RecordBuffer buffer;
    EXPECT_FALSE(buffer.AddField("before init", 4));
    EXPECT_EQ(buffer.Init(1, 0xCC, -1, 16), nullptr);

    ASSERT_NE(buffer.Init(1, 0xCC, 8, 0), nullptr);
    ASSERT_TRUE(buffer.AddField("fits", 8, Bytes{7}));
    EXPECT_FALSE(buffer.AddField("cannot grow", 1)); // a zero grow step never makes room
    EXPECT_FALSE(buffer.AddField("negative", -4));
    EXPECT_EQ(buffer.UsedSize(), 8);
    EXPECT_EQ(buffer.FindField("cannot grow"), 0);
    EXPECT_EQ(buffer.ReadField("fits")[0], 7);

    // Init starts over; Release empties.
    ASSERT_NE(buffer.Init(), nullptr);
    EXPECT_EQ(buffer.UsedSize(), 0);
    EXPECT_EQ(buffer.FindField("fits"), 0);
    buffer.Release();
    EXPECT_EQ(buffer.BlockAddress(), nullptr);
}

} // namespace
