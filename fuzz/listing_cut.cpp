// A table body as a hostile parse service could send it, cut the way the file list cuts it:
// the rows counted without regard to case, the body split at "</tr>" and each piece cut into
// its cells. Cells are pieces of their row, never longer than it.
#include <algorithm>
#include <cstdint>

#include "fuzz/support/fuzz_check.h"
#include "runtime/text.h"
#include "share/file_entry.h"

using namespace pandrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Text body(reinterpret_cast<const char*>(data), size);
    const int count = CountOccurrences(body, "<tr>");
    FUZZ_CHECK(count >= 0 && static_cast<std::size_t>(count) * 4 <= body.size());
    const Array<Text> rows = SplitText(body, "</tr>");
    const int used = std::min(count, rows.Count());
    for (int i = 1; i <= used; ++i) {
        const Text& row = rows[i];
        const FileEntry entry = CutFileEntry(row);
        FUZZ_CHECK(row.find(entry.name) != Text::npos);
        FUZZ_CHECK(row.find(entry.size) != Text::npos);
        FUZZ_CHECK(row.find(entry.link) != Text::npos);
        FUZZ_CHECK(CutFileLink(row) == entry.link);
    }
    return 0;
}
