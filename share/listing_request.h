#pragma once

#include <chrono>
#include <cstdint>

#include "http/deadline.h"
#include "share/listing.h"
#include "share/share_link.h"

namespace pandrel {

// The request to the parse service and the texts that report its outcome: the window's parse
// command and the terminal program both go through here, so the two always ask the same
// question, read the answer the same way and tell the user the same. No Qt.

// The fetches of one parse together end within this time; a service that trickles or hangs
// cannot hold the window (whose parse fetches the page twice, as does its sample listing) or
// a terminal longer.
inline constexpr std::chrono::seconds kParseTimeLimit{60};

// Why a parse brought no new listing, and so what the user is told.
enum class ParseFailure {
    // A listing within the limits came.
    None,
    // "解析失败：未识别到分享链接和提取码": nothing was asked.
    NoShareLink,
    // "解析失败：无法连接解析服务".
    NoConnection,
    // A status of 400 or above: "解析失败：解析服务返回错误（HTTP n）".
    HttpError,
    // "解析失败：解析服务超时": the time limit passed, or the service stalled.
    TimedOut,
    // "解析失败：解析服务没有返回文件列表": a page without a listing, or an answer that broke
    // off.
    NoListing,
    // "解析失败：文件列表过大".
    TooLarge,
};

// How the fetches of one parse ended.
struct ParseOutcome {
    ParseFailure failure = ParseFailure::None;
    // The listing page's status code; 0 when no answer came.
    long httpStatus = 0;
};

// What one fetch of the listing page brought.
struct ListingAnswer {
    // The listing the page carried when the outcome is None; otherwise Missing and empty.
    Listing listing;
    ParseOutcome outcome;
};

// parseService + "?share=" + id + "&pwd=" + code, with no escaping: the HTTP client encodes
// what may not go on the wire when it sends the request.
Text BuildParseRequestUrl(const Text& parseService, const ShareLink& link);

// Fetches the page at `url` (the listing page, capped at kMaxListingBytes) and finds its
// listing. The outcome names the first thing that went wrong: the deadline, then the fetch
// itself (no connection, a stall, a page past the cap, a broken answer), a status of 400 or
// above (such a page is never taken as a listing), and last a page without a listing or with
// one past the limits of share/listing.h.
ListingAnswer FetchListingPage(const Text& url, const Deadline& deadline);

// The text that tells the user why a parse failed; empty for ParseFailure::None.
Text ParseFailureText(const ParseOutcome& outcome);

// "解析成功——https://<share host>/s/<id>-----<code>共有：<rows>个文件".
Text ParseSuccessText(const Text& shareHost, const ShareLink& link, std::int32_t rowCount);

} // namespace pandrel
