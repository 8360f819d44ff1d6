#include "share/listing_request.h"

#include <utility>

#include "http/page_fetch.h"
#include "runtime/convert.h"
#include "runtime/encoding.h"

namespace pandrel {
namespace {

// The first status code that counts as the service's refusal.
constexpr long kFirstErrorStatus = 400;

// Why the fetch brought no page, or None when a whole response came.
ParseFailure FailureOfFetch(FetchFailure failure) {
    switch (failure) {
    case FetchFailure::None:
        return ParseFailure::None;
    case FetchFailure::NoConnection:
        return ParseFailure::NoConnection;
    case FetchFailure::TimedOut:
        return ParseFailure::TimedOut;
    case FetchFailure::TooLarge:
        return ParseFailure::TooLarge;
    case FetchFailure::Broken:
        break;
    }
    return ParseFailure::NoListing;
}

} // namespace

Text BuildParseRequestUrl(const Text& parseService, const ShareLink& link) {
    return parseService + "?share=" + link.id + "&pwd=" + link.code;
}

ListingAnswer FetchListingPage(const Text& url, const Deadline& deadline) {
    const FetchedPage page = FetchPage(url, deadline, kMaxListingBytes);
    // The first thing that went wrong names the failure: the deadline, then the fetch's own
    // failure, the page's status, and last what it carried.
    if (deadline && std::chrono::steady_clock::now() >= *deadline) {
        return {{}, {ParseFailure::TimedOut, page.status}};
    }
    if (page.failure != FetchFailure::None) {
        const ParseFailure failure = FailureOfFetch(page.failure);
        return {{}, {failure, failure == ParseFailure::NoConnection ? 0 : page.status}};
    }
    if (page.status >= kFirstErrorStatus) {
        return {{}, {ParseFailure::HttpError, page.status}};
    }
    Listing listing = ListingOfPage(Utf8ToText(page.body));
    switch (listing.status) {
    case ListingStatus::Found:
        return {std::move(listing), {ParseFailure::None, page.status}};
    case ListingStatus::TooLarge:
        return {{}, {ParseFailure::TooLarge, page.status}};
    case ListingStatus::Missing:
        break;
    }
    return {{}, {ParseFailure::NoListing, page.status}};
}

Text ParseFailureText(const ParseOutcome& outcome) {
    switch (outcome.failure) {
    case ParseFailure::None:
        return {};
    case ParseFailure::NoShareLink:
        return "解析失败：未识别到分享链接和提取码";
    case ParseFailure::NoConnection:
        return "解析失败：无法连接解析服务";
    case ParseFailure::HttpError:
        return "解析失败：解析服务返回错误（HTTP " + ToText(std::int64_t{outcome.httpStatus}) +
               "）";
    case ParseFailure::TimedOut:
        return "解析失败：解析服务超时";
    case ParseFailure::NoListing:
        return "解析失败：解析服务没有返回文件列表";
    case ParseFailure::TooLarge:
        return "解析失败：文件列表过大";
    }
    return {};
}

Text ParseSuccessText(const Text& shareHost, const ShareLink& link, std::int32_t rowCount) {
    return "解析成功——https://" + shareHost + "/s/" + link.id + "-----" + link.code + "共有：" +
           ToText(rowCount) + "个文件";
}

} // namespace pandrel
