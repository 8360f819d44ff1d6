#include "http/web_request.h"

#include <curl/curl.h>

#include <array>
#include <memory>

#include "http/cookie_text.h"
#include "http/header_text.h"
#include "http/redirects.h"
#include "http/transfer.h"
#include "http/url_parts.h"
#include "http/wire_url.h"
#include "runtime/convert.h"
#include "runtime/text.h"

namespace pandrel {

namespace {

constexpr std::array<const char*, 8> kVerbs = {"GET",     "POST",   "HEAD",  "PUT",
                                               "OPTIONS", "DELETE", "TRACE", "CONNECT"};
constexpr int kPost = 1;
constexpr int kHead = 2;

bool Contains(const Text& text, const Text& part) {
    return FindText(text, part, 1, true) != -1;
}

// A CR or LF inside one line would start a header line of its own on the wire.
Text SingleLine(Text line) {
    for (char& c : line) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    return line;
}

struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, SlistDeleter>;

void Append(HeaderList& list, const Text& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (grown != nullptr) {
        list.release();
        list.reset(grown);
    }
}

// The block's lines in order, as libcurl sends them. A line with nothing after its colon is
// written "Name;" (libcurl's form for an empty value; "Name:" would delete the header). Lines
// without a name are not headers and are left out. libcurl's own Accept, Content-Type and
// Expect lines are suppressed, so besides Host, User-Agent and Content-Length only the
// block goes out.
HeaderList BuildHeaderList(const Text& block) {
    HeaderList list;
    Array<Text> lines = SplitText(block, "\r\n");
    for (const Text& raw : lines) {
        Text line = SingleLine(raw);
        std::size_t colon = line.find(':');
        if (colon == Text::npos || colon == 0) {
            continue;
        }
        if (line.find_first_not_of(" \t", colon + 1) == Text::npos) {
            line = line.substr(0, colon) + ";";
        }
        Append(list, line);
    }
    for (const Text name : {"Accept", "Content-Type", "Expect"}) {
        bool named = false;
        for (const Text& line : lines) {
            named = named || HeaderLineNames(line, name);
        }
        if (!named) {
            Append(list, name + ":");
        }
    }
    return list;
}

// The verb and body. libcurl sends a body only with a POST, so every other verb with a body is
// a POST renamed; a HEAD among them ends once its headers are in (see TransferSink).
void ApplyMethod(CURL* handle, int method, const Bytes& body, detail::TransferSink& sink) {
    static const char kEmpty[] = "";
    const char* data = body.empty() ? kEmpty : reinterpret_cast<const char*>(body.data());
    if (method == 0) {
        curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
        return;
    }
    if (method == kPost || !body.empty()) {
        curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        curl_easy_setopt(handle, CURLOPT_POSTFIELDS, data);
    } else if (method == kHead) {
        curl_easy_setopt(handle, CURLOPT_NOBODY, 1L);
    }
    if (method == kHead && !body.empty()) {
        sink.endAfterHeaders = true;
    }
    if (method != kPost) {
        curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, kVerbs[static_cast<std::size_t>(method)]);
    }
}

void ApplyProxy(CURL* handle, const Text& proxy) {
    if (proxy.empty()) {
        curl_easy_setopt(handle, CURLOPT_PROXY, "");
        curl_easy_setopt(handle, CURLOPT_NOPROXY, "*");
    } else {
        curl_easy_setopt(handle, CURLOPT_PROXY, proxy.c_str());
        curl_easy_setopt(handle, CURLOPT_NOPROXY, "");
    }
}

// A new connection for every request, the path as computed, the agent, proxy and whether the
// process-wide cookie store takes part. Redirects are the routine's own business.
void ApplyConnection(CURL* handle, const Text& target, const Text& agent,
                     const WebRequestOptions& options) {
    curl_easy_setopt(handle, CURLOPT_URL, target.c_str());
    curl_easy_setopt(handle, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(handle, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(handle, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(handle, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(handle, CURLOPT_USERAGENT, agent.c_str());
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
    ApplyProxy(handle, options.proxy.value_or(""));
    if (options.cookies == nullptr) {
        detail::UseCookieStore(handle);
    }
}

// One request of a chain on a handle of its own; false when it failed, and then `sink` holds
// nothing worth keeping.
bool SendOne(const Text& target, const Text& agent, const Text& block,
             const detail::ChainRequest& request, const WebRequestOptions& options,
             detail::TransferSink& sink) {
    detail::EasyHandle easy;
    if (easy.get() == nullptr) {
        return false;
    }
    CURL* handle = easy.get();
    sink.maxBodyBytes = options.maxBodyBytes.value_or(kMaxBodyBytes);
    if (!detail::ApplyCommonOptions(handle, sink, options.deadline)) {
        sink.timedOut = true;
        return false;
    }
    ApplyConnection(handle, target, agent, options);
    HeaderList headerList = BuildHeaderList(block);
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headerList.get());
    ApplyMethod(handle, request.method, request.body, sink);
    detail::Utf8LocaleScope utf8;
    const CURLcode result = curl_easy_perform(handle);
    if (result == CURLE_FILESIZE_EXCEEDED) {
        sink.bodyTooLarge = true;
    }
    sink.timedOut = detail::TimedOut(handle, result, sink);
    return result == CURLE_OK || (result == CURLE_WRITE_ERROR && sink.endedAfterHeaders);
}

// The final response of the chain that starts at `target`: redirects followed up to the
// limit unless switched off, Cookie and Authorization lines sent only to the caller's origin.
// Any failure on the way, a redirect past the limit or one that cannot be followed gives an
// empty sink (which keeps only whether a body was too large).
detail::TransferSink SendFollowingRedirects(const Text& target, const Text& agent,
                                            const Text& block, detail::ChainRequest request,
                                            const WebRequestOptions& options) {
    const bool follow = !options.noRedirect.value_or(false);
    Text address = target;
    for (long redirects = 0;; ++redirects) {
        detail::TransferSink sink;
        const Text hopBlock = redirects == 0 || detail::SameOrigin(address, target)
                                  ? block
                                  : detail::WithoutCredentials(block);
        if (!SendOne(address, agent, hopBlock, request, options, sink)) {
            detail::TransferSink failed;
            failed.bodyTooLarge = sink.bodyTooLarge;
            failed.timedOut = sink.timedOut;
            return failed;
        }
        const std::optional<Text> next =
            follow ? detail::RedirectTarget(address, sink.headers) : std::nullopt;
        if (!next) {
            return sink;
        }
        if (next->empty() || redirects == kMaxRedirects) {
            return {};
        }
        request =
            detail::RequestAfterRedirect(detail::StatusCodeOf(sink.headers), std::move(request));
        address = *next;
    }
}

Bytes RequestBody(const WebRequestOptions& options) {
    if (options.postBytes && !options.postBytes->empty()) {
        return *options.postBytes;
    }
    if (options.postText) {
        return Bytes(options.postText->begin(), options.postText->end());
    }
    return {};
}

} // namespace

Text CompleteRequestHeaders(const Text& headers, int method, const Text& url, bool completeHeaders,
                            const Text* cookies) {
    Text block = headers;
    if (completeHeaders) {
        if (block.empty()) {
            block = "Accept: */*";
        }
        if (!Contains(block, "Accept:")) {
            block += "\r\nAccept: */*";
        }
        if (!Contains(block, "Referer:")) {
            block += "\r\nReferer: " + url;
        }
        if (!Contains(block, "Accept-Language:")) {
            block += "\r\nAccept-Language: zh-cn";
        }
        if (method == kPost && !Contains(block, "Content-Type:")) {
            block += "\r\nContent-Type: application/x-www-form-urlencoded";
        }
    }
    if (cookies != nullptr && !cookies->empty()) {
        if (FindText(*cookies, "Cookie:") == -1) {
            block += "\r\nCookie: " + *cookies;
        } else {
            block += "\r\n" + *cookies;
        }
    }
    return block;
}

Bytes WebRequest(const Text& url, const WebRequestOptions& options) {
    if (options.bodyTooLarge != nullptr) {
        *options.bodyTooLarge = false;
    }
    if (options.timedOut != nullptr) {
        *options.timedOut = false;
    }
    Text extraHeaders = options.extraHeaders.value_or("");
    if (options.normalizeHeaderNames.value_or(true)) {
        extraHeaders = NormalizeHeaderNames(extraHeaders);
    }
    int method = options.method.value_or(0);
    if (method < 0 || method > 7) {
        method = 0;
    }
    const Text agent =
        Contains(extraHeaders, "User-Agent:") ? UserAgentFrom(extraHeaders) : kDefaultUserAgent;
    const Text target = RequestWireUrl(url);
    if (target.empty()) {
        return {};
    }
    // The Referer carries the URL as it goes on the wire, so a line break in it stays inside
    // the line.
    const Text block =
        CompleteRequestHeaders(extraHeaders, method, EncodeUrlForWire(url),
                               options.completeHeaders.value_or(true), options.cookies);
    detail::TransferSink sink = SendFollowingRedirects(target, SingleLine(agent), block,
                                                       {method, RequestBody(options)}, options);

    Text collected = CollectSetCookies(sink.headers);
    if (options.returnedHeaders != nullptr) {
        *options.returnedHeaders = sink.headers;
    }
    if (options.bodyTooLarge != nullptr) {
        *options.bodyTooLarge = sink.bodyTooLarge;
    }
    if (options.timedOut != nullptr) {
        *options.timedOut = sink.timedOut;
    }
    if (options.returnedCookies != nullptr) {
        *options.returnedCookies = collected;
    }
    if (options.mergeCookies.value_or(true) && options.cookies != nullptr) {
        *options.cookies = MergeCookies(*options.cookies, collected);
    }
    return std::move(sink.body);
}

Text FetchText(const Text& url, const Deadline& deadline) {
    return ToText(WebRequest(url, {.deadline = deadline}));
}

} // namespace pandrel
