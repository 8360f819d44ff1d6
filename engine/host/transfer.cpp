// The requests of a task: launching them, reading their heads, writing each byte at its
// offset once the answer is accepted (answer_check.cpp), and deciding what a finished request
// means.

#include "task.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <strings.h>
#include <unistd.h>

namespace dlengine {
namespace {

constexpr int64_t kProgressPerRequest = 64 * 1024;
constexpr long kReceiveBuffer = 512 * 1024;
constexpr const char* kUserAgent = "dlengine/1.0";
// A request's successor opens this many round trips before the request ends (at its speed),
// and never later than kMinLead before: the loop needs a moment to send it.
constexpr double kLeadRoundTrips = 1.5;
constexpr double kMinLead = 0.01;
// A server may count a request a moment after its last byte (or after the client left it):
// requests that ended this recently may still hold a place there.
constexpr auto kReleaseGrace = std::chrono::milliseconds(500);
// After a refusal, new requests wait this long: a place the server still holds for a request
// that just ended is free by then.
constexpr auto kRefusalPause = std::chrono::milliseconds(200);

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

void Task::Launch(Segment* segment, bool probe, int64_t probeStart) {
    auto owned = std::make_unique<Connection>();
    Connection* c = owned.get();
    c->task = this;
    c->probe = probe;
    c->segment = segment;
    c->easy.reset(curl_easy_init());
    CURL* e = c->easy.get();
    if (e == nullptr) {
        CountFailure(Verdict::Retry);
        return;
    }
    curl_easy_setopt(e, CURLOPT_URL, m_target.url.c_str());
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(e, CURLOPT_USERAGENT, kUserAgent);
    if (!m_target.referer.empty()) {
        curl_easy_setopt(e, CURLOPT_REFERER, m_target.referer.c_str());
    }
    if (!m_target.cookies.empty()) {
        curl_easy_setopt(e, CURLOPT_COOKIE, m_target.cookies.c_str());
    }
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, m_settings.connectTimeoutSec);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, m_settings.lowSpeedBytes);
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
    c->launched = c->windowStart = c->headSince = Clock::now();
    if (segment != nullptr) {
        c->requestStart = c->writePos = segment->pos;
        c->racer = segment->users > 0;
        ++segment->users;
        range = std::to_string(segment->pos) + "-" + std::to_string(segment->end - 1);
    } else if (!m_noRange) {
        c->requestStart = c->writePos = probeStart;
        c->askedEnd = m_openProbe ? -1 : probeStart + kFirstSpan;
        range = std::to_string(probeStart) + "-" +
                (m_openProbe ? std::string() : std::to_string(c->askedEnd - 1));
    }
    if (!range.empty()) {
        curl_easy_setopt(e, CURLOPT_RANGE, range.c_str()); // copied by libcurl
        // Every request after the first asks for its range of the version already kept: a
        // server that holds another version by now answers with the whole new file instead.
        const std::string validator = m_version.IfRangeValidator();
        if (!(probe && m_mode == Mode::Unknown) && !validator.empty()) {
            AppendHeader(c->headers, ("If-Range: " + validator).c_str());
            curl_easy_setopt(e, CURLOPT_HTTPHEADER, c->headers.get());
        }
    }
    m_connections.Keep(std::move(owned));
    if (!c->Attach(m_multi)) {
        m_connections.Drop(c);
        CountFailure(Verdict::Retry);
    }
}

void Task::OnHeader(Connection* c, const char* line, size_t size) {
    m_loop.Assert();
    const std::string text(line, size);
    if (StartsWithNoCase(text, "HTTP/")) {
        if (c->status == 0) {
            // The round trip to the server as this task meets it, connection set-up included.
            const double seconds =
                std::chrono::duration<double>(Clock::now() - c->launched).count();
            m_roundTrip = m_roundTrip > 0 ? 0.7 * m_roundTrip + 0.3 * seconds : seconds;
        }
        // A new response (after a redirect, or a 100 Continue): forget the previous head. A
        // redirect's next request was sent just now: its head has the whole deadline again.
        if (c->headDone) {
            c->headDone = false;
            c->headSince = Clock::now();
        }
        const auto space = text.find(' ');
        c->status =
            space == std::string::npos ? 0 : std::strtol(text.c_str() + space + 1, nullptr, 10);
        c->rangeStart = c->rangeTotal = c->contentLength = -1;
        c->etag.clear();
        c->lastModified.clear();
        return;
    }
    if (text == "\r\n" || text == "\n") {
        c->headDone = c->status >= 200; // an interim 1xx head is followed by the real one
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

size_t Task::OnData(Connection* c, const char* data, size_t size) {
    m_loop.Assert();
    if (c->verdict == Verdict::Spare) {
        return 0; // ends the request
    }
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

// Writes the part of a chunk that lies in the connection's piece and is not on disk yet. Two
// connections may fill one piece (the end game); whichever delivers a byte first writes it and
// the other skips it, so no byte is ever written twice.
size_t Task::WriteRanged(Connection* c, const char* data, size_t size) {
    Segment* s = c->segment;
    if (s == nullptr || c->writePos >= s->end) {
        return 0; // the piece was cut short for another connection or is done: end the request
    }
    if (!c->gotData) {
        c->gotData = true;
        c->firstData = Clock::now();
    }
    // Take at most what is left of the piece; the rest of the chunk belongs to another piece.
    const auto n =
        static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(size), s->end - c->writePos));
    const int64_t chunkEnd = c->writePos + static_cast<int64_t>(n);
    if (chunkEnd > s->pos) {
        // writePos never passes s->pos: the piece's bytes arrive in order on each connection.
        const int64_t skip = s->pos - c->writePos;
        const auto fresh = static_cast<size_t>(chunkEnd - s->pos);
        if (!WriteAt(c, data + skip, fresh, s->pos)) {
            return 0;
        }
        s->pos = chunkEnd;
        m_speed.Count(static_cast<int64_t>(fresh));
        StartWriteBack(fresh);
        m_retries.Progressed();
        m_saves.MarkDirty();
    }
    c->writePos = chunkEnd;
    c->delivered += static_cast<int64_t>(n);
    RetireNearTheEnd(c);
    return n;
}

// Marks a connection whose piece ends within about a round trip at its speed: the next tick
// opens the request that follows it, so that its answer arrives as this one ends rather than
// a round trip later.
void Task::RetireNearTheEnd(Connection* c) {
    const int64_t left = c->segment->end - c->writePos;
    if (c->retiring || left <= 0) {
        return;
    }
    const auto now = Clock::now();
    const double since = std::chrono::duration<double>(now - c->firstData).count();
    const double rate =
        EstimatedRate(*c, now).value_or(static_cast<double>(c->delivered) / std::max(since, 0.5));
    if (static_cast<double>(left) <= rate * std::max(kMinLead, kLeadRoundTrips * m_roundTrip)) {
        c->retiring = true;
        m_launchWanted = true;
    }
}

size_t Task::WriteSingle(Connection* c, const char* data, size_t size) {
    if (m_version.total >= 0 && c->writePos + static_cast<int64_t>(size) > m_version.total) {
        c->verdict = Verdict::Retry; // more than the announced length
        return 0;
    }
    if (!WriteAt(c, data, size, c->writePos)) {
        return 0;
    }
    c->writePos += static_cast<int64_t>(size);
    m_singleWritten = c->writePos;
    m_speed.Count(static_cast<int64_t>(size));
    StartWriteBack(size);
    // A run that starts over only makes progress once it passes where the last one ended.
    if (c->writePos > m_singleBest) {
        m_singleBest = c->writePos;
        m_retries.Progressed();
    }
    c->gotData = true;
    return size;
}

void Task::OnDone(Connection* c, CURLcode code) {
    m_loop.Assert();
    if (!c->checked && code == CURLE_OK && c->verdict == Verdict::None) {
        // An answer without a body (an empty file, or an error page without one).
        curl_easy_getinfo(c->easy.get(), CURLINFO_RESPONSE_CODE, &c->status);
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
    if (verdict == Verdict::Changed) {
        m_connections.Drop(c);
        OnFileChanged();
        return;
    }
    if (verdict == Verdict::Spare || SpareFirstRequest(c, verdict)) {
        m_connections.Drop(c); // not needed, and not a failure
        CarryOn();
        return;
    }
    if (m_mode == Mode::Ranged && m_verified && RefusedWhileOthersRun(c, code)) {
        // The server serves this task's other requests but refuses one more: it has shown its
        // limit. Not a failure: the piece waits for a connection the server already serves.
        const auto now = Clock::now();
        const int othersOpen = static_cast<int>(m_connections.size()) - 1 +
                               m_connections.EndedWithin(now, kReleaseGrace);
        m_connections.Drop(c);
        m_steps.Refused(othersOpen);
        m_retries.WaitUntil(now + kRefusalPause);
        CarryOn();
        return;
    }
    bool success = false;
    if (m_mode == Mode::Ranged && c->segment != nullptr) {
        Segment* s = c->segment;
        if (s->pos >= s->end) {
            FinishSegment(s); // drops c with any racer
            success = true;
            c = nullptr;
        }
    } else if (m_mode == Mode::Single && c->checked) {
        success = code == CURLE_OK && (m_version.total < 0 || c->writePos == m_version.total);
        m_connections.Drop(c);
        if (success) {
            Complete();
            return;
        }
        // Without ranges nothing can be resumed: the retry starts from byte 0.
        StartOver();
        CountFailure(verdict == Verdict::None ? Verdict::Retry : verdict);
        return;
    }
    // A request that brought a good share of its piece before it broke is an ordinary drop
    // (servers close long transfers): its piece goes straight to a new request, no back-off.
    const bool madeProgress = c != nullptr && c->delivered >= kProgressPerRequest;
    const Clock::time_point launched = c != nullptr ? c->launched : Clock::now();
    if (c != nullptr) {
        m_connections.Drop(c);
    }
    if (!success) {
        CountFailure(madeProgress               ? Verdict::RetryNow
                     : verdict == Verdict::None ? Verdict::Retry
                                                : verdict,
                     launched);
    }
    CarryOn();
}

// After a request ended: the download is complete once no piece and no request is left;
// otherwise a freed slot goes back to work at once rather than at the next tick.
void Task::CarryOn() {
    if (m_state == State::Running && m_mode == Mode::Ranged && m_verified && m_segments.empty() &&
        m_connections.empty()) {
        Complete();
        return;
    }
    if (m_state == State::Running && m_retries.Due(Clock::now())) {
        LaunchDue();
    }
}

// A refusal that says "no more" rather than "no": 503 or 429, or a connection refused or reset
// before any answer, while another request of the task is receiving, or just after one ended
// (the server may free its place a moment after the last byte, and the requests that follow
// it may not have their first bytes yet).
bool Task::RefusedWhileOthersRun(const Connection* c, CURLcode code) const {
    if (c->gotData) {
        return false;
    }
    const bool noMore =
        c->status == 503 || c->status == 429 ||
        (c->status == 0 && (code == CURLE_COULDNT_CONNECT || code == CURLE_GOT_NOTHING ||
                            code == CURLE_RECV_ERROR || code == CURLE_SEND_ERROR));
    return noMore &&
           (m_connections.EndedWithin(Clock::now(), kReleaseGrace) > 0 ||
            std::any_of(m_connections.begin(), m_connections.end(),
                        [c](const auto& other) { return other.get() != c && other->gotData; }));
}

void Task::CountFailure(Verdict verdict, Clock::time_point launched) {
    if (m_state != State::Running) {
        return;
    }
    const auto now = Clock::now();
    if (verdict == Verdict::RetryNow) {
        m_retries.RetryAt(now);
    } else if (!m_retries.Count(launched, now)) {
        Fail(DL_FAIL_NETWORK);
    }
}

} // namespace dlengine
