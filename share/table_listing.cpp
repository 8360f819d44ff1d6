#include "share/table_listing.h"

#include "runtime/text.h"

namespace pandrel {
namespace {

constexpr const char* kRowEnd = "</tr>";

Text CutLink(const Text& row) {
    const Text quoted = TextBetween(row, "href=", ">点我下载");
    if (quoted.size() < 2) {
        return {};
    }
    return quoted.substr(1, quoted.size() - 2);
}

} // namespace

std::optional<Text> TableBodyOf(const Text& page) {
    const int open = FindText(page, "<tbody>");
    if (open == -1 || FindText(page, "</tbody>", open + 7) == -1) {
        return std::nullopt;
    }
    return TextBetween(page, "<tbody>", "</tbody>");
}

std::int32_t CountTableRows(const Text& body) {
    return CountOccurrences(body, "<tr>");
}

Array<FileEntry> CutTableRows(const Text& body, std::int32_t maxRows) {
    Array<FileEntry> rows;
    if (maxRows < 1) {
        return rows;
    }
    // Only the pieces asked for are cut: a body of many "</tr>" and few "<tr>" costs no more
    // than its count.
    for (const Text& piece : SplitText(body, kRowEnd, maxRows)) {
        rows.Append(CutTableRow(piece));
    }
    return rows;
}

std::optional<FileEntry> CutTableRowAt(const Text& body, std::int32_t number) {
    if (number < 1) {
        return std::nullopt;
    }
    const Array<Text> pieces = SplitText(body, kRowEnd, number);
    if (pieces.Count() < number) {
        return std::nullopt;
    }
    return CutTableRow(pieces[number]);
}

FileEntry CutTableRow(const Text& row) {
    return {TextBetween(row, "<tr><td>", "</td><td>"),
            TextBetween(row, "</td><td>", "</td><td><a target"), CutLink(row)};
}

} // namespace pandrel
