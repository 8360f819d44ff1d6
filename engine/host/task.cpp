// A task's life: starting, stopping, failing, starting over and completing, the tick that
// keeps it going, and the status it reports.

#include "task.h"

#include "utf16.h"

#include <algorithm>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace dlengine {
namespace {

constexpr auto kLaunchInterval = std::chrono::milliseconds(200);

} // namespace

Task::Task(int32_t handle, const TaskCreateParams& params, const TaskStatusInfo& restore,
           CURLM* multi, DiskFlusher& flusher, const HostSettings& settings)
    : m_handle(handle), m_target(ReadTarget(params)), m_multi(multi), m_flusher(flusher),
      m_settings(settings), m_saves(std::chrono::milliseconds(settings.saveIntervalMs)),
      m_retries(settings.backoffBaseMs, settings.backoffCapMs) {
    if (m_target.refusal != DL_FAIL_NONE) {
        m_state = State::Failed;
        m_failCode = m_target.refusal;
    } else if (restore.stat == DL_STAT_FINISHED) {
        m_state = State::Finished;
        m_finalName = Utf16FieldToUtf8(restore.szFilename, kPathUnits);
        m_version.total = restore.nTotalSize;
    } else if (restore.stat == DL_STAT_FAILED && restore.fail_code != DL_FAIL_HOST_LOST) {
        m_state = State::Failed;
        m_failCode = restore.fail_code;
        m_startedBefore = true;
    } else if (restore.stat != DL_STAT_NONE) {
        m_startedBefore = true;
    }
}

Task::~Task() {
    m_connections.DropAll();
}

void Task::Start() {
    m_loop.Assert();
    if (m_state == State::Running || m_state == State::Finished || m_failCode == DL_FAIL_FILENAME ||
        m_failCode == DL_FAIL_URL) {
        return;
    }
    if (m_state == State::Failed) {
        m_changes = 0; // trying a failed task again is a new download
    }
    m_state = State::Running;
    m_failCode = DL_FAIL_NONE;
    m_retries.Restart(Clock::now());
    m_speed.Restart();
    m_typicalRate = 0;
    m_verified = false;
    m_noRange = false;
    m_openProbe = false;
    m_rangesIgnored = false;
    m_steps.Restart(m_settings.connections);
    m_hostLimit = 0; // the host gives the task its part of its connections before the next tick
    if (!m_files.IsOpen()) {
        if (OpenFiles()) {
            BeginWithFiles();
        }
        return;
    }
    // Stopped: the files stayed locked and the plan in memory is as fresh as any record.
    if (m_mode != Mode::Ranged || m_version.total <= 0) {
        StartOver(); // without ranges nothing can be resumed
    } else if (m_segments.empty()) {
        Complete();
    }
}

// Forgets any progress and empties the data file; the next request asks from byte 0.
void Task::StartOver() {
    m_connections.DropAll();
    {
        // A record of the old bytes still being written by the flusher must not land after
        // this: the raised epoch tells it to drop it.
        std::lock_guard lock(m_guard->mutex);
        ++m_guard->epoch;
        m_files.RemoveProgress();
    }
    m_mode = Mode::Unknown;
    m_verified = false;
    m_recordForeign = false;
    m_version.total = -1;
    m_version.etag.clear();
    m_version.lastModified.clear();
    m_segments.clear();
    m_singleWritten = 0;
    m_steps.Interrupt();
    if (ftruncate(m_files.DataFd(), 0) != 0) {
        Fail(DL_FAIL_DISK);
    }
}

// The server now holds another version of the file than the bytes kept: they are all dropped
// and the download starts over, once. A file that changes again fails the task. A record the
// server never confirmed was no part of this download: dropping it is not a change.
void Task::OnFileChanged() {
    if (m_verified && ++m_changes > 1) {
        Fail(DL_FAIL_HTTP);
        return;
    }
    StartOver();
    m_retries.RetryAt(Clock::now());
}

void Task::Stop() {
    m_loop.Assert();
    if (m_state != State::Running || m_completing) {
        return; // a task whose bytes are all written goes on to take its name
    }
    m_connections.DropAll();
    if (m_files.IsOpen()) {
        RequestFlush(false);
    }
    m_waitingForFiles = false;
    m_state = State::Stopped;
}

void Task::Fail(int code) {
    m_connections.DropAll();
    if (m_files.IsOpen() && !m_completing && Downloaded() == 0) {
        // A download that wrote nothing leaves nothing behind: no empty working file (nor the
        // blocks of a reservation), no record; a record still on its way is dropped.
        {
            std::lock_guard lock(m_guard->mutex);
            ++m_guard->epoch;
            m_files.RemoveProgress();
        }
        m_files.RemoveDataAndClose();
    } else if (m_files.IsOpen() && m_state == State::Running) {
        RequestFlush(false);
    }
    m_files.Close();
    m_completing = false;
    m_waitingForFiles = false;
    m_state = State::Failed;
    m_failCode = code;
}

// Every byte is written: once the flusher has put them on disk it gives the file its name.
void Task::Complete() {
    m_connections.DropAll();
    struct stat st {};
    const int64_t expected = m_mode == Mode::Ranged ? m_version.total : m_singleWritten;
    // Only a file holding every byte becomes the final file.
    if (fstat(m_files.DataFd(), &st) != 0 || st.st_size != expected ||
        (m_version.total >= 0 && expected != m_version.total)) {
        StartOver();
        CountFailure(Verdict::Retry);
        return;
    }
    m_version.total = expected;
    m_completing = true;
    RequestFlush(true);
}

int64_t Task::Downloaded() const {
    switch (m_state == State::Finished ? Mode::Unknown : m_mode) {
    case Mode::Ranged: {
        int64_t missing = 0;
        for (const Segment& s : m_segments) {
            missing += s.end - s.pos;
        }
        return m_version.total - missing;
    }
    case Mode::Single:
        return m_singleWritten;
    case Mode::Unknown:
        break;
    }
    return m_state == State::Finished ? m_version.total : 0;
}

void Task::Fill(TaskStatusInfo* info) const {
    m_loop.Assert();
    std::memset(info, 0, sizeof *info);
    switch (m_state) {
    case State::Stopped:
        info->stat = DL_STAT_STOPPED;
        break;
    case State::Running:
        info->stat = DL_STAT_DOWNLOADING;
        break;
    case State::Failed:
        info->stat = DL_STAT_FAILED;
        break;
    case State::Finished:
        info->stat = DL_STAT_FINISHED;
        break;
    }
    info->fail_code = m_failCode;
    Utf8ToUtf16Field(m_state == State::Finished ? m_finalName : m_target.name, info->szFilename,
                     kPathUnits);
    const int64_t total = std::max<int64_t>(m_version.total, 0);
    const int64_t done = Downloaded();
    info->nTotalSize = total;
    info->nTotalDownload = done;
    info->fPercent = m_state == State::Finished ? 1.0f
                     : total > 0 ? static_cast<float>(static_cast<double>(done) / total)
                                 : 0.0f;
    info->nSpeed = m_state == State::Running ? m_speed.BytesPerSecond() : 0;
    if (m_state == State::Running) {
        int planned = 1;
        if (m_mode == Mode::Ranged && m_verified) {
            const int64_t pieces = std::max<int64_t>(1, (total - done) / kMinPiece);
            planned = static_cast<int>(std::min<int64_t>(pieces, AllowedConnections()));
        }
        // A request that is about to end has handed its place to its successor already.
        const ConnectionSet::Activity activity = m_connections.Count();
        info->nSrcTotal = std::max(planned, activity.active);
        info->nSrcUsing = activity.delivering;
    }
    info->bIsOriginUsable = m_state == State::Running ? 1 : 0;
    info->IsCreatingFile = m_creatingFile ? 1 : 0;
}

void Task::Tick(Clock::time_point now) {
    m_loop.Assert();
    if (m_state != State::Running) {
        return;
    }
    if (m_waitingForFiles) {
        if (OpenFiles()) {
            BeginWithFiles();
        }
        return;
    }
    if (m_completing) {
        return;
    }
    m_speed.Sample(now);
    // One flush at a time: the next snapshot waits for the last to reach the disk.
    if (m_saves.SaveDue(now)) {
        RequestFlush(false);
    }
    WatchHeads(now);
    WatchPaces(now);
    StepPolicy(now);
    // A finished request refills its slot itself (OnDone); this catches retries that fell due
    // and end-game races that became worth it, without rescanning on every wake-up.
    if (m_state == State::Running && m_retries.Due(now) &&
        (m_launchWanted || m_connections.empty() || now - m_lastLaunch >= kLaunchInterval)) {
        LaunchDue();
    }
}

// The policy's count, and the requests about to end whose successors are open beside them.
int Task::WantedConnections() const {
    m_loop.Assert();
    if (m_state != State::Running || m_completing) {
        return 0;
    }
    return m_steps.Policy().count + OpenConnections() - ConnectionsInUse();
}

int Task::OpenConnections() const {
    m_loop.Assert();
    return static_cast<int>(m_connections.size());
}

void Task::SetHostLimit(int limit) {
    m_loop.Assert();
    if (limit > m_hostLimit) {
        m_launchWanted = true; // room for more: use it at the next tick
    }
    m_hostLimit = limit;
}

} // namespace dlengine
