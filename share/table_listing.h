#pragma once

#include <cstdint>
#include <optional>

#include "runtime/array.h"
#include "share/file_entry.h"

namespace pandrel {

// The parse service's listing format: an HTML page whose table body holds one row per file,
//   <tr><td>NAME</td><td>SIZE</td><td><a target="_blank" href="LINK">点我下载</a></td></tr>
// The listing kept from the page is the body between "<tbody>" and "</tbody>", as it stands.
// Every marker is case-sensitive, except that rows are counted by "<tr>" in any letter case;
// a count and the rows cut at "</tr>" may therefore disagree, and readers take the smaller.

// The table body of a page: the text between the first "<tbody>" and the next "</tbody>";
// nullopt when either is missing. An empty body is a listing without files.
std::optional<Text> TableBodyOf(const Text& page);

// The rows the body claims: occurrences of "<tr>" in any letter case.
std::int32_t CountTableRows(const Text& body);

// The first `maxRows` pieces of the body cut at every "</tr>" (the text after the last one is
// a piece of its own unless it is empty), each cut into its cells; fewer when the body has
// fewer pieces, none when maxRows < 1.
Array<FileEntry> CutTableRows(const Text& body, std::int32_t maxRows);

// Piece `number` (1-based) of the body cut into its cells; nullopt when there is no such piece.
std::optional<FileEntry> CutTableRowAt(const Text& body, std::int32_t number);

// The cells of one piece, cut by fixed markers; a missing marker gives an empty cell:
//   name  between "<tr><td>" and the next "</td><td>"
//   size  between the first "</td><td>" and the next "</td><td><a target"
//   link  between "href=" and the next ">点我下载", less its first and last byte (the quotes);
//         empty when shorter than two bytes
FileEntry CutTableRow(const Text& row);

} // namespace pandrel
