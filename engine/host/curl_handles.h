#pragma once

#include <curl/curl.h>
#include <memory>

namespace dlengine {

// Owners of libcurl's handles: each is released exactly once, however its owner goes.

struct EasyCleanup {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;

struct MultiCleanup {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
using MultiHandle = std::unique_ptr<CURLM, MultiCleanup>;

struct HeaderListFree {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, HeaderListFree>;

// Appends a header line; the list stays as it was when libcurl runs out of memory.
inline void AppendHeader(HeaderList& list, const char* line) {
    if (curl_slist* grown = curl_slist_append(list.get(), line)) {
        list.release();
        list.reset(grown);
    }
}

// libcurl's process-wide set-up, for as long as this lives. Made once, by the host's loop
// before any other thread starts.
class CurlGlobal {
public:
    CurlGlobal() : m_ok(curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK) {}
    ~CurlGlobal() {
        if (m_ok) {
            curl_global_cleanup();
        }
    }
    CurlGlobal(const CurlGlobal&) = delete;
    CurlGlobal& operator=(const CurlGlobal&) = delete;
    bool Ok() const { return m_ok; }

private:
    bool m_ok;
};

} // namespace dlengine
