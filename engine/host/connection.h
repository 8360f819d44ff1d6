#pragma once

#include "curl_handles.h"
#include "work_plan.h"

#include <chrono>
#include <cstdint>
#include <curl/curl.h>
#include <optional>
#include <string>

namespace dlengine {

using Clock = std::chrono::steady_clock;

class Task;

// A part of the file still to fetch: [pos, end). Every byte before `pos` is on disk. `users`
// counts the connections filling it: one, or two while the end game races it.
struct Segment {
    int64_t pos = 0;
    int64_t end = 0;
    int users = 0;
};

// Why a connection ended early, decided inside libcurl's callbacks (which must not touch the
// multi handle) and acted on when libcurl reports the transfer done.
// Changed: the answer belongs to another version of the file than the bytes already kept.
// Spare: a first request that is not needed after all (another one decided), or that asked
// for a part past the end of the file; it ends without counting as a failure.
enum class Verdict { None, Retry, RetryNow, Changed, RefusedHttp, Disk, Spare };

// One HTTP request of a task. It owns its libcurl handle and header list; while the handle
// runs in the host's multi handle, going away takes it out of there first.
struct Connection {
    Connection() = default;
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Hands the request to `multi`, which runs it from the next pass of the loop on.
    bool Attach(CURLM* multi);

    Task* task = nullptr;
    HeaderList headers; // declared first: it outlives the handle that points at it
    EasyHandle easy;
    Segment* segment = nullptr; // ranged downloads only
    bool probe = false;         // a first request, which learns size and range support
    bool racer = false;         // a second connection on a piece, in the end game
    // About a round trip from the end of its piece, the request that follows it is open
    // already: this one no longer counts against the task's connections.
    bool retiring = false;
    Clock::time_point launched{};
    // The response head must be in by headSince + the head deadline; a redirect followed
    // starts the wait for the next head anew.
    Clock::time_point headSince{};
    bool headDone = false;
    Clock::time_point firstData{};
    int64_t askedEnd = -1; // the probe: end of the range it asked for, -1 when open
    int64_t requestStart = 0;
    int64_t writePos = 0; // offset of the next byte this response delivers
    // Speed watch: bytes delivered (kept or not), and the window they are measured over.
    int64_t delivered = 0;
    int64_t windowBytes = 0;
    Clock::time_point windowStart{};
    ConnectionPace pace;
    bool checked = false; // the response was accepted
    bool gotData = false;
    Verdict verdict = Verdict::None;
    // The last response's head (redirects reset it).
    long status = 0;
    int64_t rangeStart = -1;
    int64_t rangeTotal = -1; // -1: no Content-Range or "*"
    int64_t contentLength = -1;
    std::string etag;
    std::string lastModified;
    char error[CURL_ERROR_SIZE] = {};

private:
    CURLM* m_multi = nullptr; // the multi handle running `easy`, once attached
};

// A connection's speed: measured, or estimated from its first bytes once there is a base.
std::optional<double> EstimatedRate(const Connection& c, Clock::time_point now);

} // namespace dlengine
