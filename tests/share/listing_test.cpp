// The listing module without a window: what a page yields, what a row count claims, and that
// a row read alone is the row of the whole cut.

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
    const struct {
        const char* label;
        Text page;
        bool found;
        Text text;
        int rows;
    } cases[] = {
        {"two rows", "<html><tbody>" + two + "</tbody></html>", true, two, 2},
        {"empty body is a share without files", "<tbody></tbody>", true, "", 0},
        {"rows counted in any letter case", "<tbody><TR><Tr></tbody>", true, "<TR><Tr>", 2},
        {"first body only", "<tbody>x</tbody><tbody><tr></tbody>", true, "x", 0},
        {"no closing tag", "<tbody><tr>a</tr>", false, "", 0},
        {"closing tag only before the opening one", "</tbody><tbody>", false, "", 0},
        {"upper-case markers are not a body", "<TBODY><tr></TBODY>", false, "", 0},
        {"error text", "service unavailable", false, "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const Listing listing = ListingOfPage(c.page);
        EXPECT_EQ(listing.found, c.found);
        EXPECT_EQ(listing.text, c.text);
        EXPECT_EQ(listing.rowCount, c.rows);
    }
    const Listing record = ListingOfRecord(two);
    EXPECT_TRUE(record.found);
    EXPECT_EQ(record.text, two);
    EXPECT_EQ(record.rowCount, 2);
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
