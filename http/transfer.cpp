#include "http/transfer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <fcntl.h>
#include <mutex>

namespace pandrel {

namespace {

// The test hooks' settings. Process-wide by nature: the request routine and the page fetch are
// plain procedures that any thread calls without an owner to ask, and a test changes the
// limits for every request its code under test makes. The two numbers are atomics; the CA
// file's path is read and written under its mutex. The program itself never changes them.
std::atomic<long> g_connectTimeout{kConnectTimeoutSeconds};
std::atomic<long> g_stallTime{kStallSeconds};
std::mutex g_caMutex;
Text g_extraCaFile;

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<detail::TransferSink*>(user);
    size_t length = size * count;
    if (sink->body.size() + length > sink->maxBodyBytes) {
        sink->bodyTooLarge = true;
        return 0; // a short count makes libcurl abandon the transfer
    }
    sink->body.insert(sink->body.end(), data, data + length);
    return length;
}

// libcurl opens its connections without close-on-exec: a program started while one is kept
// for the next request would hold it open for as long as it runs.
int MarkCloseOnExec(void*, curl_socket_t socket, curlsocktype) {
    const int flags = fcntl(socket, F_GETFD);
    return flags >= 0 && fcntl(socket, F_SETFD, flags | FD_CLOEXEC) == 0 ? CURL_SOCKOPT_OK
                                                                         : CURL_SOCKOPT_ERROR;
}

// A 1xx status line: another response follows on the same request.
bool IsInterimResponse(const Text& statusLine) {
    std::size_t space = statusLine.find(' ');
    return space != Text::npos && space + 1 < statusLine.size() && statusLine[space + 1] == '1';
}

size_t CollectHeader(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<detail::TransferSink*>(user);
    size_t length = size * count;
    Text line(data, length);
    line = line.substr(0, line.find('\0'));
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    if (line.rfind("HTTP/", 0) == 0) {
        sink->headers = line; // a new response: a redirect, a 1xx or a proxy's CONNECT answer
        sink->headersEnded = false;
    } else if (line.empty()) {
        sink->headersEnded = true;
        if (sink->endAfterHeaders && !IsInterimResponse(sink->headers)) {
            sink->endedAfterHeaders = true;
            return 0;
        }
    } else if (!sink->headersEnded) {
        sink->headers += "\r\n" + line;
    }
    if (sink->headers.size() > kMaxHeaderBytes) {
        return 0;
    }
    return length;
}

// The platform's own cookie store: one per process, in memory, shared by every request that
// does not bring cookies of its own, whatever thread sends it; that sharing is the store's
// job, so it cannot belong to any one caller. Lives until the process ends. libcurl takes
// the lock of each kind of shared data around every use through the callbacks below.
class CookieStore {
public:
    CookieStore() {
        m_share = curl_share_init();
        curl_share_setopt(m_share, CURLSHOPT_LOCKFUNC, &CookieStore::Lock);
        curl_share_setopt(m_share, CURLSHOPT_UNLOCKFUNC, &CookieStore::Unlock);
        curl_share_setopt(m_share, CURLSHOPT_USERDATA, this);
        curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    }
    ~CookieStore() { curl_share_cleanup(m_share); }
    CookieStore(const CookieStore&) = delete;
    CookieStore& operator=(const CookieStore&) = delete;

    CURLSH* Share() const { return m_share; }

private:
    static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* user) {
        static_cast<CookieStore*>(user)->m_locks[Index(data)].lock();
    }
    static void Unlock(CURL*, curl_lock_data data, void* user) {
        static_cast<CookieStore*>(user)->m_locks[Index(data)].unlock();
    }
    static std::size_t Index(curl_lock_data data) {
        auto index = static_cast<std::size_t>(data);
        return index < CURL_LOCK_DATA_LAST ? index : 0;
    }

    CURLSH* m_share;
    std::array<std::mutex, CURL_LOCK_DATA_LAST> m_locks;
};

// libcurl's built-in CA bundle; empty when it has none (then its CA directory serves alone).
// Asked once per process (a function-local static is initialised once, whichever thread comes
// first) and only read afterwards.
const Text& DefaultCaFile() {
    static const Text path = [] {
        detail::EnsureCurlReady();
        Text found;
        CURL* probe = curl_easy_init();
        char* builtIn = nullptr;
        if (probe != nullptr && curl_easy_getinfo(probe, CURLINFO_CAINFO, &builtIn) == CURLE_OK &&
            builtIn != nullptr) {
            found = builtIn;
        }
        curl_easy_cleanup(probe);
        return found;
    }();
    return path;
}

} // namespace

void SetTimeoutsForTesting(long connectSeconds, long stallSeconds) {
    g_connectTimeout = connectSeconds > 0 ? connectSeconds : kConnectTimeoutSeconds;
    g_stallTime = stallSeconds > 0 ? stallSeconds : kStallSeconds;
}

void SetExtraCaFileForTesting(const Text& path) {
    std::lock_guard lock(g_caMutex);
    g_extraCaFile = path;
}

namespace detail {

EasyHandle::EasyHandle() : m_handle(nullptr) {
    EnsureCurlReady();
    m_handle = curl_easy_init();
}

EasyHandle::~EasyHandle() {
    if (m_handle != nullptr) {
        curl_easy_cleanup(m_handle);
    }
}

Utf8LocaleScope::Utf8LocaleScope() {
    // Made once (a function-local static is initialised once, whichever thread comes first)
    // and kept for the life of the process; every thread may use it, since uselocale changes
    // only the calling thread.
    static const locale_t utf8 = newlocale(LC_ALL_MASK, "C.UTF-8", nullptr);
    if (utf8 != nullptr) {
        m_previous = uselocale(utf8);
    }
}

Utf8LocaleScope::~Utf8LocaleScope() {
    if (m_previous != nullptr) {
        uselocale(m_previous);
    }
}

UrlHandle ParsedUrl(const Text& address) {
    UrlHandle url(curl_url());
    if (url == nullptr ||
        curl_url_set(url.get(), CURLUPART_URL, address.c_str(), CURLU_ALLOW_SPACE) != CURLUE_OK) {
        return nullptr;
    }
    return url;
}

Text UrlPart(CURLU* url, CURLUPart part, unsigned int flags) {
    char* value = nullptr;
    if (curl_url_get(url, part, &value, flags) != CURLUE_OK || value == nullptr) {
        return {};
    }
    Text text = value;
    curl_free(value);
    return text;
}

void EnsureCurlReady() {
    // libcurl's global set-up must run once per process before any handle exists, and is not
    // itself thread-safe; call_once makes the first caller run it and every other wait.
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool ApplyCommonOptions(CURL* handle, TransferSink& sink, const Deadline& deadline) {
    long budgetMs = 0; // none: libcurl's whole-transfer time-out stays off
    if (deadline) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            *deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        budgetMs = static_cast<long>(left.count());
        sink.deadlineBeforeConnectTimeout = budgetMs < g_connectTimeout.load() * 1000;
    }
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, budgetMs);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, g_connectTimeout.load());
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, g_stallTime.load());
    sink.maxBodyBytes = std::min(sink.maxBodyBytes, kMaxBodyBytes);
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(sink.maxBodyBytes));
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(handle, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(handle, CURLOPT_SOCKOPTFUNCTION, &MarkCloseOnExec);
    {
        // Always set, so a handle that is used again never keeps a file a test named earlier.
        std::lock_guard lock(g_caMutex);
        const Text& caFile = g_extraCaFile.empty() ? DefaultCaFile() : g_extraCaFile;
        curl_easy_setopt(handle, CURLOPT_CAINFO, caFile.empty() ? nullptr : caFile.c_str());
    }
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &WriteBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &CollectHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &sink);
    return true;
}

CURLSH* CookieStoreShare() {
    EnsureCurlReady();
    // The process's one store (see CookieStore), made by its first user.
    static CookieStore store;
    return store.Share();
}

void UseCookieStore(CURL* handle) {
    curl_easy_setopt(handle, CURLOPT_SHARE, CookieStoreShare());
    curl_easy_setopt(handle, CURLOPT_COOKIEFILE, "");
}

bool TimedOut(CURL* handle, CURLcode result, const TransferSink& sink) {
    if (result != CURLE_OPERATION_TIMEDOUT) {
        return false;
    }
    long requestBytes = 0;
    curl_easy_getinfo(handle, CURLINFO_REQUEST_SIZE, &requestBytes);
    return requestBytes > 0 || sink.deadlineBeforeConnectTimeout;
}

} // namespace detail

} // namespace pandrel
