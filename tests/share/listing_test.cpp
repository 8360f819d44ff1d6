// The listing module without a window: what a page yields, what a row count claims, the
// limits, and that a row read alone is the row of the whole cut.

#include <gtest/gtest.h>

#include "share/listing.h"

using namespace pandrel;

namespace {

Text Row(const Text& name, const Text& link) {
    return "<tr><td>" + name + "</td><td>1 KB</td><td><a target=\"_blank\" href=\"" + link +
           "\">点我下载</a></td></tr>";
}

} // namespace

TEST(ListingTest, PageYieldsItsTableBody) {
    const Text two = "\n" + Row("a", "u1") + "\n" + Row("b", "u2") + "\n";
    const Text mostRows = [] {
        Text rows;
        for (int i = 0; i < kMaxListingRows; ++i) {
            rows += "<tr>";
        }
        return rows;
    }();
    const Text largest = mostRows + Text(kMaxListingBytes - mostRows.size(), ' ');
    using enum ListingStatus;
    const struct {
        const char* label;
        Text page;
        ListingStatus status;
        Text text;
        int rows;
    } cases[] = {
        {"two rows", "<html><tbody>" + two + "</tbody></html>", Found, two, 2},
        {"empty body is a share without files", "<tbody></tbody>", Found, "", 0},
        {"rows counted in any letter case", "<tbody><TR><Tr></tbody>", Found, "<TR><Tr>", 2},
        {"first body only", "<tbody>x</tbody><tbody><tr></tbody>", Found, "x", 0},
        {"no closing tag", "<tbody><tr>a</tr>", Missing, "", 0},
        {"closing tag only before the opening one", "</tbody><tbody>", Missing, "", 0},
        {"upper-case markers are not a body", "<TBODY><tr></TBODY>", Missing, "", 0},
        {"error text", "service unavailable", Missing, "", 0},
        {"as many rows as taken", "<tbody>" + mostRows + "</tbody>", Found, mostRows,
         kMaxListingRows},
        {"one row more", "<tbody><tr>" + mostRows + "</tbody>", TooLarge, "", 0},
        {"a page one byte too long", "<tbody></tbody>" + Text(kMaxListingBytes - 14, ' '), TooLarge,
         "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const Listing listing = ListingOfPage(c.page);
        EXPECT_EQ(listing.status, c.status);
        EXPECT_EQ(listing.text, c.text);
        EXPECT_EQ(listing.rowCount, c.rows);
    }
    // The record file's text is the listing itself, within the same limits.
    const struct {
        const char* label;
        Text record;
        ListingStatus status;
        int rows;
    } records[] = {
        {"two rows", two, Found, 2},
        {"the largest listing", largest, Found, kMaxListingRows},
        {"one byte too long", largest + " ", TooLarge, 0},
        {"one row too many", "<tr>" + mostRows, TooLarge, 0},
    };
    for (const auto& r : records) {
        SCOPED_TRACE(r.label);
        const Listing record = ListingOfRecord(r.record);
        EXPECT_EQ(record.status, r.status);
        EXPECT_EQ(record.text, r.status == Found ? r.record : Text());
        EXPECT_EQ(record.rowCount, r.rows);
    }
}

TEST(ListingTest, RowsAreCutOnceTheSameWayForEveryReader) {
    const Text listing = Row("a", "u1") + Row("b", "u2") + "<tr><td>tail";
    const Array<FileEntry> rows = ListingRows(listing, 99);
    ASSERT_EQ(rows.Count(), 3);
    EXPECT_EQ(ListingRows(listing, 2).Count(), 2);
    EXPECT_EQ(ListingRows(listing, 0).Count(), 0);
    EXPECT_EQ(rows[3].name, "") << "no \"</td><td>\" after the name";
    for (int number = 1; number <= 3; ++number) {
        const std::optional<FileEntry> alone = ListingRow(listing, number);
        ASSERT_TRUE(alone) << number;
        EXPECT_EQ(alone->name, rows[number].name);
        EXPECT_EQ(alone->size, rows[number].size);
        EXPECT_EQ(alone->link, rows[number].link);
    }
    EXPECT_EQ(rows[2].link, "u2");
    for (int number : {0, -1, 4}) {
        EXPECT_FALSE(ListingRow(listing, number)) << number;
    }
}
