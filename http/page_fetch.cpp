#include "http/page_fetch.h"

#include <curl/curl.h>

#include <mutex>

#include "http/transfer.h"
#include "http/url_parts.h"
#include "runtime/text.h"

namespace pandrel {

namespace {

// The long-lived handle. It asks for the cookie store before it exists itself, so the store
// is torn down after it at process exit.
class PageFetcher {
public:
    PageFetcher() { detail::CookieStoreShare(); }

    Bytes Fetch(const Text& url) {
        std::lock_guard lock(m_mutex);
        CURL* handle = m_easy.get();
        if (handle == nullptr) {
            return {};
        }
        // A reset clears the options but keeps the live connection for the next call.
        curl_easy_reset(handle);
        detail::TransferSink sink;
        detail::ApplyCommonOptions(handle, sink);
        detail::UseCookieStore(handle);
        curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
        curl_easy_setopt(handle, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
        curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(handle, CURLOPT_USERAGENT, kPageFetchUserAgent);
        curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
        curl_slist* headers = curl_slist_append(nullptr, "Accept: */*");
        curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
        CURLcode result = curl_easy_perform(handle);
        curl_easy_setopt(handle, CURLOPT_HTTPHEADER, nullptr);
        curl_slist_free_all(headers);
        if (result != CURLE_OK) {
            return {};
        }
        return std::move(sink.body);
    }

private:
    detail::EasyHandle m_easy;
    std::mutex m_mutex;
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

Bytes FetchPageBytes(const Text& url) {
    int hash = FindText(url, "#");
    Text withoutFragment = hash == -1 ? url : LeftText(url, hash - 1);
    if (withoutFragment.empty() || !IsWebScheme(withoutFragment)) {
        return {};
    }
    static PageFetcher fetcher;
    return fetcher.Fetch(EncodeUrlForWire(withoutFragment));
}

} // namespace pandrel
