#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "runtime/array.h"
#include "share/file_entry.h"

namespace pandrel {

// The listing: the files a parse service's page lists. The program keeps it as the text the
// page carried (RecordText), which the record file holds unchanged, and every reader goes
// through this module to turn that text into FileEntry rows: the file-list fill, the copy-link
// and download commands, the record load and the parse. The text's format is the parse
// service's HTML table (share/table_listing.h).

// The largest listing the program takes. A page longer than kMaxListingBytes (and so a
// listing or a record file that long), or a listing that claims more than kMaxListingRows
// rows, is refused whole: a hostile share can then neither freeze the window nor exhaust
// memory, in the parse or at the next start.
inline constexpr std::size_t kMaxListingBytes = 16u * 1024 * 1024;
inline constexpr std::int32_t kMaxListingRows = 100000;

enum class ListingStatus {
    Found,    // a listing within the limits, possibly without files
    Missing,  // the page carries no listing (an error text)
    TooLarge, // past a limit: refused, nothing of it kept
};

// A listing found in a page or read from the record: its text and the number of rows it
// claims (RecordText and RecordRowCount). Unless found, the text and count are empty.
struct Listing {
    ListingStatus status = ListingStatus::Missing;
    Text text;
    std::int32_t rowCount = 0;
};

// What stands for a page or listing past a limit.
Listing TooLargeListing();

// The listing a parse service's page carries. An empty listing (a share without files) is
// found; a page without one (an error text) is missing.
Listing ListingOfPage(const Text& page);

// The listing the record file holds: the whole text is the listing, found unless past a
// limit.
Listing ListingOfRecord(const Text& record);

// The first `maxRows` rows of the listing text, in order; fewer when it has fewer.
Array<FileEntry> ListingRows(const Text& listing, std::int32_t maxRows);

// Row `number` (1-based) of the listing text; nullopt when it has no such row.
std::optional<FileEntry> ListingRow(const Text& listing, std::int32_t number);

} // namespace pandrel
