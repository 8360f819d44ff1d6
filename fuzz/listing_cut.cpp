// Text as a hostile parse service could send it, cut the way every reader cuts it: as a page
// that may carry a listing, and as a listing read back from the record file. A page's listing
// is a piece of the page; cells are pieces of the listing; the rows never outnumber the ones
// claimed; and row k read alone is row k of the whole cut.
#include <cstdint>

#include "fuzz/support/fuzz_check.h"
#include "share/listing.h"

using namespace pandrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Text input(reinterpret_cast<const char*>(data), size);
    const Listing ofPage = ListingOfPage(input);
    FUZZ_CHECK(ofPage.status == ListingStatus::Found
                   ? input.find(ofPage.text) != Text::npos && ofPage.rowCount <= kMaxListingRows
                   : ofPage.text.empty() && ofPage.rowCount == 0);

    const Listing listing = ListingOfRecord(input);
    FUZZ_CHECK(listing.rowCount >= 0 &&
               static_cast<std::size_t>(listing.rowCount) * 4 <= listing.text.size());
    const Array<FileEntry> rows = ListingRows(listing.text, listing.rowCount);
    FUZZ_CHECK(rows.Count() <= listing.rowCount);
    for (int i = 1; i <= rows.Count(); ++i) {
        const FileEntry& entry = rows[i];
        FUZZ_CHECK(listing.text.find(entry.name) != Text::npos);
        FUZZ_CHECK(listing.text.find(entry.size) != Text::npos);
        FUZZ_CHECK(listing.text.find(entry.link) != Text::npos);
        const std::optional<FileEntry> alone = ListingRow(listing.text, i);
        FUZZ_CHECK(alone && alone->name == entry.name && alone->size == entry.size &&
                   alone->link == entry.link);
    }
    FUZZ_CHECK(!ListingRow(listing.text, rows.Count() + 1) || rows.Count() == listing.rowCount);
    return 0;
}
