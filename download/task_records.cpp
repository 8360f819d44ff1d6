#include "download/task_records.h"

#include <algorithm>
#include <cstring>

#include "runtime/convert.h"
#include "runtime/encoding.h"

namespace pandrel {

namespace {

struct FieldLayout {
    const char* name;
    int size;
};

// Field order and sizes are the engine's record layouts; offsets follow from them.
constexpr FieldLayout kStatusFields[] = {
    {"stat", 4},
    {"fail_code", 4},
    {"szFilename", 520},
    {"szReserved0", 520},
    {"nTotalSize", 8},
    {"nTotalDownload", 8},
    {"fPercent", 4},
    {"nReserved0", 4},
    {"nSrcTotal", 4},
    {"nSrcUsing", 4},
    {"nReserved1", 4},
    {"nReserved2", 4},
    {"nReserved3", 4},
    {"nReserved4", 4},
    {"nReserved5", 8},
    {"nDonationP2P", 8},
    {"nReserved6", 8},
    {"nDonationOrgin", 8},
    {"nDonationP2S", 8},
    {"nReserved7", 8},
    {"nReserved8", 8},
    {"nSpeed", 4},
    {"nSpeedP2S", 4},
    {"nSpeedP2P", 4},
    {"bIsOriginUsable", 1},
    {"fHashPercent", 4},
    {"IsCreatingFile", 4},
    {"reserved", 256},
};

// A flag's initial value: one byte, the rest of the 32-bit field staying zero.
Bytes FlagByte(bool flag) {
    return Bytes{static_cast<std::uint8_t>(flag ? 1 : 0)};
}

template <typename T> Bytes LittleEndianBytes(T value) {
    Bytes bytes(sizeof(T));
    std::memcpy(bytes.data(), &value, sizeof(T));
    return bytes;
}

// Reads a number from a field's bytes; missing bytes (a shorter field, or no field) are zero.
template <typename T> T NumberFromBytes(const Bytes& bytes) {
    std::uint8_t raw[sizeof(T)] = {};
    if (!bytes.empty()) {
        std::memcpy(raw, bytes.data(), std::min(bytes.size(), sizeof(T)));
    }
    T value;
    std::memcpy(&value, raw, sizeof(T));
    return value;
}

template <typename T>
T NumberAccessor(RecordBuffer& buffer, const char* name, std::optional<T> value) {
    if (value.has_value()) {
        return static_cast<T>(buffer.WriteField(name, LittleEndianBytes(*value)) ? 1 : 0);
    }
    return NumberFromBytes<T>(buffer.ReadField(name));
}

// Flags are stored as whole 32-bit integers holding 0 or 1.
bool FlagAccessor(RecordBuffer& buffer, const char* name, std::optional<bool> value) {
    if (value.has_value()) {
        return buffer.WriteField(name, LittleEndianBytes<std::int32_t>(*value ? 1 : 0));
    }
    return NumberFromBytes<std::int32_t>(buffer.ReadField(name)) != 0;
}

Text TextAccessor(RecordBuffer& buffer, const char* name, const std::optional<Text>& value) {
    if (value.has_value()) {
        return buffer.WriteField(name, TextFieldBytes(*value)) ? "1" : "0";
    }
    return TextFromFieldBytes(buffer.ReadField(name));
}

} // namespace

void* TaskCreateParams::Fill(const Text& taskUrl, const Text& refUrl, const Text& cookies,
                             const Text& fileName, const Text& savePath, bool isOnlyOriginal,
                             bool disableAutoRename, bool isResume) {
    Release();
    if (m_buffer.Init(1, 0xCC, kTaskCreateParamsSize, 1024) == nullptr) {
        return nullptr;
    }
    // The record is created at its final size, so none of these can fail for want of room.
    m_buffer.AddField("nReserved", 4);
    m_buffer.AddField("szTaskUrl", 4168, TextFieldBytes(taskUrl));
    m_buffer.AddField("szRefUrl", 4168, TextFieldBytes(refUrl));
    m_buffer.AddField("szCookies", 8192, TextFieldBytes(cookies));
    m_buffer.AddField("szFilename", 520, TextFieldBytes(fileName));
    m_buffer.AddField("szReserved0", 520);
    m_buffer.AddField("szSavePath", 520, TextFieldBytes(savePath));
    m_buffer.AddField("hReserved", 4);
    m_buffer.AddField("bReserved", 4, FlagByte(false));
    m_buffer.AddField("szReserved1", 128);
    m_buffer.AddField("szReserved2", 128);
    m_buffer.AddField("IsOnlyOriginal", 4, FlagByte(isOnlyOriginal));
    m_buffer.AddField("nReserved1", 4, Bytes{5});
    m_buffer.AddField("DisableAutoRename", 4, FlagByte(disableAutoRename));
    m_buffer.AddField("IsResume", 4, FlagByte(isResume));
    m_buffer.AddField("reserved", 8192);
    return m_buffer.BlockAddress();
}

Text TaskCreateParams::szRefUrl(const std::optional<Text>& value) {
    return TextAccessor(m_buffer, "szRefUrl", value);
}
bool TaskCreateParams::IsResume(std::optional<bool> value) {
    return FlagAccessor(m_buffer, "IsResume", value);
}
Text TaskCreateParams::szCookies(const std::optional<Text>& value) {
    return TextAccessor(m_buffer, "szCookies", value);
}
Text TaskCreateParams::szTaskUrl(const std::optional<Text>& value) {
    return TextAccessor(m_buffer, "szTaskUrl", value);
}
Text TaskCreateParams::szFilename(const std::optional<Text>& value) {
    return TextAccessor(m_buffer, "szFilename", value);
}
Text TaskCreateParams::szSavePath(const std::optional<Text>& value) {
    return TextAccessor(m_buffer, "szSavePath", value);
}
bool TaskCreateParams::IsOnlyOriginal(std::optional<bool> value) {
    return FlagAccessor(m_buffer, "IsOnlyOriginal", value);
}
bool TaskCreateParams::DisableAutoRename(std::optional<bool> value) {
    return FlagAccessor(m_buffer, "DisableAutoRename", value);
}

void* TaskStatusInfo::Init() {
    if (m_buffer.Init(1, 0xCC, kTaskStatusInfoSize, 1024) == nullptr) {
        return nullptr;
    }
    for (const FieldLayout& field : kStatusFields) {
        m_buffer.AddField(field.name, field.size);
    }
    // Until the engine answers a query, the task reads as state 2.
    m_buffer.WriteField("stat", LittleEndianBytes<std::int32_t>(2));
    return m_buffer.BlockAddress();
}

std::int32_t TaskStatusInfo::stat(std::optional<std::int32_t> value) {
    return NumberAccessor(m_buffer, "stat", value);
}
std::int32_t TaskStatusInfo::nSpeed(std::optional<std::int32_t> value) {
    return NumberAccessor(m_buffer, "nSpeed", value);
}
float TaskStatusInfo::fPercent(std::optional<float> value) {
    return NumberAccessor(m_buffer, "fPercent", value);
}
std::int32_t TaskStatusInfo::nSrcTotal(std::optional<std::int32_t> value) {
    return NumberAccessor(m_buffer, "nSrcTotal", value);
}
std::int32_t TaskStatusInfo::nSrcUsing(std::optional<std::int32_t> value) {
    return NumberAccessor(m_buffer, "nSrcUsing", value);
}
std::int32_t TaskStatusInfo::nSpeedP2S(std::optional<std::int32_t> value) {
    return NumberAccessor(m_buffer, "nSpeedP2S", value);
}
std::int32_t TaskStatusInfo::nSpeedP2P(std::optional<std::int32_t> value) {
    return NumberAccessor(m_buffer, "nSpeedP2P", value);
}
std::int32_t TaskStatusInfo::fail_code(std::optional<std::int32_t> value) {
    return NumberAccessor(m_buffer, "fail_code", value);
}
Text TaskStatusInfo::szFilename(const std::optional<Text>& value) {
    return TextAccessor(m_buffer, "szFilename", value);
}
std::int64_t TaskStatusInfo::nTotalSize(std::optional<std::int64_t> value) {
    return NumberAccessor(m_buffer, "nTotalSize", value);
}
std::int64_t TaskStatusInfo::nDonationP2S(std::optional<std::int64_t> value) {
    return NumberAccessor(m_buffer, "nDonationP2S", value);
}
std::int64_t TaskStatusInfo::nDonationP2P(std::optional<std::int64_t> value) {
    return NumberAccessor(m_buffer, "nDonationP2P", value);
}
std::int64_t TaskStatusInfo::nDonationOrgin(std::optional<std::int64_t> value) {
    return NumberAccessor(m_buffer, "nDonationOrgin", value);
}
std::int32_t TaskStatusInfo::IsCreatingFile(std::optional<std::int32_t> value) {
    return NumberAccessor(m_buffer, "IsCreatingFile", value);
}
std::int64_t TaskStatusInfo::nTotalDownload(std::optional<std::int64_t> value) {
    return NumberAccessor(m_buffer, "nTotalDownload", value);
}
bool TaskStatusInfo::bIsOriginUsable(std::optional<bool> value) {
    return FlagAccessor(m_buffer, "bIsOriginUsable", value);
}

Text MebibyteFigure(std::int64_t bytes) {
    return FormatNumber(static_cast<double>(bytes) / 1048576.0, 2);
}

Text TaskStatusInfo::PercentText() {
    return FormatNumber(fPercent() * 100.0, 2) + " %";
}

Text TaskStatusInfo::SpeedText() {
    return ToText(ToInt(nSpeed() / 1024.0)) + " KB/S";
}

Text TaskStatusInfo::SizeText() {
    return MebibyteFigure(nTotalDownload()) + "/" + MebibyteFigure(nTotalSize()) + " MB";
}

Text TaskStatusInfo::SourcesText() {
    return ToText(nSrcUsing()) + "/" + ToText(nSrcTotal());
}

Bytes TextFieldBytes(const Text& text) {
    const std::u16string units = Utf8ToUtf16(text);
    Bytes bytes;
    bytes.reserve((units.size() + 1) * 2);
    for (char16_t unit : units) {
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

Text TextFromFieldBytes(const Bytes& bytes) {
    std::u16string units;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto unit = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
        if (unit == 0) {
            break;
        }
        units.push_back(unit);
    }
    return Utf16ToUtf8(units);
}

} // namespace pandrel
