#include "http/page_fetch.h"

#include <curl/curl.h>

#include <mutex>

#include "http/transfer.h"
#include "http/wire_url.h"
#include "runtime/text.h"

namespace pandrel {

namespace {

// The long-lived handle. It asks for the cookie store before it exists itself, so the store
// is torn down after it at process exit.
class PageFetcher {
public:
    PageFetcher() {
        detail::CookieStoreShare();
        CURL* handle = m_easy.get();
        m_headers = curl_slist_append(nullptr, "Accept: */*");
        if (handle == nullptr || m_headers == nullptr) {
            return;
        }
        // Set once: libcurl keeps options between transfers, and a reset would drop the list
        // of cookie sources without freeing it.
        curl_easy_setopt(handle, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
        curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(handle, CURLOPT_USERAGENT, kPageFetchUserAgent);
        curl_easy_setopt(handle, CURLOPT_HTTPHEADER, m_headers);
        curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
        detail::UseCookieStore(handle);
        m_ready = true;
    }
    ~PageFetcher() {
        curl_easy_setopt(m_easy.get(), CURLOPT_HTTPHEADER, nullptr);
        curl_slist_free_all(m_headers);
    }
    PageFetcher(const PageFetcher&) = delete;
    PageFetcher& operator=(const PageFetcher&) = delete;

    FetchedPage Fetch(const Text& url, const Deadline& deadline, std::size_t maxBytes) {
        std::lock_guard lock(m_mutex);
        if (!m_ready) {
            return {{}, 0, FetchFailure::Broken};
        }
        CURL* handle = m_easy.get();
        detail::TransferSink sink;
        sink.maxBodyBytes = maxBytes;
        if (!detail::ApplyCommonOptions(handle, sink, deadline)) {
            return {{}, 0, FetchFailure::TimedOut};
        }
        curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
        detail::Utf8LocaleScope utf8;
        const CURLcode result = curl_easy_perform(handle);
        long status = 0;
        curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
        if (result != CURLE_OK) {
            return {{}, status, FailureOf(handle, result, sink)};
        }
        return {std::move(sink.body), status, FetchFailure::None};
    }

private:
    static FetchFailure FailureOf(CURL* handle, CURLcode result, const detail::TransferSink& sink) {
        if (sink.bodyTooLarge || result == CURLE_FILESIZE_EXCEEDED) {
            return FetchFailure::TooLarge;
        }
        switch (result) {
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT:
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
            return FetchFailure::NoConnection;
        case CURLE_OPERATION_TIMEDOUT:
            return detail::TimedOut(handle, result, sink) ? FetchFailure::TimedOut
                                                          : FetchFailure::NoConnection;
        default:
            return FetchFailure::Broken;
        }
    }

    detail::EasyHandle m_easy;
    curl_slist* m_headers = nullptr;
    std::mutex m_mutex;
    bool m_ready = false;
};

bool IsWebScheme(const Text& url) {
    int separator = FindText(url, "://");
    if (separator == -1) {
        return false;
    }
    Text scheme = ToLower(LeftText(url, separator - 1));
    return scheme == "http" || scheme == "https";
}

} // namespace

Bytes FetchPageBytes(const Text& url, const Deadline& deadline) {
    return FetchPage(url, deadline, kMaxBodyBytes).body;
}

FetchedPage FetchPage(const Text& url, const Deadline& deadline, std::size_t maxBytes) {
    int hash = FindText(url, "#");
    Text withoutFragment = hash == -1 ? url : LeftText(url, hash - 1);
    if (withoutFragment.empty() || !IsWebScheme(withoutFragment)) {
        return {{}, 0, FetchFailure::Broken};
    }
    // One handle for the whole process, so that a page fetched again reuses its connection
    // whichever caller asks; made by the first fetch (a function-local static is initialised
    // once) and shared by every thread, which take turns on it under its mutex.
    static PageFetcher fetcher;
    return fetcher.Fetch(PageWireUrl(withoutFragment), deadline, maxBytes);
}

} // namespace pandrel
