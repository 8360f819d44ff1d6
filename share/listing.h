#pragma once

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

// A listing found in a page or read from the record: its text and the number of rows it
// claims (RecordText and RecordRowCount). `found` is false when a page carries no listing;
// the text and count are then empty.
struct Listing {
    bool found = false;
    Text text;
    std::int32_t rowCount = 0;
};

// The listing a parse service's page carries. An empty listing (a share without files) is
// found; a page without one (an error text) is not.
Listing ListingOfPage(const Text& page);

// The listing the record file holds: the whole text is the listing.
Listing ListingOfRecord(const Text& record);

// The first `maxRows` rows of the listing text, in order; fewer when it has fewer.
Array<FileEntry> ListingRows(const Text& listing, std::int32_t maxRows);

// Row `number` (1-based) of the listing text; nullopt when it has no such row.
std::optional<FileEntry> ListingRow(const Text& listing, std::int32_t number);

} // namespace pandrel
