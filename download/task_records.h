#pragma once

#include <cstdint>
#include <optional>

#include "download/record_buffer.h"
#include "runtime/value_types.h"

namespace pandrel {

// Sizes of the two records exchanged with the engine: 1-byte packed, little-endian.
inline constexpr int kTaskCreateParamsSize = 26564;
inline constexpr int kTaskStatusInfoSize = 1429;

// Accessors follow one pattern: called without a value they read the field; called with one
// they write it and report whether the write happened in the accessor's own type (1/0 for
// numbers, "1"/"0" for texts, true/false for flags). Text fields hold UTF-16LE converted from
// UTF-8 and are cut at the field size; reading stops at the first NUL unit.

// The record the engine reads to create a task. The block is owned by this object and keeps
// its address from Fill until Release or destruction.
class TaskCreateParams {
public:
    TaskCreateParams() = default;
    TaskCreateParams(const TaskCreateParams&) = delete;
    TaskCreateParams& operator=(const TaskCreateParams&) = delete;

    // Builds the record afresh; gives the block address, or nullptr when no block can be had.
    void* Fill(const Text& taskUrl = {}, const Text& refUrl = {}, const Text& cookies = {},
               const Text& fileName = {}, const Text& savePath = {}, bool isOnlyOriginal = false,
               bool disableAutoRename = false, bool isResume = true);
    void Release() { m_buffer.Release(); }

    Text szRefUrl(const std::optional<Text>& value = std::nullopt);
    bool IsResume(std::optional<bool> value = std::nullopt);
    Text szCookies(const std::optional<Text>& value = std::nullopt);
    Text szTaskUrl(const std::optional<Text>& value = std::nullopt);
    Text szFilename(const std::optional<Text>& value = std::nullopt);
    Text szSavePath(const std::optional<Text>& value = std::nullopt);
    void* BlockAddress() const { return m_buffer.BlockAddress(); }
    bool IsOnlyOriginal(std::optional<bool> value = std::nullopt);
    bool DisableAutoRename(std::optional<bool> value = std::nullopt);

    const RecordBuffer& Buffer() const { return m_buffer; }

private:
    RecordBuffer m_buffer;
};

// An amount as the task list shows it in mebibytes, to two places: "1.50" for 1572864 bytes.
Text MebibyteFigure(std::int64_t bytes);

// The record the engine overwrites on every status query. Before the first query it reads
// stat 2 and zero everywhere else.
class TaskStatusInfo {
public:
    TaskStatusInfo() = default;
    TaskStatusInfo(const TaskStatusInfo&) = delete;
    TaskStatusInfo& operator=(const TaskStatusInfo&) = delete;

    // Builds the record afresh; gives the block address, or nullptr when no block can be had.
    void* Init();
    void Release() { m_buffer.Release(); }

    std::int32_t stat(std::optional<std::int32_t> value = std::nullopt);
    std::int32_t nSpeed(std::optional<std::int32_t> value = std::nullopt);
    float fPercent(std::optional<float> value = std::nullopt);
    std::int32_t nSrcTotal(std::optional<std::int32_t> value = std::nullopt);
    std::int32_t nSrcUsing(std::optional<std::int32_t> value = std::nullopt);
    std::int32_t nSpeedP2S(std::optional<std::int32_t> value = std::nullopt);
    std::int32_t nSpeedP2P(std::optional<std::int32_t> value = std::nullopt);
    std::int32_t fail_code(std::optional<std::int32_t> value = std::nullopt);
    Text szFilename(const std::optional<Text>& value = std::nullopt);
    std::int64_t nTotalSize(std::optional<std::int64_t> value = std::nullopt);
    void* BlockAddress() const { return m_buffer.BlockAddress(); }

    // Task-list cell texts: "45.67 %", "1 KB/S", "1.00/3.00 MB", "2/5" (in use/total).
    Text PercentText();
    Text SpeedText();
    Text SizeText();
    Text SourcesText();

    std::int64_t nDonationP2S(std::optional<std::int64_t> value = std::nullopt);
    std::int64_t nDonationP2P(std::optional<std::int64_t> value = std::nullopt);
    std::int64_t nDonationOrgin(std::optional<std::int64_t> value = std::nullopt);
    std::int32_t IsCreatingFile(std::optional<std::int32_t> value = std::nullopt);
    std::int64_t nTotalDownload(std::optional<std::int64_t> value = std::nullopt);
    bool bIsOriginUsable(std::optional<bool> value = std::nullopt);

    const RecordBuffer& Buffer() const { return m_buffer; }

private:
    RecordBuffer m_buffer;
};

// A text as the bytes of a record text field: UTF-16LE units with the terminating NUL unit.
Bytes TextFieldBytes(const Text& text);
// A record text field read back: the UTF-16LE units up to the first NUL unit, as UTF-8.
Text TextFromFieldBytes(const Bytes& bytes);

} // namespace pandrel
