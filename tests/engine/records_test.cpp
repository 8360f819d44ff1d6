// The two records' byte layouts and the engine's reading and writing of their text fields.

#include "dlengine.h"
#include "utf16.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

struct FieldPlace {
    const char* name;
    size_t offset;
    size_t size;
};

#define PLACE(type, field)                                                                         \
    FieldPlace {                                                                                   \
#field, offsetof(type, field), sizeof(type::field)                                         \
    }

TEST(RecordLayout, EveryFieldOfTaskCreateParamsIsWhereTheProgramPutsIt) {
    const std::vector<std::pair<FieldPlace, FieldPlace>> table = {
        {PLACE(TaskCreateParams, nReserved), {"", 0, 4}},
        {PLACE(TaskCreateParams, szTaskUrl), {"", 4, 4168}},
        {PLACE(TaskCreateParams, szRefUrl), {"", 4172, 4168}},
        {PLACE(TaskCreateParams, szCookies), {"", 8340, 8192}},
        {PLACE(TaskCreateParams, szFilename), {"", 16532, 520}},
        {PLACE(TaskCreateParams, szReserved0), {"", 17052, 520}},
        {PLACE(TaskCreateParams, szSavePath), {"", 17572, 520}},
        {PLACE(TaskCreateParams, hReserved), {"", 18092, 4}},
        {PLACE(TaskCreateParams, bReserved), {"", 18096, 4}},
        {PLACE(TaskCreateParams, szReserved1), {"", 18100, 128}},
        {PLACE(TaskCreateParams, szReserved2), {"", 18228, 128}},
        {PLACE(TaskCreateParams, IsOnlyOriginal), {"", 18356, 4}},
        {PLACE(TaskCreateParams, nReserved1), {"", 18360, 4}},
        {PLACE(TaskCreateParams, DisableAutoRename), {"", 18364, 4}},
        {PLACE(TaskCreateParams, IsResume), {"", 18368, 4}},
        {PLACE(TaskCreateParams, reserved), {"", 18372, 8192}},
    };
    size_t next = 0;
    for (const auto& [actual, expected] : table) {
        EXPECT_EQ(actual.offset, expected.offset) << actual.name;
        EXPECT_EQ(actual.size, expected.size) << actual.name;
        EXPECT_EQ(actual.offset, next) << actual.name << " leaves a gap";
        next = actual.offset + actual.size;
    }
    EXPECT_EQ(next, sizeof(TaskCreateParams));
    EXPECT_EQ(sizeof(TaskCreateParams), 26564u);
}

TEST(RecordLayout, EveryFieldOfTaskStatusInfoIsWhereTheProgramReadsIt) {
    const std::vector<std::pair<FieldPlace, size_t>> table = {
        {PLACE(TaskStatusInfo, stat), 0},
        {PLACE(TaskStatusInfo, fail_code), 4},
        {PLACE(TaskStatusInfo, szFilename), 8},
        {PLACE(TaskStatusInfo, szReserved0), 528},
        {PLACE(TaskStatusInfo, nTotalSize), 1048},
        {PLACE(TaskStatusInfo, nTotalDownload), 1056},
        {PLACE(TaskStatusInfo, fPercent), 1064},
        {PLACE(TaskStatusInfo, nReserved0), 1068},
        {PLACE(TaskStatusInfo, nSrcTotal), 1072},
        {PLACE(TaskStatusInfo, nSrcUsing), 1076},
        {PLACE(TaskStatusInfo, nReserved1), 1080},
        {PLACE(TaskStatusInfo, nReserved2), 1084},
        {PLACE(TaskStatusInfo, nReserved3), 1088},
        {PLACE(TaskStatusInfo, nReserved4), 1092},
        {PLACE(TaskStatusInfo, nReserved5), 1096},
        {PLACE(TaskStatusInfo, nDonationP2P), 1104},
        {PLACE(TaskStatusInfo, nReserved6), 1112},
        {PLACE(TaskStatusInfo, nDonationOrgin), 1120},
        {PLACE(TaskStatusInfo, nDonationP2S), 1128},
        {PLACE(TaskStatusInfo, nReserved7), 1136},
        {PLACE(TaskStatusInfo, nReserved8), 1144},
        {PLACE(TaskStatusInfo, nSpeed), 1152},
        {PLACE(TaskStatusInfo, nSpeedP2S), 1156},
        {PLACE(TaskStatusInfo, nSpeedP2P), 1160},
        {PLACE(TaskStatusInfo, bIsOriginUsable), 1164},
        {PLACE(TaskStatusInfo, fHashPercent), 1165},
        {PLACE(TaskStatusInfo, IsCreatingFile), 1169},
        {PLACE(TaskStatusInfo, reserved), 1173},
    };
    size_t next = 0;
    for (const auto& [actual, offset] : table) {
        EXPECT_EQ(actual.offset, offset) << actual.name;
        EXPECT_EQ(actual.offset, next) << actual.name << " leaves a gap";
        next = actual.offset + actual.size;
    }
    EXPECT_EQ(next, sizeof(TaskStatusInfo));
    EXPECT_EQ(sizeof(TaskStatusInfo), 1429u);
}

TEST(RecordLayout, FlagsAreWholeLittleEndian32BitValues) {
    auto params = std::make_unique<TaskCreateParams>();
    std::memset(params.get(), 0, sizeof *params);
    params->DisableAutoRename = 1;
    params->nReserved1 = 5;
    const auto* bytes = reinterpret_cast<const uint8_t*>(params.get());
    const uint8_t one[4] = {1, 0, 0, 0};
    const uint8_t five[4] = {5, 0, 0, 0};
    EXPECT_EQ(std::memcmp(bytes + 18364, one, 4), 0);
    EXPECT_EQ(std::memcmp(bytes + 18360, five, 4), 0);
}

struct FieldCase {
    const char* label;
    std::string text;
    std::vector<uint16_t> units; // expected units before the zero fill
};

TEST(TextFields, WritingFillsTerminatesAndCuts) {
    const std::string name259(259, 'a');
    const std::string name300(300, 'b');
    const std::vector<FieldCase> cases = {
        {"empty", "", {}},
        {"ascii", "a.txt", {'a', '.', 't', 'x', 't'}},
        {"chinese", "\xE4\xB8\x8B\xE8\xBD\xBD", {0x4E0B, 0x8F7D}},
        {"outside the BMP", "\xF0\x9F\x98\x80", {0xD83D, 0xDE00}},
        {"invalid byte",
         "a\xFF"
         "b",
         {'a', 0xFFFD, 'b'}},
        // A broken sequence stands for its first byte only: what follows is read afresh.
        {"truncated",
         "\xE4\xB8"
         "a",
         {0xFFFD, 0xFFFD, 'a'}},
        {"overlong", "\xC0\xAF", {0xFFFD, 0xFFFD}},
        {"surrogate", "\xED\xA0\x80", {0xFFFD, 0xFFFD, 0xFFFD}},
        {"259 units", name259, std::vector<uint16_t>(259, 'a')},
        {"300 units cut at 260", name300, std::vector<uint16_t>(260, 'b')},
    };
    for (const FieldCase& c : cases) {
        uint8_t field[520];
        std::memset(field, 0xCC, sizeof field);
        dlengine::Utf8ToUtf16Field(c.text, field, 260);
        for (size_t i = 0; i < 260; ++i) {
            const uint16_t unit = static_cast<uint16_t>(field[2 * i] | (field[2 * i + 1] << 8));
            const uint16_t expected = i < c.units.size() ? c.units[i] : 0;
            ASSERT_EQ(unit, expected) << c.label << " at unit " << i;
        }
    }
}

TEST(TextFields, ReadingStopsAtNulOrFieldEndAndMendsBrokenPairs) {
    struct ReadCase {
        const char* label;
        std::vector<uint16_t> units;
        std::string expected;
    };
    std::vector<uint16_t> full(260, 'x');
    const std::vector<ReadCase> cases = {
        {"all zero", {}, ""},
        {"stops at NUL", {'a', 0, 'b'}, "a"},
        {"full field without NUL", full, std::string(260, 'x')},
        {"pair", {0xD83D, 0xDE00}, "\xF0\x9F\x98\x80"},
        {"lone high",
         {0xD83D, 'a'},
         "\xEF\xBF\xBD"
         "a"},
        {"lone low", {0xDE00}, "\xEF\xBF\xBD"},
        {"high at field end", std::vector<uint16_t>(260, 0xD83D),
         [] {
             std::string s;
             for (int i = 0; i < 260; ++i) {
                 s += "\xEF\xBF\xBD";
             }
             return s;
         }()},
    };
    for (const ReadCase& c : cases) {
        // One unit more than the field, holding a non-NUL guard that must never be read.
        std::vector<uint8_t> bytes(2 * 261, 0);
        for (size_t i = 0; i < c.units.size(); ++i) {
            bytes[2 * i] = static_cast<uint8_t>(c.units[i] & 0xFF);
            bytes[2 * i + 1] = static_cast<uint8_t>(c.units[i] >> 8);
        }
        bytes[520] = 'Z';
        EXPECT_EQ(dlengine::Utf16FieldToUtf8(bytes.data(), 260), c.expected) << c.label;
    }
}

TEST(TextFields, EmptyTextFieldsOfAFreshRecordStayAllZero) {
    auto params = std::make_unique<TaskCreateParams>();
    std::memset(params.get(), 0, sizeof *params);
    dlengine::Utf8ToUtf16Field("", params->szRefUrl, 2084);
    dlengine::Utf8ToUtf16Field("", params->szCookies, 4096);
    const auto* bytes = reinterpret_cast<const uint8_t*>(params.get());
    for (size_t i = 0; i < sizeof *params; ++i) {
        ASSERT_EQ(bytes[i], 0) << "byte " << i;
    }
}

} // namespace
