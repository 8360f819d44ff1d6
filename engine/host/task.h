#pragma once

#include "connection_policy.h"
#include "disk_flusher.h"
#include "dlengine.h"
#include "progress_file.h"
#include "settings.h"
#include "task_files.h"
#include "work_plan.h"

#include <chrono>
#include <cstdint>
#include <curl/curl.h>
#include <deque>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace dlengine {

using Clock = std::chrono::steady_clock;

struct Connection;

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

// One HTTP request of a task.
struct Connection {
    class Task* task = nullptr;
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
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
};

// A connection's speed: measured, or estimated from its first bytes once there is a base.
std::optional<double> EstimatedRate(const Connection& c, Clock::time_point now);

// One download. Owned and driven by the host's single event loop; never touched by any other
// thread. Handles in libcurl point at its connections, so a task stops them all before it goes.
class Task {
public:
    Task(int32_t handle, const TaskCreateParams& params, const TaskStatusInfo& restore,
         CURLM* multi, DiskFlusher& flusher, const HostSettings& settings);
    ~Task();
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;

    // Starts or resumes; a failed task tries again from its progress.
    void Start();
    // Ends every request and saves the progress; the files stay open and locked, so no other
    // task writes them until this one is started again, fails, finishes or is deleted.
    void Stop();
    void Fill(TaskStatusInfo* info) const;
    // Launches connections when due, saves progress at most once a second, samples speed.
    void Tick(Clock::time_point now);
    // libcurl finished a request of this task (any result).
    void OnDone(Connection* connection, CURLcode code);
    // Connections the task would run now (0 unless running), those it has open, and how many
    // of the host's connections it may have open; the host shares them between its tasks
    // (HostLimits).
    int WantedConnections() const;
    int OpenConnections() const { return static_cast<int>(m_connections.size()); }
    void SetHostLimit(int limit);
    // The disk flusher finished a job of this task.
    void OnFlushed(FlushResult& result);

    size_t OnData(Connection* connection, const char* data, size_t size);
    void OnHeader(Connection* connection, const char* line, size_t size);

private:
    enum class State { Stopped, Running, Failed, Finished };
    enum class Mode { Unknown, Ranged, Single };

    // transfer.cpp
    void Launch(Segment* segment, bool probe, int64_t probeStart = 0);
    void LaunchDue();
    bool Accept(Connection* c);
    bool AcceptProbe(Connection* c);
    void PlaceFirstRequests();
    void SpareOtherFirstRequests(const Connection* c);
    bool SpareFirstRequest(const Connection* c, Verdict verdict) const;
    bool AcceptResumeProbe(Connection* c);
    bool SameVersion(const Connection* c) const;
    bool NamesRecordedVersion(const Connection* c) const;
    std::string IfRangeValidator() const;
    Verdict Classify(const Connection* c) const;
    bool Preallocate(int64_t total);
    size_t WriteRanged(Connection* c, const char* data, size_t size);
    size_t WriteSingle(Connection* c, const char* data, size_t size);
    bool WriteAt(Connection* c, const char* data, size_t size, int64_t offset);
    void StartWriteBack(size_t written);
    void CarryOn();
    void CountFailure(Verdict verdict, Clock::time_point launched = Clock::now());
    void DropConnection(Connection* c);
    void DropAllConnections();
    void FinishSegment(Segment* s);
    void WatchPaces(Clock::time_point now);
    void WatchHeads(Clock::time_point now);
    void SplitForRequest(Segment* s, int64_t freeBytes, double typicalRate, int connections);
    int64_t ArrivedEnd(const Segment& s) const;
    int AllowedConnections() const;
    int ConnectionsInUse() const;
    int SpanConnections(int allowed) const;
    double TypicalRate() const;
    void StepPolicy(Clock::time_point now);
    bool RefusedWhileOthersRun(const Connection* c, CURLcode code) const;
    int RecentlyServed(Clock::time_point now) const;
    void RetireNearTheEnd(Connection* c);

    // task.cpp
    bool OpenFiles();
    void BeginWithFiles();
    bool IsUsableRecord(const Progress& progress) const;
    void Fail(int code);
    void Complete();
    void StartOver();
    void OnFileChanged();
    void RequestFlush(bool completing);
    Progress CurrentProgress() const;
    int64_t Downloaded() const;
    int SpeedNow() const;

    int32_t m_handle;
    std::string m_url;
    std::string m_referer;
    std::string m_cookies;
    std::string m_name;
    std::string m_stem; // of the working files (dlengine_files.h)
    std::string m_folder;
    bool m_replace;
    bool m_resume;
    CURLM* m_multi;
    DiskFlusher& m_flusher;
    HostSettings m_settings;

    State m_state = State::Stopped;
    int m_failCode = DL_FAIL_NONE;
    bool m_startedBefore = false;
    std::string m_finalName;

    TaskFiles m_files;
    std::shared_ptr<RecordGuard> m_guard = std::make_shared<RecordGuard>();
    int m_flushesInFlight = 0;
    bool m_completing = false;      // every byte is written; waiting for the disk and the name
    bool m_waitingForFiles = false; // a job of the flusher still holds this task's data file
    int m_changes = 0;              // times the file changed on the server in this download
    Mode m_mode = Mode::Unknown;
    bool m_verified = false; // the server confirmed size and validators in this run
    // The progress kept comes from a record of another link (or of the first record version,
    // which kept none): only an answer naming the very version it recorded confirms it.
    bool m_recordForeign = false;
    bool m_noRange = false; // the server refused "bytes=0-" (an empty file)
    int64_t m_total = -1;   // -1 while unknown
    std::string m_etag;
    std::string m_lastModified;
    std::list<Segment> m_segments; // ordered by position
    std::vector<std::unique_ptr<Connection>> m_connections;
    int64_t m_singleWritten = 0;
    int64_t m_singleBest = 0; // furthest a single-connection run has reached
    bool m_creatingFile = false;

    int m_failures = 0; // consecutive failures without a new byte
    Clock::time_point m_nextAttempt{};
    Clock::time_point m_lastFailure{}; // when m_failures last grew
    Clock::time_point m_lastSave{};
    Clock::time_point m_lastLaunch{};
    bool m_launchWanted = false; // LaunchDue at the next tick, whenever the last one was
    Clock::time_point m_lastPace{};
    double m_typicalRate = 0; // median connection speed, last seen with three or more measured
    bool m_dirty = false;

    ConnectionPolicy m_policy;
    int m_hostLimit = 0;          // of the host's connections, set before every tick
    double m_roundTrip = 0;       // seconds from a request to its answer's head, smoothed
    bool m_openProbe = false;     // the server sends no total for a part: probe with "0-"
    bool m_rangesIgnored = false; // the server answered a range with the whole file
    std::deque<Clock::time_point> m_recentEnds; // when served requests ended, lately
    Clock::time_point m_settleStart{};          // waiting for the connections to deliver, since
    Clock::time_point m_stepStart{};            // of the policy's current step
    int64_t m_stepBytes = 0;                    // m_received at the step's start

    int64_t m_received = 0;  // bytes received in this run, for the speed
    int64_t m_unflushed = 0; // bytes written since the disk was last asked to write back
    std::deque<std::pair<Clock::time_point, int64_t>> m_samples;
};

} // namespace dlengine
