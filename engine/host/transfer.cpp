// The requests of a task: launching them, checking each response before its first byte is
// written, writing at the right offset, and deciding what a finished request means.

#include "task.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

namespace dlengine {
namespace {

constexpr int64_t kMinPiece = 1 << 20;
constexpr int kMaxFailures = 10;
constexpr long kReceiveBuffer = 512 * 1024;
constexpr const char* kUserAgent = "dlengine/1.0";

size_t WriteCallback(char* data, size_t size, size_t count, void* user) {
    auto* c = static_cast<Connection*>(user);
    return c->task->OnData(c, data, size * count);
}

size_t HeaderCallback(char* data, size_t size, size_t count, void* user) {
    auto* c = static_cast<Connection*>(user);
    c->task->OnHeader(c, data, size * count);
    return size * count;
}

bool StartsWithNoCase(const std::string& line, const char* prefix) {
    const size_t n = std::strlen(prefix);
    return line.size() >= n && strncasecmp(line.data(), prefix, n) == 0;
}

std::string Trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return {};
    }
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

// "bytes 0-99/1000" gives start 0 and total 1000; "bytes 0-99/*" gives total -1.
void ParseContentRange(const std::string& value, int64_t* start, int64_t* total) {
    long long a = -1, b = -1, t = -1;
    if (std::sscanf(value.c_str(), "bytes %lld-%lld/%lld", &a, &b, &t) == 3 && a >= 0 && b >= a &&
        t > b) {
        *start = a;
        *total = t;
    } else if (std::sscanf(value.c_str(), "bytes %lld-%lld/*", &a, &b) == 2 && a >= 0 && b >= a) {
        *start = a;
        *total = -1;
    }
}

} // namespace

void Task::Launch(Segment* segment, bool probe) {
    auto owned = std::make_unique<Connection>();
    Connection* c = owned.get();
    c->task = this;
    c->probe = probe;
    c->segment = segment;
    CURL* e = c->easy = curl_easy_init();
    if (e == nullptr) {
        CountFailure(Verdict::Retry);
        return;
    }
    curl_easy_setopt(e, CURLOPT_URL, m_url.c_str());
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(e, CURLOPT_USERAGENT, kUserAgent);
    if (!m_referer.empty()) {
        curl_easy_setopt(e, CURLOPT_REFERER, m_referer.c_str());
    }
    if (!m_cookies.empty()) {
        curl_easy_setopt(e, CURLOPT_COOKIE, m_cookies.c_str());
    }
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, m_settings.connectTimeoutSec);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, m_settings.stallSec);
    curl_easy_setopt(e, CURLOPT_BUFFERSIZE, kReceiveBuffer);
    curl_easy_setopt(e, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, WriteCallback);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, c);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, HeaderCallback);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, c);
    curl_easy_setopt(e, CURLOPT_PRIVATE, c);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, c->error);

    std::string range;
    if (segment != nullptr) {
        c->requestStart = segment->pos;
        segment->owner = c;
        range = std::to_string(segment->pos) + "-" + std::to_string(segment->end - 1);
    } else if (!m_noRange) {
        range = "0-";
    }
    if (!range.empty()) {
        curl_easy_setopt(e, CURLOPT_RANGE, range.c_str()); // copied by libcurl
    }
    m_connections.push_back(std::move(owned));
    if (curl_multi_add_handle(m_multi, e) != CURLM_OK) {
        DropConnection(c);
        CountFailure(Verdict::Retry);
    }
}

// Opens as many requests as the task can use now. Until the server has answered in this run,
// only one request is out; while requests keep failing, only one at a time is retried.
void Task::LaunchDue() {
    if (m_mode != Mode::Ranged || !m_verified) {
        if (m_connections.empty()) {
            Segment* first = nullptr;
            for (Segment& s : m_segments) {
                if (s.owner == nullptr && s.pos < s.end) {
                    first = &s;
                    break;
                }
            }
            Launch(m_mode == Mode::Ranged ? first : nullptr, true);
        }
        return;
    }
    while (m_state == State::Running &&
           static_cast<int>(m_connections.size()) < m_settings.connections) {
        if (m_failures > 0 && !m_connections.empty()) {
            return;
        }
        Segment* free = nullptr;
        Segment* largest = nullptr;
        for (Segment& s : m_segments) {
            if (s.owner == nullptr && s.pos < s.end) {
                free = &s;
                break;
            }
            if (largest == nullptr || s.end - s.pos > largest->end - largest->pos) {
                largest = &s;
            }
        }
        if (free != nullptr) {
            Launch(free, false);
            continue;
        }
        // Take the second half of the largest piece, if both halves stay at least 1 MiB.
        if (largest == nullptr || largest->end - largest->pos < 2 * kMinPiece) {
            return;
        }
        const int64_t middle = largest->pos + (largest->end - largest->pos) / 2;
        auto it = std::find_if(m_segments.begin(), m_segments.end(),
                               [largest](const Segment& s) { return &s == largest; });
        auto added = m_segments.insert(std::next(it), Segment{middle, largest->end, nullptr});
        largest->end = middle;
        Launch(&*added, false);
    }
}

void Task::OnHeader(Connection* c, const char* line, size_t size) {
    const std::string text(line, size);
    if (StartsWithNoCase(text, "HTTP/")) {
        // A new response (after a redirect, or a 100 Continue): forget the previous head.
        const auto space = text.find(' ');
        c->status =
            space == std::string::npos ? 0 : std::strtol(text.c_str() + space + 1, nullptr, 10);
        c->rangeStart = c->rangeTotal = c->contentLength = -1;
        c->etag.clear();
        c->lastModified.clear();
        return;
    }
    const auto colon = text.find(':');
    if (colon == std::string::npos) {
        return;
    }
    const std::string name = text.substr(0, colon + 1);
    const std::string value = Trimmed(text.substr(colon + 1));
    if (StartsWithNoCase(name, "content-range:")) {
        ParseContentRange(value, &c->rangeStart, &c->rangeTotal);
    } else if (StartsWithNoCase(name, "content-length:")) {
        char* end = nullptr;
        const long long n = std::strtoll(value.c_str(), &end, 10);
        c->contentLength = (end != value.c_str() && *end == '\0' && n >= 0) ? n : -1;
    } else if (StartsWithNoCase(name, "etag:")) {
        c->etag = value;
    } else if (StartsWithNoCase(name, "last-modified:")) {
        c->lastModified = value;
    }
}

Verdict Task::Classify(const Connection* c) const {
    const long s = c->status;
    if (s == 401 || s == 403 || s == 404 || s == 410) {
        return Verdict::RefusedHttp;
    }
    if (s == 408 || s == 429 || s >= 500) {
        return Verdict::Retry;
    }
    if (s == 416 && c->probe && m_mode == Mode::Unknown && !m_noRange) {
        return Verdict::RetryNow; // an empty file cannot serve "bytes=0-": ask without a range
    }
    if (s >= 400) {
        return Verdict::RefusedHttp;
    }
    return Verdict::Retry;
}

bool Task::Preallocate(int64_t total) {
    m_creatingFile = true;
    const int fd = m_files.DataFd();
    // Drop old contents first so that a longer leftover file does not keep its tail.
    bool ok =
        ftruncate(fd, 0) == 0 && posix_fallocate(fd, 0, total) == 0 && ftruncate(fd, total) == 0;
    m_creatingFile = false;
    return ok;
}

// The first answer of a fresh download decides between ranged and single-connection mode.
bool Task::AcceptProbe(Connection* c) {
    if (c->status == 206 && c->rangeStart == 0 && c->rangeTotal > 0) {
        if (!Preallocate(c->rangeTotal)) {
            c->verdict = Verdict::Disk;
            return false;
        }
        m_mode = Mode::Ranged;
        m_verified = true;
        m_total = c->rangeTotal;
        m_etag = c->etag;
        m_lastModified = c->lastModified;
        m_segments.assign(1, Segment{0, m_total, c});
        c->segment = &m_segments.front();
        SaveProgress();
        return true;
    }
    if (c->status == 200 || (c->status == 206 && c->rangeStart == 0)) {
        if (ftruncate(m_files.DataFd(), 0) != 0) {
            c->verdict = Verdict::Disk;
            return false;
        }
        m_mode = Mode::Single;
        m_total = c->status == 200 ? c->contentLength : -1;
        m_singleWritten = 0;
        c->writePos = 0;
        return true;
    }
    c->verdict = Classify(c);
    if (c->verdict == Verdict::RetryNow) {
        m_noRange = true;
    }
    return false;
}

// The first answer after loading a progress record: the same size and validators, or the
// record is worthless and the download starts over.
bool Task::AcceptResumeProbe(Connection* c) {
    if (c->status == 206 && c->rangeStart == c->requestStart && c->rangeTotal == m_total &&
        (m_etag.empty() || c->etag.empty() || c->etag == m_etag) &&
        (m_lastModified.empty() || c->lastModified.empty() || c->lastModified == m_lastModified)) {
        m_verified = true;
        return true;
    }
    if (c->status == 200 || c->status == 206) {
        c->verdict = Verdict::StartOver;
        return false;
    }
    c->verdict = Classify(c);
    return false;
}

bool Task::Accept(Connection* c) {
    if (c->probe && m_mode == Mode::Unknown) {
        return AcceptProbe(c);
    }
    if (c->probe && m_mode == Mode::Ranged && !m_verified) {
        return AcceptResumeProbe(c);
    }
    if (c->status == 206 && c->rangeStart == c->requestStart && c->rangeTotal == m_total) {
        return true;
    }
    if (c->status == 206 && c->rangeTotal != m_total && c->rangeTotal > 0) {
        c->verdict = Verdict::RefusedHttp; // the file changed size under us
    } else if (c->status == 200 || c->status == 206) {
        c->verdict = Verdict::Retry;
    } else {
        c->verdict = Classify(c);
    }
    return false;
}

size_t Task::OnData(Connection* c, const char* data, size_t size) {
    if (!c->checked) {
        if (!Accept(c)) {
            return 0; // aborts the request; OnDone acts on the verdict
        }
        c->checked = true;
    }
    return m_mode == Mode::Ranged ? WriteRanged(c, data, size) : WriteSingle(c, data, size);
}

bool Task::WriteAt(Connection* c, const char* data, size_t size, int64_t offset) {
    while (size > 0) {
        const ssize_t n = pwrite(m_files.DataFd(), data, size, offset);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            c->verdict = Verdict::Disk;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

size_t Task::WriteRanged(Connection* c, const char* data, size_t size) {
    Segment* s = c->segment;
    if (s == nullptr) {
        return 0;
    }
    // The piece may have been cut short for another connection: write only up to its end,
    // then end this request.
    const size_t n =
        static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(size), s->end - s->pos));
    if (n > 0) {
        if (!WriteAt(c, data, n, s->pos)) {
            return 0;
        }
        s->pos += static_cast<int64_t>(n);
        m_received += static_cast<int64_t>(n);
        m_failures = 0;
        m_dirty = true;
        c->gotData = true;
    }
    return n;
}

size_t Task::WriteSingle(Connection* c, const char* data, size_t size) {
    if (m_total >= 0 && c->writePos + static_cast<int64_t>(size) > m_total) {
        c->verdict = Verdict::Retry; // more than the announced length
        return 0;
    }
    if (!WriteAt(c, data, size, c->writePos)) {
        return 0;
    }
    c->writePos += static_cast<int64_t>(size);
    m_singleWritten = c->writePos;
    m_received += static_cast<int64_t>(size);
    // A run that starts over only makes progress once it passes where the last one ended.
    if (c->writePos > m_singleBest) {
        m_singleBest = c->writePos;
        m_failures = 0;
    }
    c->gotData = true;
    return size;
}

void Task::OnDone(Connection* c, CURLcode code) {
    if (!c->checked && code == CURLE_OK && c->verdict == Verdict::None) {
        // An answer without a body (an empty file, or an error page without one).
        curl_easy_getinfo(c->easy, CURLINFO_RESPONSE_CODE, &c->status);
        c->checked = Accept(c);
    }
    Verdict verdict = c->verdict;
    if (verdict == Verdict::Disk) {
        Fail(DL_FAIL_DISK);
        return;
    }
    if (verdict == Verdict::RefusedHttp) {
        Fail(DL_FAIL_HTTP);
        return;
    }
    if (verdict == Verdict::None) {
        if (code == CURLE_URL_MALFORMAT || code == CURLE_UNSUPPORTED_PROTOCOL) {
            Fail(DL_FAIL_URL);
            return;
        }
        if (code == CURLE_TOO_MANY_REDIRECTS) {
            Fail(DL_FAIL_HTTP);
            return;
        }
    }
    if (verdict == Verdict::StartOver) {
        DropConnection(c);
        StartOver();
        m_nextAttempt = Clock::now();
        return;
    }
    bool success = false;
    if (m_mode == Mode::Ranged && c->segment != nullptr) {
        Segment* s = c->segment;
        if (s->pos >= s->end) {
            m_segments.remove_if([s](const Segment& x) { return &x == s; });
            c->segment = nullptr;
            success = true;
        }
    } else if (m_mode == Mode::Single && c->checked) {
        success = code == CURLE_OK && (m_total < 0 || c->writePos == m_total);
        DropConnection(c);
        if (success) {
            Complete();
            return;
        }
        // Without ranges nothing can be resumed: the retry starts from byte 0.
        StartOver();
        CountFailure(verdict == Verdict::None ? Verdict::Retry : verdict);
        return;
    }
    DropConnection(c);
    if (!success) {
        CountFailure(verdict == Verdict::None ? Verdict::Retry : verdict);
    }
    if (m_state == State::Running && m_mode == Mode::Ranged && m_verified && m_segments.empty() &&
        m_connections.empty()) {
        Complete();
    }
}

void Task::CountFailure(Verdict verdict) {
    if (m_state != State::Running) {
        return;
    }
    const auto now = Clock::now();
    if (verdict == Verdict::RetryNow) {
        m_nextAttempt = now;
        return;
    }
    if (++m_failures >= kMaxFailures) {
        Fail(DL_FAIL_NETWORK);
        return;
    }
    long delay = m_settings.backoffBaseMs;
    for (int i = 1; i < m_failures && delay < m_settings.backoffCapMs; ++i) {
        delay *= 2;
    }
    m_nextAttempt = now + std::chrono::milliseconds(std::min(delay, m_settings.backoffCapMs));
}

void Task::DropConnection(Connection* c) {
    if (c->segment != nullptr && c->segment->owner == c) {
        c->segment->owner = nullptr;
    }
    if (c->easy != nullptr) {
        curl_multi_remove_handle(m_multi, c->easy);
        curl_easy_cleanup(c->easy);
    }
    curl_slist_free_all(c->headers);
    std::erase_if(m_connections,
                  [c](const std::unique_ptr<Connection>& p) { return p.get() == c; });
}

void Task::DropAllConnections() {
    while (!m_connections.empty()) {
        DropConnection(m_connections.back().get());
    }
}

} // namespace dlengine
