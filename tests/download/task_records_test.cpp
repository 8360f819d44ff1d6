#include "download/task_records.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "engine/include/dlengine.h"

namespace {

// Copies UTF-16 text into an engine text field the way a C caller would: cut at the field's
// size, terminated when there is room.
template <std::size_t N> void PutText(std::uint16_t (&field)[N], const std::u16string& text) {
    for (std::size_t i = 0; i < N && i < text.size(); ++i) {
        field[i] = text[i];
    }
}

const std::uint8_t* BlockOf(const void* address) {
    return static_cast<const std::uint8_t*>(address);
}

// The first offset where the two blocks differ, or -1.
long FirstDifference(const void* a, const void* b, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        if (BlockOf(a)[i] != BlockOf(b)[i]) {
            return static_cast<long>(i);
        }
    }
    return -1;
}

struct FillCase {
    const char* label;
    std::string taskUrl, refUrl, cookies, fileName, savePath;
    std::u16string taskUrl16, refUrl16, cookies16, fileName16, savePath16;
    bool isOnlyOriginal, disableAutoRename, isResume;
};

TEST(TaskCreateParamsTest, FillGivesTheEngineRecordByteForByte) {
    const std::string longUrl = "http://127.0.0.1/" + std::string(3000, 'u');
    const FillCase cases[] = {
        {"download", "http://127.0.0.1:8580/d/1", "", "", "报告 2024.pdf", "/tmp/run/下载目录/",
         u"http://127.0.0.1:8580/d/1", u"", u"", u"报告 2024.pdf", u"/tmp/run/下载目录/", false,
         true, true},
        {"all set", "u", "r", "k=v; a=b", "😀.bin", "/s/", u"u", u"r", u"k=v; a=b",
         u"\U0001F600.bin", u"/s/", true, false, false},
        {"cut url", longUrl, "", "", "", "", std::u16string(longUrl.begin(), longUrl.end()), u"",
         u"", u"", u"", false, false, true},
    };
    for (const FillCase& c : cases) {
        SCOPED_TRACE(c.label);
        ::TaskCreateParams expected;
        std::memset(&expected, 0, sizeof expected);
        PutText(expected.szTaskUrl, c.taskUrl16);
        PutText(expected.szRefUrl, c.refUrl16);
        PutText(expected.szCookies, c.cookies16);
        PutText(expected.szFilename, c.fileName16);
        PutText(expected.szSavePath, c.savePath16);
        expected.IsOnlyOriginal = c.isOnlyOriginal ? 1 : 0;
        expected.nReserved1 = 5;
        expected.DisableAutoRename = c.disableAutoRename ? 1 : 0;
        expected.IsResume = c.isResume ? 1 : 0;

        pandrel::TaskCreateParams params;
        void* block = params.Fill(c.taskUrl, c.refUrl, c.cookies, c.fileName, c.savePath,
                                  c.isOnlyOriginal, c.disableAutoRename, c.isResume);
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(block, params.BlockAddress());
        EXPECT_EQ(params.Buffer().UsedSize(), 26564);
        EXPECT_EQ(FirstDifference(block, &expected, sizeof expected), -1);
    }
}

TEST(TaskCreateParamsTest, DefaultsFieldPositionsAndWholeFlags) {
    pandrel::TaskCreateParams params;
    ASSERT_NE(params.Fill(), nullptr);
    // Flags as whole 32-bit values are covered byte for byte above; here the positions.
    EXPECT_EQ(params.Buffer().FindField("IsResume"), 15);
    EXPECT_EQ(params.Buffer().FindField("nReserved"), 1);
    EXPECT_EQ(params.Buffer().FindField("reserved"), 16);
    EXPECT_TRUE(params.IsResume());
    EXPECT_FALSE(params.DisableAutoRename());

    // Filling again starts over at the same size.
    ASSERT_NE(params.Fill("a", "", "", "b", "c", false, true, false), nullptr);
    EXPECT_EQ(params.Buffer().UsedSize(), 26564);
    EXPECT_FALSE(params.IsResume());
    EXPECT_TRUE(params.DisableAutoRename());
}

TEST(TaskCreateParamsTest, FileNamesAreCutAtTheFieldSize) {
    struct Case {
        std::size_t length;
        bool terminated;
    } cases[] = {{0, true}, {259, true}, {260, false}, {400, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        const std::string name(c.length, 'n');
        pandrel::TaskCreateParams params;
        ASSERT_NE(params.Fill("url", "", "", name, "/save/"), nullptr);
        const std::uint8_t* block = BlockOf(params.BlockAddress());
        const std::size_t units = std::min<std::size_t>(c.length, 260);
        const auto* field = block + offsetof(::TaskCreateParams, szFilename);
        if (c.terminated) {
            EXPECT_EQ(field[2 * units] | field[2 * units + 1], 0);
        }
        // The cut never spills into the next field.
        const auto* next = block + offsetof(::TaskCreateParams, szReserved0);
        EXPECT_EQ(next[0] | next[1], 0);
        EXPECT_EQ(params.szFilename(), name.substr(0, units));
        EXPECT_EQ(params.szSavePath(), "/save/");
    }
}

TEST(TaskCreateParamsTest, AccessorsReadAndWriteTheirFields) {
    pandrel::TaskCreateParams params;
    // Before Fill there are no fields: writes fail, reads are empty.
    EXPECT_EQ(params.szTaskUrl("x"), "0");
    EXPECT_FALSE(params.IsOnlyOriginal(true));
    EXPECT_EQ(params.szTaskUrl(), "");

    ASSERT_NE(params.Fill(), nullptr);
    EXPECT_EQ(params.szRefUrl("http://ref/页面"), "1");
    EXPECT_EQ(params.szRefUrl(), "http://ref/页面");
    // A shorter text replaces a longer one completely: its terminator ends the read.
    EXPECT_EQ(params.szRefUrl("c"), "1");
    EXPECT_EQ(params.szRefUrl(), "c");
    EXPECT_TRUE(params.IsOnlyOriginal(true));
    EXPECT_TRUE(params.IsOnlyOriginal());
    const auto* flag =
        BlockOf(params.BlockAddress()) + offsetof(::TaskCreateParams, IsOnlyOriginal);
    EXPECT_EQ(flag[0], 1);
}

TEST(TaskStatusInfoTest, InitialRecordAndFieldPositions) {
    pandrel::TaskStatusInfo status;
    void* block = status.Init();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(status.Buffer().UsedSize(), 1429);
    EXPECT_EQ(status.Buffer().FindField("stat"), 1);
    EXPECT_EQ(status.Buffer().FindField("nReserved1"), 11);
    EXPECT_EQ(status.Buffer().FindField("reserved"), 28);
    ::TaskStatusInfo expected;
    std::memset(&expected, 0, sizeof expected);
    expected.stat = 2;
    EXPECT_EQ(FirstDifference(block, &expected, sizeof expected), -1);
    EXPECT_EQ(status.stat(), 2);
    EXPECT_EQ(status.fail_code(), 0);
}

TEST(TaskStatusInfoTest, AccessorsSeeWhatTheEngineWrites) {
    ::TaskStatusInfo engine;
    std::memset(&engine, 0x5A, sizeof engine);
    engine.stat = 4;
    engine.fail_code = -7;
    PutText(engine.szFilename, u"文件.zip");
    engine.szFilename[6] = 0;
    engine.nTotalSize = 5'000'000'000;
    engine.nTotalDownload = 4'000'000'001;
    engine.fPercent = 0.75f;
    engine.nSrcTotal = 9;
    engine.nSrcUsing = 3;
    engine.nSpeed = 123456;
    engine.bIsOriginUsable = 1;
    engine.IsCreatingFile = 1;

    pandrel::TaskStatusInfo status;
    void* block = status.Init();
    ASSERT_NE(block, nullptr);
    std::memcpy(block, &engine, sizeof engine);
    EXPECT_EQ(status.stat(), 4);
    EXPECT_EQ(status.fail_code(), -7);
    EXPECT_EQ(status.szFilename(), "文件.zip");
    EXPECT_EQ(status.nTotalSize(), 5'000'000'000);
    EXPECT_EQ(status.nTotalDownload(), 4'000'000'001);
    EXPECT_FLOAT_EQ(status.fPercent(), 0.75f);
    EXPECT_EQ(status.nSrcTotal(), 9);
    EXPECT_EQ(status.nSrcUsing(), 3);
    EXPECT_EQ(status.nSpeed(), 123456);
    EXPECT_TRUE(status.bIsOriginUsable());
    EXPECT_EQ(status.IsCreatingFile(), 1);

    // Setters land at the engine's offsets too.
    EXPECT_EQ(status.nTotalDownload(42), 1);
    EXPECT_EQ(status.stat(3), 1);
    std::memcpy(&engine, block, sizeof engine);
    EXPECT_EQ(engine.nTotalDownload, 42);
    EXPECT_EQ(engine.stat, 3);
}

TEST(TaskStatusInfoTest, DisplayTexts) {
    struct Case {
        float percent;
        std::int32_t speed;
        std::int64_t done, total;
        std::int32_t using_, sources;
        const char* percentText;
        const char* speedText;
        const char* sizeText;
        const char* sourcesText;
    } cases[] = {
        {0.4567f, 1535, 1048576, 3145728, 2, 5, "45.67 %", "1 KB/S", "1.00/3.00 MB", "2/5"},
        {1.0f, 1023, 0, 0, 0, 0, "100.00 %", "0 KB/S", "0.00/0.00 MB", "0/0"},
        {0.0f, 0, 1572864, 2097152, 1, 1, "0.00 %", "0 KB/S", "1.50/2.00 MB", "1/1"},
        {0.125f, 10485760, 5368709120, 10737418240, 16, 16, "12.50 %", "10240 KB/S",
         "5120.00/10240.00 MB", "16/16"},
        {0.0001f, 2047, 5243, 1048576, 0, 3, "0.01 %", "1 KB/S", "0.01/1.00 MB", "0/3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.percentText);
        ::TaskStatusInfo engine;
        std::memset(&engine, 0, sizeof engine);
        engine.fPercent = c.percent;
        engine.nSpeed = c.speed;
        engine.nTotalDownload = c.done;
        engine.nTotalSize = c.total;
        engine.nSrcUsing = c.using_;
        engine.nSrcTotal = c.sources;
        pandrel::TaskStatusInfo status;
        ASSERT_NE(status.Init(), nullptr);
        std::memcpy(status.BlockAddress(), &engine, sizeof engine);
        EXPECT_EQ(status.PercentText(), c.percentText);
        EXPECT_EQ(status.SpeedText(), c.speedText);
        EXPECT_EQ(status.SizeText(), c.sizeText);
        EXPECT_EQ(status.SourcesText(), c.sourcesText);
    }
}

} // namespace
