#include "share/listing.h"

#include "share/table_listing.h"

namespace pandrel {

Listing ListingOfPage(const Text& page) {
    const std::optional<Text> body = TableBodyOf(page);
    if (!body) {
        return {};
    }
    return ListingOfRecord(*body);
}

Listing ListingOfRecord(const Text& record) {
    return {true, record, CountTableRows(record)};
}

Array<FileEntry> ListingRows(const Text& listing, std::int32_t maxRows) {
    return CutTableRows(listing, maxRows);
}

std::optional<FileEntry> ListingRow(const Text& listing, std::int32_t number) {
    return CutTableRowAt(listing, number);
}

} // namespace pandrel
