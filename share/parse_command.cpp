#include "share/parse_command.h"

#include <atomic>

#include "http/page_fetch.h"
#include "http/web_request.h"
#include "runtime/control_names.h"
#include "runtime/convert.h"
#include "runtime/encoding.h"
#include "runtime/ui/controls.h"
#include "runtime/ui/list_view.h"
#include "runtime/ui/paint_while_waiting.h"
#include "runtime/ui/ui_thread.h"
#include "share/file_list.h"
#include "share/listing.h"
#include "share/listing_request.h"

namespace pandrel {
namespace {

// The test hook's setting: process-wide because the parse handlers are plain procedures that
// take only the program's values; atomic, so a test may set it from any thread.
std::atomic<std::chrono::milliseconds> g_parseTimeLimit{kParseTimeLimit};

// When the fetches of a parse that starts now must have ended.
std::chrono::steady_clock::time_point ParseDeadline() {
    return std::chrono::steady_clock::now() + g_parseTimeLimit.load();
}

// FetchText with the body capped at kMaxListingBytes: a longer page gives the empty text.
// `timedOut`, when given, says whether the request was abandoned for time.
Text FetchCappedText(const Text& url, const Deadline& deadline, bool* timedOut = nullptr) {
    return ToText(WebRequest(
        url, {.deadline = deadline, .maxBodyBytes = kMaxListingBytes, .timedOut = timedOut}));
}

} // namespace

void SetParseTimeLimitForTesting(std::chrono::milliseconds limit) {
    g_parseTimeLimit = limit.count() > 0 ? limit : std::chrono::milliseconds(kParseTimeLimit);
}

void RunParse(ProgramState& state, const ParseHooks& hooks) {
    AssertUiThread();
    state.ShareInputText = GetTextProperty(kShareInputBox, Property::Content);
    const ShareLink link = ExtractShareLink(state.ShareInputText, state.deployment.shareHost);
    state.ShareId = link.id;
    state.ShareCode = link.code;
    if (link.id.empty()) {
        // Asking the service about an empty share would only replace the listing with nothing.
        SetProperty(kStatusLine, Property::Caption,
                    ParseFailureText({ParseFailure::NoShareLink, 0}));
        return;
    }
    SetProperty(kStatusLine, Property::Caption, "正在解析：" + state.ShareInputText);
    state.ParseRequestUrl = BuildParseRequestUrl(state.deployment.parseService, link);
    const ParseOutcome outcome = FetchListing(state);
    if (outcome.failure != ParseFailure::None) {
        SetProperty(kStatusLine, Property::Caption, ParseFailureText(outcome));
        return;
    }
    // The old rows go only now that the new listing is in hand.
    DeleteAllRows(kFileList);
    SetProperty(kStatusLine, Property::Caption,
                ParseSuccessText(state.deployment.shareHost, link, state.RecordRowCount));
    if (hooks.saveRecord != nullptr) {
        hooks.saveRecord(state);
    }
    FillFileList(state);
}

ParseOutcome FetchListing(ProgramState& state) {
    AssertUiThread();
    const Text url = state.ParseRequestUrl;
    const auto deadline = ParseDeadline();
    ListingAnswer answer;
    Text raw;
    // The page is cut into its listing on the fetch thread too, so the window paints meanwhile.
    RunWhileWindowPaints([&] {
        answer = FetchListingPage(url, deadline);
        bool rawTimedOut = false;
        raw = FetchCappedText(url, deadline, &rawTimedOut);
        // A parse that ran out of time keeps the previous listing, whatever arrived before.
        // libcurl's clock may end a request cut off by the deadline a little before ours
        // reaches it, so the request's own word counts too.
        if (std::chrono::steady_clock::now() >= deadline || rawTimedOut) {
            answer = {{}, {ParseFailure::TimedOut, answer.outcome.httpStatus}};
        }
    });
    const Listing& listing = answer.listing;
    if (answer.outcome.failure == ParseFailure::None) {
        state.RecordText = listing.text;
        state.RecordRowCount = listing.rowCount;
    }
    SetProperty(kDiagnosticBox, Property::Content, url + "\r\n" + raw + "\r\n" + listing.text);
    return answer.outcome;
}

void FetchSampleListing(ProgramState& state) {
    AssertUiThread();
    const Deployment& deployment = state.deployment;
    const Text url = BuildParseRequestUrl(deployment.parseService,
                                          {deployment.sampleShare, deployment.sampleCode});
    const auto deadline = ParseDeadline();
    Text listingPage;
    Text page;
    RunWhileWindowPaints([&] {
        listingPage = Utf8ToText(FetchCappedText(url, deadline));
        page = Utf8ToText(FetchPage(url, deadline, kMaxListingBytes).body);
    });
    state.RecordText = ListingOfPage(listingPage).text;
    SetProperty(kDiagnosticBox, Property::Content, page);
}

} // namespace pandrel
