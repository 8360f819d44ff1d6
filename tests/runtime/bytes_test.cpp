#include "runtime/bytes.h"
#include "runtime/numbers.h"

#include <gtest/gtest.h>

#include <cstring>

namespace pandrel {
namespace {

TEST(BytesCut, LeftMidZeroRepeat) {
    const Bytes abc{'a', 'b', 'c'};
    struct Case {
        Bytes got;
        Bytes want;
    };
    const Case cases[] = {
        {LeftBytes(abc, 2), {'a', 'b'}},
        {LeftBytes(abc, 9), abc},
        {LeftBytes(abc, 0), {}},
        {MidBytes(abc, 2, 5), {'b', 'c'}},
        {MidBytes(abc, 0, 1), {'a'}},
        {MidBytes(abc, -3, 2), {'a', 'b'}},
        {MidBytes(abc, 4, 1), {}},
        {MidBytes(abc, 1, -1), {}},
        {ZeroBytes(3), {0, 0, 0}},
        {ZeroBytes(-1), {}},
        {RepeatBytes(2, abc), {'a', 'b', 'c', 'a', 'b', 'c'}},
        {RepeatBytes(0, abc), {}},
        {ToBytes(Text("ab")), {'a', 'b'}},
        {ToBytes(std::int32_t{0x01020304}), {4, 3, 2, 1}},
        {ToBytes(std::int16_t{-2}), {0xFE, 0xFF}},
        {ToBytes(true), {1, 0, 0, 0}},
        {ToBytes(std::int64_t{1}), {1, 0, 0, 0, 0, 0, 0, 0}},
        {ToBytes(Array<std::int16_t>{1, -1}), {1, 0, 0xFF, 0xFF}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(cases[i].got, cases[i].want) << "case " << i;
    }
    EXPECT_EQ(BufferLength(ToBytes(1.5)), 8);
    EXPECT_EQ(BufferLength(ToBytes(1.5f)), 4);
}

TEST(ReadFromBytesTest, PadsPastTheEndAndMovesThePosition) {
    Bytes record = ToBytes(std::int32_t{-7});
    for (const Bytes& piece : {ToBytes(std::int64_t{1} << 40), ToBytes(2.5), ToBytes(Text("hi")),
                               Bytes{0}, ToBytes(std::int16_t{300})}) {
        record.insert(record.end(), piece.begin(), piece.end());
    }
    int position = 1;
    EXPECT_EQ(std::get<std::int32_t>(ReadFromBytes(record, 3, &position)), -7);
    EXPECT_EQ(position, 5);
    EXPECT_EQ(std::get<std::int64_t>(ReadFromBytes(record, 4, &position)), std::int64_t{1} << 40);
    EXPECT_EQ(position, 13);
    EXPECT_EQ(std::get<double>(ReadFromBytes(record, 6, &position)), 2.5);
    EXPECT_EQ(std::get<Text>(ReadFromBytes(record, 10, &position)), "hi");
    EXPECT_EQ(position, 24);
    EXPECT_EQ(std::get<std::int16_t>(ReadFromBytes(record, 2, &position)), 300);
    EXPECT_EQ(position, -1);
    // Reading on from -1 finds nothing instead of starting over.
    EXPECT_EQ(std::get<std::int16_t>(ReadFromBytes(record, 2, &position)), 0);
    EXPECT_EQ(position, -1);
}

TEST(ReadFromBytesTest, ShortAndEmptyBuffers) {
    EXPECT_EQ(std::get<std::int32_t>(ReadFromBytes(Bytes{0x01, 0x02}, 3)), 513);
    EXPECT_EQ(std::get<std::int32_t>(ReadFromBytes(Bytes{}, 3)), 0);
    EXPECT_EQ(std::get<std::uint8_t>(ReadFromBytes(Bytes{0xFF}, 1)), 0xFF);
    EXPECT_EQ(std::get<bool>(ReadFromBytes(Bytes{0, 0, 0, 1}, 7)), true);
    EXPECT_EQ(std::get<bool>(ReadFromBytes(Bytes{0, 0, 0, 0}, 7)), false);
    EXPECT_EQ(std::get<std::uint32_t>(ReadFromBytes(Bytes{1, 0, 0, 0x80}, 9)), 0x80000001u);
    EXPECT_EQ(std::get<Text>(ReadFromBytes(Bytes{'a', 'b'}, 10)), "ab");

    int position = 2;
    EXPECT_EQ(std::get<std::int32_t>(ReadFromBytes(Bytes{9, 0x01, 0x02}, 3, &position)), 513);
    EXPECT_EQ(position, -1);
    position = 0;
    EXPECT_EQ(std::get<std::int32_t>(ReadFromBytes(Bytes{1, 2, 3, 4}, 3, &position)), 0);
    EXPECT_EQ(position, -1);
    position = 3;
    EXPECT_EQ(std::get<Text>(ReadFromBytes(Bytes{'a', 0, 'b', 'c'}, 10, &position)), "bc");
    EXPECT_EQ(position, -1);
    position = 1;
    EXPECT_EQ(std::get<Text>(ReadFromBytes(Bytes{'a', 0, 'b'}, 10, &position)), "a");
    EXPECT_EQ(position, 3);
    position = 100;
    EXPECT_EQ(std::get<Text>(ReadFromBytes(Bytes{'a'}, 10, &position)), "");
    EXPECT_EQ(position, -1);
}

TEST(AddressCopies, WriteHonoursTheCountAndTerminatesTexts) {
    unsigned char block[8];
    std::memset(block, 0xAA, sizeof(block));
    WriteToAddress(Text("abc"), block);
    EXPECT_EQ(BytesFromAddress(block, 5), (Bytes{'a', 'b', 'c', 0, 0xAA}));
    std::memset(block, 0xAA, sizeof(block));
    WriteToAddress(Text("abc"), block, 2);
    EXPECT_EQ(BytesFromAddress(block, 3), (Bytes{'a', 'b', 0xAA}));
    WriteToAddress(ToBytes(std::int32_t{1}), block, 9); // beyond the value: whole value only
    EXPECT_EQ(BytesFromAddress(block, 5), (Bytes{1, 0, 0, 0, 0xAA}));
    EXPECT_EQ(BytesFromAddress(block, 0), Bytes{});
}

TEST(Numbers, BitOrAndRemainder) {
    EXPECT_EQ(BitOr({1, 2, 8}), 11);
    EXPECT_EQ(BitOr({INT32_MIN, 1}), INT32_MIN + 1);
    EXPECT_DOUBLE_EQ(Remainder({7.5, 2}), 1.5);
    EXPECT_DOUBLE_EQ(Remainder({-7, 3}), -1);
    EXPECT_DOUBLE_EQ(Remainder({100, 30, 7}), 3);
}

} // namespace
} // namespace pandrel
