#pragma once

#include <chrono>

#include "runtime/program_state.h"
#include "share/listing.h"
#include "share/listing_request.h"
#include "share/share_link.h"

namespace pandrel {

// What the parse command needs from the application shell, which lives above this layer.
struct ParseHooks {
    // Writes RecordText to the record file; called once a new listing is in hand.
    void (*saveRecord)(ProgramState& state) = nullptr;
};

// Test hook; the program never calls it. Shortens the time limit (kParseTimeLimit) of the parses
// that start afterwards (a value <= 0 restores kParseTimeLimit).
void SetParseTimeLimitForTesting(std::chrono::milliseconds limit);

// The click handler of "解析" (and of Enter in 编辑框1). Reads 编辑框1 into ShareInputText and
// pulls the share link out. Without one, 状态 says so and nothing else changes: no request
// goes out. Otherwise it sets ShareId, ShareCode and ParseRequestUrl, shows "正在解析：" +
// the input, and fetches the listing. A parse that brings no listing shows why
// (ParseFailureText) and keeps the previous listing: RecordText, RecordRowCount, the file
// list and the record file. A new listing replaces the file list, reports "解析成功——" with
// the share link and its file count, and is saved through hooks.saveRecord. While the pages
// are fetched the window keeps painting but takes no input (see RunWhileWindowPaints);
// fetches still running after kParseTimeLimit are abandoned and the parse has timed out.
void RunParse(ProgramState& state, const ParseHooks& hooks);

// Fetches ParseRequestUrl twice: once as the listing page (FetchListingPage) and once as raw
// text for the diagnostic box (WebRequest), each capped at kMaxListingBytes; 编辑框2 then shows
// the URL, the raw page and the listing, each separated by "\r\n". When the page came with a
// status below 400 and carries a listing within the limits (share/listing.h; possibly without
// rows), and both fetches ended within kParseTimeLimit, the listing becomes RecordText and
// RecordRowCount; otherwise both stay as they were, the outcome says why and 编辑框2 shows no
// listing.
ParseOutcome FetchListing(ProgramState& state);

// The hidden button 加入下载列表: RecordText becomes the sample share's listing (empty when
// there is none, or when it is past the limits); RecordRowCount is left alone. 编辑框2 shows the
// sample page (empty when longer than kMaxListingBytes).
void FetchSampleListing(ProgramState& state);

} // namespace pandrel
