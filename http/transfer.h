#pragma once

#include <curl/curl.h>
#include <locale.h>

#include <cstddef>
#include <memory>

#include "http/deadline.h"
#include "runtime/value_types.h"

namespace pandrel {

// Limits every request obeys, so a dead or hostile service can neither freeze the caller nor
// exhaust memory. A request that breaks one is abandoned and gives an empty result.
inline constexpr long kConnectTimeoutSeconds = 15;
inline constexpr long kStallSeconds = 30; // abandoned below 1 byte/s for this long
inline constexpr std::size_t kMaxBodyBytes = 64u * 1024 * 1024;
inline constexpr std::size_t kMaxHeaderBytes = 1024 * 1024;
inline constexpr long kMaxRedirects = 10;

// Test hooks; the program never calls them. Shorten the two time limits so a test of a
// silent peer ends quickly (values <= 0 restore the defaults).
void SetTimeoutsForTesting(long connectSeconds, long stallSeconds);
// Names a PEM file of extra trusted CAs, used beside the system store (which curl reads from
// its CA directory); empty restores the system store alone.
void SetExtraCaFileForTesting(const Text& path);

namespace detail {

// What one transfer gathered: the body and the final response's raw header block (status
// line and header lines joined by "\r\n"; each new response of a redirect chain or an
// interim 1xx response starts the block afresh).
struct TransferSink {
    Bytes body;
    Text headers;
    bool headersEnded = false;
    // For a HEAD that carries a body, which libcurl can only send as a renamed POST: the
    // transfer stops once the first final response's headers are in, since no body follows.
    bool endAfterHeaders = false;
    bool endedAfterHeaders = false;
    // The longest body taken (at most kMaxBodyBytes); a longer one, announced or arriving,
    // abandons the transfer and sets bodyTooLarge.
    std::size_t maxBodyBytes = kMaxBodyBytes;
    bool bodyTooLarge = false;
    // Abandoned for time: the deadline passed before the transfer, or ended it (TimedOut).
    bool timedOut = false;
    // Set by ApplyCommonOptions: the deadline comes before the connect time-out would, so a
    // connect that never completed was cut off by the deadline.
    bool deadlineBeforeConnectTimeout = false;
};

// Owns an easy handle; closed on destruction.
struct EasyHandle {
    EasyHandle();
    ~EasyHandle();
    EasyHandle(const EasyHandle&) = delete;
    EasyHandle& operator=(const EasyHandle&) = delete;
    CURL* get() const { return m_handle; }
    CURL* m_handle;
};

// Once per process, before the first handle.
void EnsureCurlReady();

// Owns a parsed URL of libcurl's URL parser.
struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using UrlHandle = std::unique_ptr<CURLU, UrlDeleter>;

// `address` parsed (blanks allowed), or null when libcurl's parser refuses it.
UrlHandle ParsedUrl(const Text& address);

// One part of a parsed URL, empty when it has none or cannot give it.
Text UrlPart(CURLU* url, CURLUPart part, unsigned int flags = 0);

// Text here is UTF-8 whatever the process's locale says, but libcurl turns an international
// host name into its ASCII form through a conversion that reads the calling thread's locale
// (in the "C" locale every such name fails). While one lives, this thread runs under C.UTF-8;
// the locale before is restored at its end. Other threads are not affected.
class Utf8LocaleScope {
public:
    Utf8LocaleScope();
    ~Utf8LocaleScope();
    Utf8LocaleScope(const Utf8LocaleScope&) = delete;
    Utf8LocaleScope& operator=(const Utf8LocaleScope&) = delete;

private:
    locale_t m_previous = nullptr;
};

// Time limits (the deadline, when there is one, among them), certificate checks, size limits,
// http/https only, and the callbacks that fill sink. Applied to every request of this library.
// sink.maxBodyBytes must be set before.
// False when the deadline has already passed: the request is not to be sent.
bool ApplyCommonOptions(CURL* handle, TransferSink& sink, const Deadline& deadline);

// Whether a transfer that ended with `result` was abandoned for time: the deadline passed,
// or the answer stalled after the request went out. libcurl gives the same code for a connect
// that did not complete within the connect time-out, which is no connection rather than a
// slow answer.
bool TimedOut(CURL* handle, CURLcode result, const TransferSink& sink);

// Joins the handle to the process-wide in-memory cookie store (the share handle with the
// cookie engine on): cookies it receives are kept, matching ones are sent.
void UseCookieStore(CURL* handle);

// The store's share handle, created on first use. A handle kept for the life of the process
// asks for it before its own creation, so the store outlives it.
CURLSH* CookieStoreShare();

} // namespace detail

} // namespace pandrel
