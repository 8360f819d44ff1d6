#include "share/listing_request.h"

#include "http/page_fetch.h"
#include "runtime/convert.h"
#include "runtime/encoding.h"

namespace pandrel {

Text BuildParseRequestUrl(const Text& parseService, const ShareLink& link) {
    return parseService + "?share=" + link.id + "&pwd=" + link.code;
}

Listing FetchListingPage(const Text& url, const Deadline& deadline) {
    const FetchedPage page = FetchPage(url, deadline, kMaxListingBytes);
    return page.failure == FetchFailure::TooLarge ? TooLargeListing()
                                                  : ListingOfPage(Utf8ToText(page.body));
}

Text ParseFailureText(ListingStatus status) {
    return status == ListingStatus::TooLarge ? kListingTooLargeText : kNoListingText;
}

Text ParseSuccessText(const Text& shareHost, const ShareLink& link, std::int32_t rowCount) {
    return "解析成功——https://" + shareHost + "/s/" + link.id + "-----" + link.code + "共有：" +
           ToText(rowCount) + "个文件";
}

} // namespace pandrel
