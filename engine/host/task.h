#pragma once

#include "connection.h"
#include "connection_policy.h"
#include "connection_set.h"
#include "disk_flusher.h"
#include "dlengine.h"
#include "file_version.h"
#include "owning_thread.h"
#include "policy_steps.h"
#include "progress_file.h"
#include "retry_backoff.h"
#include "save_schedule.h"
#include "settings.h"
#include "speed_meter.h"
#include "task_files.h"
#include "task_target.h"

#include <cstdint>
#include <curl/curl.h>
#include <list>
#include <memory>
#include <string>

namespace dlengine {

// One download. Owned and driven by the host's single event loop; never touched by any other
// thread. Handles in libcurl point at its connections, so a task stops them all before it goes.
//
// Its parts: what to fetch (TaskTarget), when its record is saved (SaveSchedule), the version
// of the file it keeps (FileVersion), its open requests (ConnectionSet), its retries
// (RetryBackoff), its speed (SpeedMeter) and its connection count (PolicySteps). The task
// itself holds its state, its files, and the plan of missing pieces; its methods are spread
// over the files named in the groups below.
class Task {
public:
    Task(int32_t handle, const TaskCreateParams& params, const TaskStatusInfo& restore,
         CURLM* multi, DiskFlusher& flusher, const HostSettings& settings);
    ~Task();
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;

    // task.cpp: the task's life and what it reports.
    // Starts or resumes; a failed task tries again from its progress.
    void Start();
    // Ends every request and saves the progress; the files stay open and locked, so no other
    // task writes them until this one is started again, fails, finishes or is deleted.
    void Stop();
    void Fill(TaskStatusInfo* info) const;
    // Launches connections when due, saves progress at most once a save interval, samples
    // speed.
    void Tick(Clock::time_point now);
    // Connections the task would run now (0 unless running), those it has open, and how many
    // of the host's connections it may have open; the host shares them between its tasks
    // (HostLimits).
    int WantedConnections() const;
    int OpenConnections() const;
    void SetHostLimit(int limit);

    // task_record.cpp: the disk flusher finished a job of this task.
    void OnFlushed(FlushResult& result);

    // transfer.cpp: libcurl's callbacks, and a request of this task finished (any result).
    size_t OnData(Connection* connection, const char* data, size_t size);
    void OnHeader(Connection* connection, const char* line, size_t size);
    void OnDone(Connection* connection, CURLcode code);

private:
    enum class State { Stopped, Running, Failed, Finished };
    enum class Mode { Unknown, Ranged, Single };

    // task.cpp
    void Fail(int code);
    void Complete();
    void StartOver();
    void OnFileChanged();
    int64_t Downloaded() const;

    // task_record.cpp: the working files, the disk and the progress record.
    bool OpenFiles();
    void BeginWithFiles();
    bool IsUsableRecord(const Progress& progress) const;
    bool Preallocate(int64_t total);
    void StartWriteBack(size_t written);
    void RequestFlush(bool completing);
    Progress CurrentProgress() const;

    // transfer.cpp: the requests, their bytes, and what an ended one means.
    void Launch(Segment* segment, bool probe, int64_t probeStart = 0);
    bool WriteAt(Connection* c, const char* data, size_t size, int64_t offset);
    size_t WriteRanged(Connection* c, const char* data, size_t size);
    size_t WriteSingle(Connection* c, const char* data, size_t size);
    void RetireNearTheEnd(Connection* c);
    void CarryOn();
    bool RefusedWhileOthersRun(const Connection* c, CURLcode code) const;
    void CountFailure(Verdict verdict, Clock::time_point launched = Clock::now());

    // answer_check.cpp: whether an answer's bytes may be kept.
    bool Accept(Connection* c);
    bool AcceptProbe(Connection* c);
    bool AcceptResumeProbe(Connection* c);
    Verdict Classify(const Connection* c) const;
    void PlaceFirstRequests();
    void SpareOtherFirstRequests(const Connection* c);
    bool SpareFirstRequest(const Connection* c, Verdict verdict) const;

    // task_schedule.cpp: which requests run, and how many.
    void LaunchDue();
    void SplitForRequest(Segment* s, int64_t freeBytes, double typicalRate, int connections);
    int64_t ArrivedEnd(const Segment& s) const;
    int AllowedConnections() const;
    int ConnectionsInUse() const;
    int SpanConnections(int allowed) const;
    double TypicalRate() const;
    void StepPolicy(Clock::time_point now);
    void FinishSegment(Segment* s);
    void WatchPaces(Clock::time_point now);
    void WatchHeads(Clock::time_point now);

    // Where it lives.
    const int32_t m_handle;
    const TaskTarget m_target;
    CURLM* const m_multi;
    DiskFlusher& m_flusher;
    const HostSettings m_settings;
    OwningThread m_loop;

    // Its state.
    State m_state = State::Stopped;
    int m_failCode = DL_FAIL_NONE;
    bool m_startedBefore = false;
    std::string m_finalName;

    // Its files and their record.
    TaskFiles m_files;
    std::shared_ptr<RecordGuard> m_guard = std::make_shared<RecordGuard>();
    SaveSchedule m_saves;
    bool m_completing = false;      // every byte is written; waiting for the disk and the name
    bool m_waitingForFiles = false; // a job of the flusher still holds this task's data file
    bool m_creatingFile = false;    // reserving the file's blocks

    // The file on the server, as far as this run knows it.
    FileVersion m_version;
    Mode m_mode = Mode::Unknown;
    bool m_verified = false; // the server confirmed size and validators in this run
    // The progress kept comes from a record of another link (or of the first record version,
    // which kept none): only an answer naming the very version it recorded confirms it.
    bool m_recordForeign = false;
    bool m_noRange = false;       // the server refused "bytes=0-" (an empty file)
    bool m_openProbe = false;     // the server sends no total for a part: probe with "0-"
    bool m_rangesIgnored = false; // the server answered a range with the whole file
    int m_changes = 0;            // times the file changed on the server in this download

    // What is missing: pieces of a ranged download, or how far a single request got.
    std::list<Segment> m_segments; // ordered by position
    int64_t m_singleWritten = 0;
    int64_t m_singleBest = 0; // furthest a single-connection run has reached

    // Its requests, their retries and their speed.
    ConnectionSet m_connections;
    RetryBackoff m_retries;
    SpeedMeter m_speed;
    double m_roundTrip = 0; // seconds from a request to its answer's head, smoothed

    // The schedule.
    PolicySteps m_steps; // how many connections the task runs
    int m_hostLimit = 0; // of the host's connections, set before every tick
    Clock::time_point m_lastLaunch{};
    bool m_launchWanted = false; // LaunchDue at the next tick, whenever the last one was
    Clock::time_point m_lastPace{};
    double m_typicalRate = 0; // median connection speed, last seen with three or more measured
};

} // namespace dlengine
