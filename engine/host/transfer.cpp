// The requests of a task: launching them, checking each response before its first byte is
// written, writing at the right offset, and deciding what a finished request means.

#include "task.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dlengine {
namespace {

constexpr int kMaxFailures = 10;
constexpr int64_t kProgressPerRequest = 64 * 1024;
constexpr int64_t kWriteBackEvery = 32 << 20;
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
        const std::string validator = IfRangeValidator();
        if (!(probe && m_mode == Mode::Unknown) && !validator.empty()) {
            c->headers = curl_slist_append(c->headers, ("If-Range: " + validator).c_str());
            curl_easy_setopt(e, CURLOPT_HTTPHEADER, c->headers);
        }
    }
    m_connections.push_back(std::move(owned));
    if (curl_multi_add_handle(m_multi, e) != CURLM_OK) {
        DropConnection(c);
        CountFailure(Verdict::Retry);
    }
}

void Task::OnHeader(Connection* c, const char* line, size_t size) {
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

Verdict Task::Classify(const Connection* c) const {
    const long s = c->status;
    if (s == 401 || s == 403 || s == 404 || s == 410) {
        return Verdict::RefusedHttp;
    }
    if (s == 408 || s == 429 || s >= 500) {
        return Verdict::Retry;
    }
    if (s == 416 && c->probe && m_mode == Mode::Unknown && !m_noRange && c->requestStart == 0) {
        return Verdict::RetryNow; // an empty file cannot serve "bytes=0-": ask without a range
    }
    if (s >= 400) {
        return Verdict::RefusedHttp;
    }
    return Verdict::Retry;
}

// Reserves the whole file on disk, but only a size the disk can hold with its margin kept: a
// server's claim alone must never fill the disk. Nothing is written yet, so a refused or
// failed reservation leaves the file empty, without a reserved block.
bool Task::Preallocate(int64_t total) {
    const int fd = m_files.DataFd();
    struct stat st {};
    const int64_t held = fstat(fd, &st) == 0 ? static_cast<int64_t>(st.st_blocks) * 512 : 0;
    if (!HasRoomFor(fd, total, held)) {
        return false;
    }
    m_creatingFile = true;
    // Drop old contents first so that a longer leftover file does not keep its tail.
    bool ok =
        ftruncate(fd, 0) == 0 && posix_fallocate(fd, 0, total) == 0 && ftruncate(fd, total) == 0;
    if (!ok) {
        [[maybe_unused]] const int dropped = ftruncate(fd, 0);
    }
    m_creatingFile = false;
    return ok;
}

// The first answer of a fresh download decides between ranged and single-connection mode.
// Several first requests may be out at once (LaunchDue): whichever answers first decides, the
// others keep the parts they asked for, or end when the file has no such part.
bool Task::AcceptProbe(Connection* c) {
    if (c->status == 206 && c->rangeStart == c->requestStart && c->rangeTotal > 0) {
        if (!Preallocate(c->rangeTotal)) {
            c->verdict = Verdict::Disk;
            return false;
        }
        m_mode = Mode::Ranged;
        m_verified = true;
        m_launchWanted = true; // the other connections can open now
        m_total = c->rangeTotal;
        m_etag = c->etag;
        m_lastModified = c->lastModified;
        PlaceFirstRequests();
        RequestFlush(false); // the record exists from the start
        return true;
    }
    if (c->status == 206 && c->rangeStart == c->requestStart && c->askedEnd > 0) {
        // A part without the file's total: only a request to the end tells where it ends.
        m_openProbe = true;
        SpareOtherFirstRequests(c);
        c->verdict = Verdict::RetryNow;
        return false;
    }
    if (c->status == 200 || (c->status == 206 && c->rangeStart == 0)) {
        // A length the disk cannot hold fails now rather than after filling the disk.
        const bool fits = c->status != 200 || c->contentLength < 0 ||
                          HasRoomFor(m_files.DataFd(), c->contentLength, 0);
        if (!fits || ftruncate(m_files.DataFd(), 0) != 0) {
            c->verdict = Verdict::Disk;
            return false;
        }
        m_mode = Mode::Single;
        m_rangesIgnored = c->status == 200 && !m_noRange;
        m_total = c->status == 200 ? c->contentLength : -1;
        m_singleWritten = 0;
        c->writePos = 0;
        SpareOtherFirstRequests(c);
        return true;
    }
    if (c->status == 416 && c->requestStart > 0) {
        c->verdict = Verdict::Spare; // past the end of a small file: the first one decides
        return false;
    }
    c->verdict = Classify(c);
    if (c->verdict == Verdict::RetryNow) {
        m_noRange = true;
    }
    return false;
}

// For a record of another link: the answer must name the very version the record kept, by
// its strong ETag or else by its Last-Modified. An answer that leaves the validator out
// confirms nothing.
bool Task::NamesRecordedVersion(const Connection* c) const {
    if (!m_etag.empty() && m_etag.rfind("W/", 0) != 0) {
        return c->etag == m_etag;
    }
    return !m_lastModified.empty() && c->lastModified == m_lastModified;
}

// The first requests keep the parts they asked for; what lies between and after them is free,
// and one that starts past the end of the file is not needed.
void Task::PlaceFirstRequests() {
    std::vector<Connection*> firsts;
    for (const auto& other : m_connections) {
        if (other->probe && other->verdict != Verdict::Spare) {
            firsts.push_back(other.get());
        }
    }
    std::sort(firsts.begin(), firsts.end(), [](const Connection* a, const Connection* b) {
        return a->requestStart < b->requestStart;
    });
    m_segments.clear();
    int64_t pos = 0;
    for (Connection* first : firsts) {
        if (first->requestStart >= m_total) {
            first->verdict = Verdict::Spare;
            continue;
        }
        const int64_t end = first->askedEnd > 0 ? std::min(first->askedEnd, m_total) : m_total;
        if (first->requestStart > pos) {
            m_segments.push_back(Segment{pos, first->requestStart, 0});
        }
        m_segments.push_back(Segment{first->requestStart, end, 1});
        first->segment = &m_segments.back();
        pos = end;
    }
    if (pos < m_total) {
        m_segments.push_back(Segment{pos, m_total, 0});
    }
}

// The other first requests are not needed: the file is fetched otherwise.
void Task::SpareOtherFirstRequests(const Connection* c) {
    for (const auto& other : m_connections) {
        if (other.get() != c && other->probe) {
            other->verdict = Verdict::Spare;
        }
    }
}

// A first request that failed while another first request is still out: that one decides,
// and the part this one asked for stays free for later requests.
bool Task::SpareFirstRequest(const Connection* c, Verdict verdict) const {
    if (!c->probe || m_verified || (verdict != Verdict::None && verdict != Verdict::Retry)) {
        return false;
    }
    return std::any_of(m_connections.begin(), m_connections.end(), [c](const auto& other) {
        return other.get() != c && other->probe && other->verdict != Verdict::Spare;
    });
}

// A weak ETag cannot stand in a range request: then Last-Modified, or nothing.
std::string Task::IfRangeValidator() const {
    if (!m_etag.empty() && m_etag.rfind("W/", 0) != 0) {
        return m_etag;
    }
    return m_lastModified;
}

// False when the answer names another version than the one kept. A validator the answer
// leaves out is not held against it; a server without validators is checked by size alone.
bool Task::SameVersion(const Connection* c) const {
    return (m_etag.empty() || c->etag.empty() || c->etag == m_etag) &&
           (m_lastModified.empty() || c->lastModified.empty() || c->lastModified == m_lastModified);
}

// The first answer after loading a progress record: the same size and validators, or the
// record is worthless and the download starts over.
bool Task::AcceptResumeProbe(Connection* c) {
    if (c->status == 206 && c->rangeStart == c->requestStart && c->rangeTotal == m_total &&
        SameVersion(c) && (!m_recordForeign || NamesRecordedVersion(c))) {
        m_verified = true;
        m_recordForeign = false; // from now on the progress is this link's own
        m_launchWanted = true;   // the other connections can open now
        return true;
    }
    if (c->status == 200 || c->status == 206) {
        c->verdict = Verdict::Changed;
        return false;
    }
    c->verdict = Classify(c);
    return false;
}

// Every later answer: its range of the same version, or a sign that the file changed (another
// validator, another size, or the whole file for a ranged request).
bool Task::Accept(Connection* c) {
    if (c->probe && m_mode == Mode::Unknown) {
        return AcceptProbe(c);
    }
    if (c->probe && m_mode == Mode::Ranged && !m_verified) {
        return AcceptResumeProbe(c);
    }
    if (c->status == 206 && c->rangeTotal > 0 && (c->rangeTotal != m_total || !SameVersion(c))) {
        c->verdict = Verdict::Changed;
    } else if (c->status == 206 && c->rangeStart == c->requestStart && c->rangeTotal == m_total) {
        return true;
    } else if (c->status == 200) {
        c->verdict = Verdict::Changed;
    } else if (c->status == 206) {
        c->verdict = Verdict::Retry;
    } else {
        c->verdict = Classify(c);
    }
    return false;
}

size_t Task::OnData(Connection* c, const char* data, size_t size) {
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

// Every few MiB written, the flusher is asked to put them on disk (and to record them) while
// the download goes on; when it is still busy with the last request, the kernel is at least
// asked to start writing them out. The final flush before the file takes its name then has
// little left to do, and the page cache does not fill with a whole large download.
void Task::StartWriteBack(size_t written) {
    m_unflushed += static_cast<int64_t>(written);
    if (m_unflushed < kWriteBackEvery) {
        return;
    }
    m_unflushed = 0;
    if (m_flushesInFlight == 0) {
        RequestFlush(false);
    } else {
        sync_file_range(m_files.DataFd(), 0, 0, SYNC_FILE_RANGE_WRITE);
    }
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
        m_received += static_cast<int64_t>(fresh);
        StartWriteBack(fresh);
        m_failures = 0;
        m_dirty = true;
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
    StartWriteBack(size);
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
    if (verdict == Verdict::Changed) {
        DropConnection(c);
        OnFileChanged();
        return;
    }
    if (verdict == Verdict::Spare || SpareFirstRequest(c, verdict)) {
        DropConnection(c); // not needed, and not a failure
        CarryOn();
        return;
    }
    if (m_mode == Mode::Ranged && m_verified && RefusedWhileOthersRun(c, code)) {
        // The server serves this task's other requests but refuses one more: it has shown its
        // limit. Not a failure: the piece waits for a connection the server already serves.
        const auto now = Clock::now();
        PolicyEvent refused;
        refused.kind = PolicyEvent::Kind::Refused;
        refused.othersOpen = static_cast<int>(m_connections.size()) - 1 + RecentlyServed(now);
        DropConnection(c);
        m_policy = NextPolicy(m_policy, refused);
        m_nextAttempt = std::max(m_nextAttempt, now + kRefusalPause);
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
    // A request that brought a good share of its piece before it broke is an ordinary drop
    // (servers close long transfers): its piece goes straight to a new request, no back-off.
    const bool madeProgress = c != nullptr && c->delivered >= kProgressPerRequest;
    const Clock::time_point launched = c != nullptr ? c->launched : Clock::now();
    if (c != nullptr) {
        DropConnection(c);
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
    if (m_state == State::Running && Clock::now() >= m_nextAttempt) {
        LaunchDue();
    }
}

// Requests of the task the server served to their end within the last kReleaseGrace: it may
// still count them.
int Task::RecentlyServed(Clock::time_point now) const {
    return static_cast<int>(std::count_if(m_recentEnds.begin(), m_recentEnds.end(),
                                          [now](auto end) { return now - end <= kReleaseGrace; }));
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
           (RecentlyServed(Clock::now()) > 0 ||
            std::any_of(m_connections.begin(), m_connections.end(),
                        [c](const auto& other) { return other.get() != c && other->gotData; }));
}

void Task::CountFailure(Verdict verdict, Clock::time_point launched) {
    if (m_state != State::Running) {
        return;
    }
    const auto now = Clock::now();
    if (verdict == Verdict::RetryNow) {
        m_nextAttempt = now;
        return;
    }
    // Requests that were already out when a failure was counted fail of the same cause (a
    // server outage ends every connection at once): they count as that one failure.
    if (launched < m_lastFailure) {
        return;
    }
    m_lastFailure = now;
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
    if (c->segment != nullptr) {
        --c->segment->users;
    }
    if (c->gotData) {
        m_recentEnds.push_back(Clock::now());
        if (m_recentEnds.size() > static_cast<size_t>(kMaxConnections)) {
            m_recentEnds.pop_front();
        }
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
