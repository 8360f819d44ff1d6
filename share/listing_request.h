#pragma once

#include <chrono>

#include "http/deadline.h"
#include "share/listing.h"
#include "share/share_link.h"

namespace pandrel {

// The request to the parse service and the texts that report its outcome: the window's parse
// command and the terminal program both go through here, so the two always ask the same
// question and read the answer the same way. No Qt.

// What the user is told when a parse cannot begin or its answer holds no listing.
inline constexpr const char* kNoShareLinkText = "解析失败：未识别到分享链接和提取码";
inline constexpr const char* kNoListingText = "解析失败：解析服务没有返回文件列表";
inline constexpr const char* kListingTooLargeText = "解析失败：文件列表过大";

// The fetches of one parse together end within this time; a service that trickles or hangs
// cannot hold the window (whose parse fetches the page twice, as does its sample listing) or
// a terminal longer.
inline constexpr std::chrono::seconds kParseTimeLimit{60};

// parseService + "?share=" + id + "&pwd=" + code, with no escaping: the HTTP client encodes
// what may not go on the wire when it sends the request.
Text BuildParseRequestUrl(const Text& parseService, const ShareLink& link);

// Fetches the page at `url` (the listing page, capped at kMaxListingBytes) and finds its
// listing. A fetch that fails or runs past the deadline gives no page, so the listing is
// Missing; a page past the cap is TooLarge.
Listing FetchListingPage(const Text& url, const Deadline& deadline);

// The failure text of a listing that was not found (Missing or TooLarge).
Text ParseFailureText(ListingStatus status);

// "解析成功——https://<share host>/s/<id>-----<code>共有：<rows>个文件".
Text ParseSuccessText(const Text& shareHost, const ShareLink& link, std::int32_t rowCount);

} // namespace pandrel
