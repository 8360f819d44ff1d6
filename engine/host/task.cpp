#include "task.h"

#include "file_names.h"
#include "utf16.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dlengine {
namespace {

constexpr auto kSaveInterval = std::chrono::seconds(1);
constexpr auto kSpeedWindow = std::chrono::seconds(2);
constexpr auto kSampleInterval = std::chrono::milliseconds(200);
constexpr auto kLaunchInterval = std::chrono::milliseconds(200);

bool IsHttpUrl(const std::string& url) {
    for (const char* scheme : {"http://", "https://"}) {
        const size_t n = std::strlen(scheme);
        if (url.size() > n && strncasecmp(url.c_str(), scheme, n) == 0) {
            return url.find_first_of(" \t\r\n") == std::string::npos;
        }
    }
    return false;
}

} // namespace

Task::Task(int32_t handle, const TaskCreateParams& params, const TaskStatusInfo& restore,
           CURLM* multi, const HostSettings& settings)
    : m_handle(handle), m_url(Utf16FieldToUtf8(params.szTaskUrl, 2084)),
      m_referer(Utf16FieldToUtf8(params.szRefUrl, 2084)),
      m_cookies(Utf16FieldToUtf8(params.szCookies, 4096)),
      m_name(Utf16FieldToUtf8(params.szFilename, 260)),
      m_folder(Utf16FieldToUtf8(params.szSavePath, 260)), m_replace(params.DisableAutoRename != 0),
      m_resume(params.IsResume != 0), m_multi(multi), m_settings(settings) {
    // The field reader stops at the first NUL unit, so a name can never hold a NUL byte here;
    // the checks still run on what the record gave.
    if (!IsSafeFileName(m_name)) {
        m_state = State::Failed;
        m_failCode = DL_FAIL_FILENAME;
    } else if (!IsHttpUrl(m_url)) {
        m_state = State::Failed;
        m_failCode = DL_FAIL_URL;
    } else if (restore.stat == DL_STAT_FINISHED) {
        m_state = State::Finished;
        m_finalName = Utf16FieldToUtf8(restore.szFilename, 260);
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

    const std::string dataPath = JoinPath(m_folder, m_name + ".td");
    if (!m_files.OpenData(dataPath, dataPath + ".cfg")) {
        Fail(errno == ENAMETOOLONG ? DL_FAIL_FILENAME : DL_FAIL_DISK);
        return;
    }
    Progress progress;
    struct stat st {};
    const bool resume = (m_resume || m_startedBefore) && m_files.LoadProgress(&progress) &&
                        fstat(m_files.DataFd(), &st) == 0 && st.st_size == progress.total;
    m_startedBefore = true;
    if (!resume) {
        StartOver();
        return;
    }
    m_mode = Mode::Ranged;
    m_total = progress.total;
    m_etag = progress.etag;
    m_lastModified = progress.lastModified;
    m_segments.clear();
    for (const ByteRange& r : progress.missing) {
        m_segments.push_back(Segment{r.begin, r.end, 0});
    }
    if (m_segments.empty()) {
        Complete(); // every byte was already on disk when the record was written
    }
}

// Forgets any progress and empties the data file; the next request asks from byte 0.
void Task::StartOver() {
    DropAllConnections();
    m_files.RemoveProgress();
    m_mode = Mode::Unknown;
    m_verified = false;
    m_total = -1;
    m_etag.clear();
    m_lastModified.clear();
    m_segments.clear();
    m_singleWritten = 0;
    if (ftruncate(m_files.DataFd(), 0) != 0) {
        Fail(DL_FAIL_DISK);
    }
}

void Task::Stop() {
    if (m_state != State::Running) {
        return;
    }
    DropAllConnections();
    if (m_mode == Mode::Ranged) {
        m_files.SyncData();
        SaveProgress();
    }
    m_files.Close();
    m_state = State::Stopped;
}

void Task::Fail(int code) {
    DropAllConnections();
    if (m_mode == Mode::Ranged && m_state == State::Running) {
        m_files.SyncData();
        SaveProgress();
    }
    m_files.Close();
    m_state = State::Failed;
    m_failCode = code;
}

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
    if (!m_files.SyncData()) {
        Fail(DL_FAIL_DISK);
        return;
    }
    const std::string finalName =
        MoveIntoPlace(JoinPath(m_folder, m_name + ".td"), m_folder, m_name, m_replace);
    if (finalName.empty()) {
        Fail(DL_FAIL_DISK);
        return;
    }
    m_files.RemoveProgress();
    m_files.Close();
    m_finalName = finalName;
    m_total = expected;
    m_state = State::Finished;
}

Progress Task::CurrentProgress() const {
    Progress p;
    p.total = m_total;
    p.etag = m_etag;
    p.lastModified = m_lastModified;
    for (const Segment& s : m_segments) {
        if (s.pos < s.end) {
            p.missing.push_back(ByteRange{s.pos, s.end});
        }
    }
    return p;
}

bool Task::SaveProgress() {
    if (m_mode != Mode::Ranged || m_total <= 0) {
        return false;
    }
    m_lastSave = Clock::now();
    m_dirty = false;
    return m_files.SaveProgress(CurrentProgress());
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
            planned = static_cast<int>(std::min<int64_t>(pieces, m_settings.connections));
        }
        int using_ = 0;
        for (const auto& c : m_connections) {
            using_ += c->gotData ? 1 : 0;
        }
        info->nSrcTotal = std::max(planned, static_cast<int>(m_connections.size()));
        info->nSrcUsing = using_;
    }
    info->bIsOriginUsable = m_state == State::Running ? 1 : 0;
    info->IsCreatingFile = m_creatingFile ? 1 : 0;
}

void Task::Tick(Clock::time_point now) {
    if (m_state != State::Running) {
        return;
    }
    if (m_samples.empty() || now - m_samples.back().first >= kSampleInterval) {
        m_samples.emplace_back(now, m_received);
        while (m_samples.size() > 2 && now - m_samples[1].first >= kSpeedWindow) {
            m_samples.pop_front();
        }
    }
    if (m_dirty && now - m_lastSave >= kSaveInterval) {
        SaveProgress();
    }
    WatchPaces(now);
    // A finished request refills its slot itself (OnDone); this catches retries that fell due
    // and end-game races that became worth it, without rescanning on every wake-up.
    if (m_state == State::Running && now >= m_nextAttempt &&
        (m_launchWanted || m_connections.empty() || now - m_lastLaunch >= kLaunchInterval)) {
        LaunchDue();
    }
}

} // namespace dlengine
