#include "task.h"

#include "dlengine_files.h"
#include "file_names.h"
#include "utf16.h"
#include "wire_url.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dlengine {
namespace {

constexpr auto kSpeedWindow = std::chrono::seconds(2);
constexpr auto kSampleInterval = std::chrono::milliseconds(200);
constexpr auto kLaunchInterval = std::chrono::milliseconds(200);

constexpr size_t kUrlUnits = 2084;
constexpr size_t kPathUnits = 260;

} // namespace

Task::Task(int32_t handle, const TaskCreateParams& params, const TaskStatusInfo& restore,
           CURLM* multi, DiskFlusher& flusher, const HostSettings& settings)
    : m_handle(handle), m_url(ToWireUrl(Utf16FieldToUtf8(params.szTaskUrl, kUrlUnits))),
      m_referer(Utf16FieldToUtf8(params.szRefUrl, kUrlUnits)),
      m_cookies(Utf16FieldToUtf8(params.szCookies, 4096)),
      m_name(Utf16FieldToUtf8(params.szFilename, kPathUnits)), m_stem(WorkingStem(m_name)),
      m_folder(Utf16FieldToUtf8(params.szSavePath, kPathUnits)),
      m_replace(params.DisableAutoRename != 0), m_resume(params.IsResume != 0), m_multi(multi),
      m_flusher(flusher), m_settings(settings) {
    // A text that fills its whole field was cut there: a cut name or folder would put the
    // file somewhere else than asked, so it is refused. The field reader stops at the first
    // NUL unit, so a name can never hold a NUL byte here; the checks still run on what the
    // record gave. A relative folder would depend on where the host happens to run.
    const bool pathsWhole = FieldHoldsWholeText(params.szFilename, kPathUnits) &&
                            FieldHoldsWholeText(params.szSavePath, kPathUnits);
    if (!pathsWhole || !IsSafeFileName(m_name) || m_folder.empty() || m_folder[0] != '/') {
        m_state = State::Failed;
        m_failCode = DL_FAIL_FILENAME;
    } else if (!FieldHoldsWholeText(params.szTaskUrl, kUrlUnits) || m_url.empty()) {
        m_state = State::Failed;
        m_failCode = DL_FAIL_URL;
    } else if (restore.stat == DL_STAT_FINISHED) {
        m_state = State::Finished;
        m_finalName = Utf16FieldToUtf8(restore.szFilename, kPathUnits);
        m_total = restore.nTotalSize;
    } else if (restore.stat == DL_STAT_FAILED && restore.fail_code != DL_FAIL_HOST_LOST) {
        m_state = State::Failed;
        m_failCode = restore.fail_code;
        m_startedBefore = true;
    } else if (restore.stat != DL_STAT_NONE) {
        m_startedBefore = true;
    }
}

Task::~Task() {
    DropAllConnections();
}

void Task::Start() {
    if (m_state == State::Running || m_state == State::Finished || m_failCode == DL_FAIL_FILENAME ||
        m_failCode == DL_FAIL_URL) {
        return;
    }
    if (m_state == State::Failed) {
        m_changes = 0; // trying a failed task again is a new download
    }
    m_state = State::Running;
    m_failCode = DL_FAIL_NONE;
    m_failures = 0;
    m_nextAttempt = Clock::now();
    m_lastFailure = {};
    m_received = 0;
    m_samples.clear();
    m_typicalRate = 0;
    m_verified = false;
    m_noRange = false;
    m_openProbe = false;
    m_rangesIgnored = false;
    m_policy = StartPolicy(m_settings.connections);
    m_hostLimit = 0; // the host gives the task its part of its connections before the next tick
    m_stepStart = {};
    m_settleStart = {};
    if (!m_files.IsOpen()) {
        if (OpenFiles()) {
            BeginWithFiles();
        }
        return;
    }
    // Stopped: the files stayed locked and the plan in memory is as fresh as any record.
    if (m_mode != Mode::Ranged || m_total <= 0) {
        StartOver(); // without ranges nothing can be resumed
    } else if (m_segments.empty()) {
        Complete();
    }
}

// Opens and locks the working files. False when the task cannot go on now: it failed, or a
// flush of an earlier run still holds the data file and the next tick tries again.
bool Task::OpenFiles() {
    m_waitingForFiles = false;
    if (m_files.Open(m_folder, m_stem)) {
        return true;
    }
    const int error = errno;
    if (error == EBUSY) {
        struct stat st {};
        const std::string path = JoinPath(m_folder, m_stem + kDataSuffix);
        if (lstat(path.c_str(), &st) == 0 && m_flusher.Holds(st.st_dev, st.st_ino)) {
            m_waitingForFiles = true;
            return false;
        }
        Fail(DL_FAIL_IN_USE); // another task writes this file: never touch its bytes
        return false;
    }
    Fail(error == ENAMETOOLONG ? DL_FAIL_FILENAME : DL_FAIL_DISK);
    return false;
}

// With the files open: resumes from the progress record when it fits the data file and may
// be used, else starts from byte 0. A resumed record is only a plan: no byte is fetched or
// kept until the server's first answer has confirmed its size and version.
void Task::BeginWithFiles() {
    Progress progress;
    struct stat st {};
    const bool resume = (m_resume || m_startedBefore) && m_files.LoadProgress(&progress) &&
                        fstat(m_files.DataFd(), &st) == 0 && st.st_size == progress.total &&
                        IsUsableRecord(progress);
    m_startedBefore = true;
    if (!resume) {
        StartOver();
        return;
    }
    m_mode = Mode::Ranged;
    m_recordForeign = progress.url != m_url;
    m_total = progress.total;
    m_etag = progress.etag;
    m_lastModified = progress.lastModified;
    m_segments.clear();
    for (const ByteRange& r : progress.missing) {
        m_segments.push_back(Segment{r.begin, r.end, 0});
    }
    if (m_segments.empty()) {
        // A record never finishes a download alone: the last byte is asked for again, and
        // only an answer that confirms the size and the version completes the file.
        m_segments.push_back(Segment{m_total - 1, m_total, 0});
    }
}

// A record of this very download (its link and name) serves once the server confirms its
// size; a record of another link, or of the first version (which kept no link), serves only
// with a validator the server's answer must then name. Share links are signed and expire, so
// a fresh link to the same file must still resume.
bool Task::IsUsableRecord(const Progress& progress) const {
    if (!progress.name.empty() && progress.name != m_name) {
        return false;
    }
    const bool sameLink = !progress.url.empty() && progress.url == m_url;
    const bool strongEtag = !progress.etag.empty() && progress.etag.rfind("W/", 0) != 0;
    return sameLink || strongEtag || !progress.lastModified.empty();
}

// Forgets any progress and empties the data file; the next request asks from byte 0.
void Task::StartOver() {
    DropAllConnections();
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
    m_total = -1;
    m_etag.clear();
    m_lastModified.clear();
    m_segments.clear();
    m_singleWritten = 0;
    m_stepStart = {};
    m_settleStart = {};
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
    m_nextAttempt = Clock::now();
}

void Task::Stop() {
    if (m_state != State::Running || m_completing) {
        return; // a task whose bytes are all written goes on to take its name
    }
    DropAllConnections();
    if (m_files.IsOpen()) {
        RequestFlush(false);
    }
    m_waitingForFiles = false;
    m_state = State::Stopped;
}

void Task::Fail(int code) {
    DropAllConnections();
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
    DropAllConnections();
    struct stat st {};
    const int64_t expected = m_mode == Mode::Ranged ? m_total : m_singleWritten;
    // Only a file holding every byte becomes the final file.
    if (fstat(m_files.DataFd(), &st) != 0 || st.st_size != expected ||
        (m_total >= 0 && expected != m_total)) {
        StartOver();
        CountFailure(Verdict::Retry);
        return;
    }
    m_total = expected;
    m_completing = true;
    RequestFlush(true);
}

// Hands the flusher copies of the file descriptors: the data is flushed off this thread, then
// the progress record is written (or, completing, the file takes its name).
void Task::RequestFlush(bool completing) {
    FlushJob job;
    job.handle = m_handle;
    job.dataFd = fcntl(m_files.DataFd(), F_DUPFD_CLOEXEC, 0);
    job.folderFd = fcntl(m_files.FolderFd(), F_DUPFD_CLOEXEC, 0);
    if (job.dataFd < 0 || job.folderFd < 0) {
        for (int fd : {job.dataFd, job.folderFd}) {
            if (fd >= 0) {
                close(fd);
            }
        }
        if (completing) {
            Fail(DL_FAIL_DISK);
        }
        return;
    }
    job.stem = m_stem;
    job.guard = m_guard;
    {
        std::lock_guard lock(m_guard->mutex);
        job.epoch = m_guard->epoch;
    }
    if (completing) {
        job.finalName = m_name;
        job.replace = m_replace;
    } else if (m_mode == Mode::Ranged && m_total > 0 && m_verified) {
        // Until the server has confirmed a loaded record, the record on disk stays as it was:
        // no byte was kept meanwhile, and it must not be bound to this link unconfirmed.
        job.record = CurrentProgress();
    }
    m_lastSave = Clock::now();
    m_dirty = false;
    ++m_flushesInFlight;
    m_flusher.Post(std::move(job));
}

void Task::OnFlushed(FlushResult& result) {
    --m_flushesInFlight;
    if (result.recordFd >= 0) {
        if (m_files.IsOpen()) {
            m_files.AdoptProgress(result.recordFd);
        } else {
            close(result.recordFd);
        }
        result.recordFd = -1;
    }
    if (result.completing && m_completing) {
        m_completing = false;
        if (!result.ok && result.error == ESTALE) {
            // Another file was put under the working name: the bytes written are out of
            // reach, and the record would describe a file that is no longer there.
            std::lock_guard lock(m_guard->mutex);
            ++m_guard->epoch;
            m_files.RemoveProgress();
            m_files.Close();
        }
        if (!result.ok) {
            Fail(DL_FAIL_DISK);
            return;
        }
        m_files.Close();
        m_finalName = result.finalName;
        m_state = State::Finished;
    } else if (!result.ok && m_state == State::Running && !m_completing) {
        Fail(DL_FAIL_DISK); // the disk refused bytes already counted as written
    }
}

Progress Task::CurrentProgress() const {
    Progress p;
    p.total = m_total;
    p.etag = m_etag;
    p.lastModified = m_lastModified;
    p.url = m_url;
    p.referer = m_referer;
    p.cookies = m_cookies;
    p.name = m_name;
    for (const Segment& s : m_segments) {
        if (s.pos < s.end) {
            p.missing.push_back(ByteRange{s.pos, s.end});
        }
    }
    return p;
}

int64_t Task::Downloaded() const {
    switch (m_state == State::Finished ? Mode::Unknown : m_mode) {
    case Mode::Ranged: {
        int64_t missing = 0;
        for (const Segment& s : m_segments) {
            missing += s.end - s.pos;
        }
        return m_total - missing;
    }
    case Mode::Single:
        return m_singleWritten;
    case Mode::Unknown:
        break;
    }
    return m_state == State::Finished ? m_total : 0;
}

int Task::SpeedNow() const {
    if (m_state != State::Running || m_samples.size() < 2) {
        return 0;
    }
    const auto& [t0, b0] = m_samples.front();
    const auto& [t1, b1] = m_samples.back();
    const double seconds = std::chrono::duration<double>(t1 - t0).count();
    if (seconds <= 0) {
        return 0;
    }
    return static_cast<int>(std::min<double>((b1 - b0) / seconds, INT32_MAX));
}

void Task::Fill(TaskStatusInfo* info) const {
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
    Utf8ToUtf16Field(m_state == State::Finished ? m_finalName : m_name, info->szFilename, 260);
    const int64_t total = std::max<int64_t>(m_total, 0);
    const int64_t done = Downloaded();
    info->nTotalSize = total;
    info->nTotalDownload = done;
    info->fPercent = m_state == State::Finished ? 1.0f
                     : total > 0 ? static_cast<float>(static_cast<double>(done) / total)
                                 : 0.0f;
    info->nSpeed = SpeedNow();
    if (m_state == State::Running) {
        int planned = 1;
        if (m_mode == Mode::Ranged && m_verified) {
            const int64_t pieces = std::max<int64_t>(1, (total - done) / kMinPiece);
            planned = static_cast<int>(std::min<int64_t>(pieces, AllowedConnections()));
        }
        // A request that is about to end has handed its place to its successor already.
        int open = 0;
        int using_ = 0;
        for (const auto& c : m_connections) {
            open += c->retiring ? 0 : 1;
            using_ += c->gotData && !c->retiring ? 1 : 0;
        }
        info->nSrcTotal = std::max(planned, open);
        info->nSrcUsing = using_;
    }
    info->bIsOriginUsable = m_state == State::Running ? 1 : 0;
    info->IsCreatingFile = m_creatingFile ? 1 : 0;
}

void Task::Tick(Clock::time_point now) {
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
    if (m_samples.empty() || now - m_samples.back().first >= kSampleInterval) {
        m_samples.emplace_back(now, m_received);
        while (m_samples.size() > 2 && now - m_samples[1].first >= kSpeedWindow) {
            m_samples.pop_front();
        }
    }
    // One flush at a time: the next snapshot waits for the last to reach the disk.
    if (m_dirty && now - m_lastSave >= std::chrono::milliseconds(m_settings.saveIntervalMs) &&
        m_flushesInFlight == 0) {
        RequestFlush(false);
    }
    WatchHeads(now);
    WatchPaces(now);
    StepPolicy(now);
    // A finished request refills its slot itself (OnDone); this catches retries that fell due
    // and end-game races that became worth it, without rescanning on every wake-up.
    if (m_state == State::Running && now >= m_nextAttempt &&
        (m_launchWanted || m_connections.empty() || now - m_lastLaunch >= kLaunchInterval)) {
        LaunchDue();
    }
}

// The policy's count, and the requests about to end whose successors are open beside them.
int Task::WantedConnections() const {
    if (m_state != State::Running || m_completing) {
        return 0;
    }
    return m_policy.count + OpenConnections() - ConnectionsInUse();
}

void Task::SetHostLimit(int limit) {
    if (limit > m_hostLimit) {
        m_launchWanted = true; // room for more: use it at the next tick
    }
    m_hostLimit = limit;
}

} // namespace dlengine
