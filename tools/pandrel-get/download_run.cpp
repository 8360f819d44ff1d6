#include "download_run.h"

#include <sys/stat.h>

#include <deque>
#include <memory>
#include <set>
#include <thread>

#include "dlengine.h"
#include "dlengine_files.h"
#include "download/task_records.h"

namespace pandrel::get {
namespace {

// Often enough for a live display; the engine answers each query from memory.
constexpr auto kPollInterval = std::chrono::milliseconds(250);
constexpr auto kStopCheck = std::chrono::milliseconds(50);

// A running engine task and the records exchanged with it (the engine reads the creation
// record while it creates the task; both stay with the task to its end).
struct RunningTask {
    std::size_t index = 0; // into the outcomes
    std::int32_t handle = 0;
    TaskCreateParams params;
    TaskStatusInfo status;
};

bool PathExists(const Text& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

bool IsRegularFile(const Text& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// What the engine's fail codes mean, for the line on standard error.
Text FailureReason(std::int32_t failCode) {
    switch (failCode) {
    case DL_FAIL_NETWORK:
        return "网络错误，重试次数已用完";
    case DL_FAIL_HTTP:
        return "服务器拒绝了请求，或文件在下载中两次改变";
    case DL_FAIL_DISK:
        return "磁盘错误：空间不足、没有权限或工作文件消失";
    case DL_FAIL_FILENAME:
        return "文件名或下载目录不可用";
    case DL_FAIL_URL:
        return "下载链接不是可用的 http 或 https 地址";
    case DL_FAIL_HOST_LOST:
        return "下载引擎进程退出且无法重新启动";
    case DL_FAIL_IN_USE:
        return "文件正被另一个下载任务写入";
    default:
        return "下载引擎不再知道这个任务";
    }
}

Text Named(const ChosenFile& file) {
    return std::to_string(file.number) + " " + ShownName(file.entry.name);
}

class Run {
public:
    Run(EngineApi& engine, const std::vector<ChosenFile>& files, const RunSettings& settings,
        ProgressView& view, const std::atomic<int>& stop)
        : m_engine(engine), m_settings(settings), m_view(view), m_stop(stop) {
        for (const ChosenFile& file : files) {
            m_outcomes.push_back({file, FileResult::NotFinished});
        }
    }

    std::vector<FileOutcome> Go() {
        Sort();
        while ((!m_waiting.empty() || !m_running.empty()) && m_stop.load() == 0) {
            while (!m_waiting.empty() &&
                   m_running.size() < static_cast<std::size_t>(m_settings.jobs)) {
                Launch(m_waiting.front());
                m_waiting.pop_front();
            }
            Poll();
            Show();
            Pause();
        }
        for (const auto& task : m_running) {
            // Stopping first has the engine save the progress; deleting only forgets the task.
            m_engine.StopTask(task->handle);
            m_engine.DeleteTask(task->handle);
        }
        m_running.clear();
        m_view.Clear();
        return m_outcomes;
    }

private:
    // Skips what must not or need not be fetched; queues the rest.
    void Sort() {
        std::set<Text> names;
        for (std::size_t i = 0; i < m_outcomes.size(); ++i) {
            const ChosenFile& file = m_outcomes[i].file;
            const Text& name = file.entry.name;
            // The engine's own rule: a plain name, never a path, without control or bidi
            // characters (which would also break the tab-separated output).
            if (!dlengine::IsSafeFileName(name)) {
                m_view.Warn("文件名不安全，已跳过：" + Named(file));
                End(i, FileResult::Skipped);
            } else if (!names.insert(name).second) {
                m_view.Warn("与前面的文件同名，已跳过：" + Named(file));
                End(i, FileResult::Skipped);
            } else if (IsWorkLeft(name)) {
                m_waiting.push_back(i);
            } else if (IsRegularFile(m_settings.saveDir + name)) {
                m_view.Note("已存在，不再下载：" + Named(file));
                End(i, FileResult::Existed);
            } else if (PathExists(m_settings.saveDir + name)) {
                // A folder, a link or a device of that name: the engine would refuse it.
                m_view.Warn("下载目录中已有同名的非普通文件，已跳过：" + Named(file));
                End(i, FileResult::Skipped);
            } else {
                m_waiting.push_back(i);
            }
        }
    }

    // The engine's working files of the name are there: a download to resume. Without them a
    // file of that name was finished earlier, or is not ours; either way it stays as it is.
    bool IsWorkLeft(const Text& name) const {
        const Text stem = m_settings.saveDir + dlengine::WorkingStem(name);
        return PathExists(stem + dlengine::kDataSuffix) ||
               PathExists(stem + dlengine::kProgressSuffix);
    }

    void Launch(std::size_t index) {
        const FileEntry& entry = m_outcomes[index].file.entry;
        auto task = std::make_unique<RunningTask>();
        task->index = index;
        task->params.Fill(entry.link, {}, {}, entry.name, m_settings.saveDir, false, true, true);
        task->status.Init();
        task->handle = m_engine.CreateTask(task->params.BlockAddress());
        m_engine.StartTask(task->handle);
        m_view.Note("开始下载：" + Named(m_outcomes[index].file));
        m_running.push_back(std::move(task));
    }

    void Poll() {
        for (auto it = m_running.begin(); it != m_running.end();) {
            RunningTask& task = **it;
            m_engine.QueryTaskInfoEx(task.handle, task.status.BlockAddress());
            const std::int32_t stat = task.status.stat();
            const ChosenFile& file = m_outcomes[task.index].file;
            if (stat == DL_STAT_FINISHED) {
                m_view.Note("下载完成：" + Named(file));
                End(task.index, FileResult::Finished);
            } else if (stat == DL_STAT_FAILED || stat == DL_STAT_NONE) {
                const std::int32_t code = stat == DL_STAT_FAILED ? task.status.fail_code() : 0;
                m_view.Warn("下载失败：" + Named(file) + "（" + FailureReason(code) + "）");
                End(task.index, FileResult::Failed);
            } else {
                ++it;
                continue;
            }
            m_engine.DeleteTask(task.handle);
            it = m_running.erase(it);
        }
    }

    void Show() {
        std::vector<FileProgress> running;
        RunTotals totals;
        totals.chosenFiles = static_cast<std::int32_t>(m_outcomes.size());
        totals.endedFiles = m_ended;
        totals.waitingFiles = static_cast<std::int32_t>(m_waiting.size());
        for (const auto& task : m_running) {
            FileProgress progress;
            progress.number = m_outcomes[task->index].file.number;
            progress.name = ShownName(m_outcomes[task->index].file.entry.name);
            progress.done = task->status.nTotalDownload();
            progress.total = std::max<std::int64_t>(task->status.nTotalSize(), 0);
            progress.speed = task->status.nSpeed();
            totals.done += progress.done;
            totals.total += progress.total;
            totals.speed += progress.speed;
            running.push_back(std::move(progress));
        }
        m_view.Show(running, totals);
    }

    // Waits for the next poll, looking at the stop request meanwhile.
    void Pause() const {
        const auto until = std::chrono::steady_clock::now() + kPollInterval;
        while (m_stop.load() == 0 && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(kStopCheck);
        }
    }

    void End(std::size_t index, FileResult result) {
        m_outcomes[index].result = result;
        ++m_ended;
    }

    EngineApi& m_engine;
    const RunSettings& m_settings;
    ProgressView& m_view;
    const std::atomic<int>& m_stop;
    std::vector<FileOutcome> m_outcomes;
    std::deque<std::size_t> m_waiting;
    std::vector<std::unique_ptr<RunningTask>> m_running;
    std::int32_t m_ended = 0;
};

} // namespace

const char* ResultText(FileResult result) {
    switch (result) {
    case FileResult::Finished:
        return "已完成";
    case FileResult::Existed:
        return "已存在";
    case FileResult::Failed:
        return "下载失败";
    case FileResult::Skipped:
        return "已跳过";
    case FileResult::NotFinished:
        break;
    }
    return "未完成";
}

std::vector<FileOutcome> RunDownloads(EngineApi& engine, const std::vector<ChosenFile>& files,
                                      const RunSettings& settings, ProgressView& view,
                                      const std::atomic<int>& stop) {
    return Run(engine, files, settings, view, stop).Go();
}

} // namespace pandrel::get
