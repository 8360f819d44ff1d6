#pragma once

#include <chrono>

#include "runtime/program_state.h"
#include "share/share_link.h"

namespace pandrel {

// What the parse command needs from the application shell, which lives above this layer.
struct ParseHooks {
    // Writes RecordText to the record file; called once a new listing is in hand.
    void (*saveRecord)(ProgramState& state) = nullptr;
};

// The two fetches of one parse (or of the sample listing) together end within this time; a
// service that trickles or hangs cannot hold the window longer.
inline constexpr std::chrono::seconds kParseTimeLimit{60};

// Test hook; the program never calls it. Shortens the time limit of the parses that start
// afterwards (a value <= 0 restores kParseTimeLimit).
void SetParseTimeLimitForTesting(std::chrono::milliseconds limit);

// parseService + "?share=" + id + "&pwd=" + code, with no escaping: the HTTP client encodes
// what may not go on the wire when it sends the request.
Text BuildParseRequestUrl(const Text& parseService, const ShareLink& link);

// The click handler of "解析". Reads 编辑框1 into ShareInputText and pulls the share link out.
// Without one, 状态 reads "解析失败：未识别到分享链接和提取码" and nothing else changes: no
// request goes out. Otherwise it sets ShareId, ShareCode and ParseRequestUrl, shows
// "正在解析：" + the input, and fetches the listing. A listing without a table body (or no
// page at all) gives "解析失败：解析服务没有返回文件列表" and keeps the previous listing:
// RecordText, RecordRowCount, the file list and the record file. A new listing replaces the file
// list, reports "解析成功——" with the share link and its file count, and is saved through
// hooks.saveRecord. While the pages are fetched the window keeps painting but takes no input
// (see RunWhileWindowPaints); fetches still running after kParseTimeLimit are abandoned and
// the parse fails as when no listing came.
void RunParse(ProgramState& state, const ParseHooks& hooks);

// Fetches ParseRequestUrl twice: once as the listing page (FetchPageBytes) and once as raw text
// for the diagnostic box (FetchText); 编辑框2 then shows the URL, the raw page and the table
// body, each separated by "\r\n". When the page has a table body ("<tbody>" then "</tbody>",
// possibly with no rows) and both fetches ended within kParseTimeLimit, the body becomes
// RecordText, with RecordRowCount the count of "<tr>" in any letter case, and the result is
// true; otherwise both stay as they were and the result is false.
bool FetchListing(ProgramState& state);

// The hidden button 加入下载列表: RecordText becomes the table body of the sample share's
// listing (empty when there is none); RecordRowCount is left alone. 编辑框2 shows the sample
// page.
void FetchSampleListing(ProgramState& state);

} // namespace pandrel
