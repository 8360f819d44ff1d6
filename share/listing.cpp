#include "share/listing.h"

#include "share/table_listing.h"

namespace pandrel {

Listing TooLargeListing() {
    Listing listing;
    listing.status = ListingStatus::TooLarge;
    return listing;
}

Listing ListingOfPage(const Text& page) {
    if (page.size() > kMaxListingBytes) {
        return TooLargeListing();
    }
    const std::optional<Text> body = TableBodyOf(page);
    if (!body) {
        return {};
    }
    return ListingOfRecord(*body);
}

Listing ListingOfRecord(const Text& record) {
    if (record.size() > kMaxListingBytes) {
        return TooLargeListing();
    }
    const std::int32_t rows = CountTableRows(record);
    if (rows > kMaxListingRows) {
        return TooLargeListing();
    }
    return {ListingStatus::Found, record, rows};
}

Array<FileEntry> ListingRows(const Text& listing, std::int32_t maxRows) {
    return CutTableRows(listing, maxRows);
}

std::optional<FileEntry> ListingRow(const Text& listing, std::int32_t number) {
    return CutTableRowAt(listing, number);
}

} // namespace pandrel
