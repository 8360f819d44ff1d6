#include "file_choice.h"

#include <cstdio>

namespace pandrel::get {
namespace {

bool IsControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

} // namespace

std::optional<std::vector<ChosenFile>>
ChooseFiles(const std::vector<FileEntry>& rows, const std::optional<std::vector<NumberSpan>>& only,
            Text& error) {
    const auto count = static_cast<std::int32_t>(rows.size());
    std::vector<bool> chosen(rows.size(), !only.has_value());
    for (const NumberSpan& span : only.value_or(std::vector<NumberSpan>{})) {
        if (span.last > count) {
            error = "分享中只有 " + std::to_string(count) + " 个文件，没有第 " +
                    std::to_string(std::max(span.first, count + 1)) + " 个";
            return std::nullopt;
        }
        for (std::int32_t number = span.first; number <= span.last; ++number) {
            chosen[static_cast<std::size_t>(number - 1)] = true;
        }
    }
    std::vector<ChosenFile> files;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (chosen[i]) {
            files.push_back({static_cast<std::int32_t>(i + 1), rows[i]});
        }
    }
    return files;
}

Text ShownName(const Text& name) {
    Text shown;
    for (const char c : name) {
        if (IsControl(static_cast<unsigned char>(c))) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(c));
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return shown;
}

} // namespace pandrel::get
