#pragma once

#include "runtime/value_types.h"

namespace pandrel {

// One row of the listing as the file list shows it. The cells are cut by fixed markers,
// case-sensitive, and kept as they stand (no trimming, no entity decoding); a missing marker
// gives an empty cell.
struct FileEntry {
    Text name; // between "<tr><td>" and the next "</td><td>"
    Text size; // between the first "</td><td>" and the next "</td><td><a target"
    Text link; // between "href=" and the next ">点我下载", less its first and last byte
};
FileEntry CutFileEntry(const Text& row);
Text CutFileLink(const Text& row);

} // namespace pandrel
