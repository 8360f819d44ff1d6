// The six exported functions. The library keeps every task's wishes (created, started,
// stopped, deleted) and last known status itself; the host is where they are carried out.
// A call records its wish, then pushes what the host has not been told yet and asks what it
// needs, within a fixed time: a host that does not answer in time is killed, and a keeper
// thread starts a new one and gives it every task back. Meanwhile calls answer from what the
// library knows, so no caller ever waits long on a stalled host.

#include "dlengine.h"
#include "host_link.h"
#include "protocol.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace dlengine {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A call's time: the link waits at most kLockWait, each request at most kAnswerTimeout, and a
// request starts only while a whole kAnswerTimeout is left before kCallBudget; so every call
// returns within kCallBudget (under the 2 s promised), and a host is only judged stalled after
// it has had a whole kAnswerTimeout to answer.
constexpr milliseconds kCallBudget{1700};
constexpr milliseconds kLockWait{600};
constexpr milliseconds kAnswerTimeout{1000};
// A fresh host may take a while to come up on a busy machine; the keeper waits this long.
constexpr int kHandshakeMs = 15000;
constexpr milliseconds kInitWait{1800};
constexpr milliseconds kRetryPause{200};

// More restarts than this within kRestartWindow, with no download moving on between them,
// means the host cannot be kept alive.
constexpr size_t kMaxRestarts = 5;
constexpr auto kRestartWindow = std::chrono::seconds(60);

struct KnownTask {
    std::unique_ptr<TaskCreateParams> params;
    TaskStatusInfo last{};    // the last status a host gave, DL_STAT_STOPPED before any
    bool wantRunning = false; // started and neither stopped, finished nor failed since
    bool inHost = false;      // the current host has it
    bool everCreated = false; // some host had it: it comes back with its last status
    bool unsent = true;       // the current host has not been told wantRunning yet
};

class Engine {
public:
    void SetHostFolder(std::string folder) {
        std::lock_guard lock(m_mutex);
        m_hostFolder = std::move(folder);
    }

    int32_t Init() {
        std::unique_lock lock(m_mutex);
        if (m_linkUp) {
            return 1;
        }
        m_startFailed = false;
        WantHost();
        m_changed.wait_for(lock, kInitWait, [this] { return m_linkUp || m_startFailed; });
        return m_startFailed && !m_linkUp ? 0 : 1;
    }

    int32_t Create(const TaskCreateParams& params) {
        const auto deadline = Clock::now() + kCallBudget;
        int32_t handle = 0;
        {
            std::lock_guard lock(m_mutex);
            handle = m_nextHandle++;
            KnownTask& task = m_tasks[handle];
            task.params = std::make_unique<TaskCreateParams>(params);
            task.last.stat = DL_STAT_STOPPED;
        }
        Push(deadline, std::nullopt);
        return handle;
    }

    int32_t Simple(wire::Op op, int32_t handle) {
        const auto deadline = Clock::now() + kCallBudget;
        {
            std::lock_guard lock(m_mutex);
            auto it = m_tasks.find(handle);
            if (it == m_tasks.end()) {
                return 0;
            }
            if (op == wire::Op::Delete) {
                if (it->second.inHost) {
                    m_unsentDeletes.push_back(handle);
                }
                m_tasks.erase(it);
            } else {
                it->second.wantRunning = op == wire::Op::Start;
                it->second.unsent = true;
            }
        }
        Push(deadline, std::nullopt);
        return 1;
    }

    int32_t Query(int32_t handle, TaskStatusInfo* info) {
        const auto deadline = Clock::now() + kCallBudget;
        {
            std::lock_guard lock(m_mutex);
            if (m_tasks.find(handle) == m_tasks.end()) {
                std::memset(info, 0, sizeof *info);
                return 0;
            }
        }
        Push(deadline, handle);
        std::lock_guard lock(m_mutex);
        auto it = m_tasks.find(handle);
        if (it == m_tasks.end()) {
            std::memset(info, 0, sizeof *info); // deleted meanwhile
            return 0;
        }
        KnownTask& task = it->second;
        if (m_lost && task.last.stat != DL_STAT_FINISHED) {
            task.last.stat = DL_STAT_FAILED;
            task.last.fail_code = DL_FAIL_HOST_LOST;
            task.last.nSpeed = 0;
            task.last.nSrcUsing = 0;
        }
        *info = task.last;
        return 1;
    }

private:
    // Tells the host what it has not been told yet, then asks for `query`'s status, while the
    // call's time allows. Whatever does not fit stays marked for the next call.
    void Push(Clock::time_point deadline, std::optional<int32_t> query) {
        std::unique_lock link(m_linkMutex, std::defer_lock);
        if (!link.try_lock_until(std::min(deadline, Clock::now() + kLockWait))) {
            return; // another call waits on the host; this one answers from what is known
        }
        if (!m_link.Alive()) {
            std::lock_guard lock(m_mutex);
            WantHost();
            return;
        }
        const auto roomFor = [&deadline] { return deadline - Clock::now() >= kAnswerTimeout; };
        while (roomFor()) {
            std::optional<Step> step = NextStep();
            if (!step) {
                break;
            }
            if (!Send(*step)) {
                return;
            }
        }
        if (query && roomFor()) {
            int32_t result = 0;
            TaskStatusInfo answer{};
            if (!Call(wire::Op::Query, *query, nullptr, 0, &result, &answer, sizeof answer)) {
                return;
            }
            std::lock_guard lock(m_mutex);
            auto it = m_tasks.find(*query);
            if (it != m_tasks.end() && result == 1 && it->second.inHost) {
                it->second.last = answer;
                if (answer.stat == DL_STAT_FINISHED || answer.stat == DL_STAT_FAILED) {
                    it->second.wantRunning = false;
                }
            }
        }
    }

    // One thing the host has not been told, taken from the task table under its lock.
    struct Step {
        wire::Op op;
        int32_t handle;
        std::unique_ptr<wire::CreatePayload> create;
    };

    std::optional<Step> NextStep() {
        std::lock_guard lock(m_mutex);
        if (!m_unsentDeletes.empty()) {
            const int32_t handle = m_unsentDeletes.front();
            m_unsentDeletes.pop_front();
            return Step{wire::Op::Delete, handle, nullptr};
        }
        // In handle order, so that of two tasks of one file the older gets it first.
        for (auto& [handle, task] : m_tasks) {
            if (!task.inHost) {
                auto payload = std::make_unique<wire::CreatePayload>();
                payload->params = *task.params;
                if (task.everCreated) {
                    payload->restore = task.last;
                    if (payload->restore.stat == DL_STAT_DOWNLOADING) {
                        payload->restore.stat = DL_STAT_STOPPED;
                    }
                }
                task.inHost = task.everCreated = true;
                task.unsent = true;
                return Step{wire::Op::Create, handle, std::move(payload)};
            }
            if (task.unsent) {
                task.unsent = false;
                return Step{task.wantRunning ? wire::Op::Start : wire::Op::Stop, handle, nullptr};
            }
        }
        return std::nullopt;
    }

    bool Send(const Step& step) {
        int32_t result = 0;
        const void* payload = step.create.get();
        const size_t size = step.create ? sizeof(wire::CreatePayload) : 0;
        return Call(step.op, step.handle, payload, size, &result);
    }

    // One round trip on the current host; a host that fails it is killed and replaced, and
    // every task is marked for the next one.
    bool Call(wire::Op op, int32_t handle, const void* payload, size_t size, int32_t* result,
              void* answer = nullptr, size_t answerSize = 0) {
        if (m_link.Call(op, handle, payload, size, result, static_cast<int>(kAnswerTimeout.count()),
                        answer, answerSize)) {
            return true;
        }
        m_link.Abandon(); // the failed call has abandoned it already
        const pid_t pid = m_link.TakeAbandoned();
        std::lock_guard lock(m_mutex);
        if (pid > 0) {
            m_toReap.push_back(pid);
        }
        m_linkUp = false;
        WantHost();
        return false;
    }

    // Asks the keeper for a host. Called with m_mutex held.
    void WantHost() {
        if (m_lost) {
            return;
        }
        m_needHost = true;
        if (!m_keeperRuns) {
            m_keeperRuns = true;
            std::thread([this] { Keep(); }).detach(); // lives as long as the process
        }
        m_changed.notify_all();
    }

    // The keeper thread: reaps lost hosts and starts new ones, one at a time, for as long as
    // the process lives.
    void Keep() {
        std::unique_lock lock(m_mutex);
        while (true) {
            m_changed.wait(lock, [this] { return m_needHost || !m_toReap.empty(); });
            std::vector<pid_t> reap(m_toReap.begin(), m_toReap.end());
            m_toReap.clear();
            if (!m_needHost) {
                lock.unlock();
                ReapAll(reap);
                lock.lock();
                continue;
            }
            m_needHost = false;
            lock.unlock();
            ReapAll(reap);
            bool alive = false;
            {
                std::lock_guard link(m_linkMutex);
                alive = m_link.Alive(); // asked for while the last start was under way
            }
            lock.lock();
            if (alive) {
                continue;
            }
            if (!CountRestart()) {
                m_lost = true;
                m_changed.notify_all();
                continue;
            }
            lock.unlock();
            const std::string folder = HostFolder();
            HostLink fresh;
            const bool started = !folder.empty() && fresh.Start(folder + "dlhost", kHandshakeMs);
            if (started) {
                std::lock_guard link(m_linkMutex);
                m_link = std::move(fresh);
                std::lock_guard guard(m_mutex);
                for (auto& [handle, task] : m_tasks) {
                    task.inHost = false;
                }
                m_unsentDeletes.clear();
                m_needHost = false; // calls that found no host while this one started
                m_linkUp = true;
                m_everStarted = true;
            }
            lock.lock();
            if (!started) {
                // A host that never came up is not retried on its own: the next call asks
                // again. One that worked before is retried until the restarts run out.
                m_startFailed = true;
                if (m_everStarted) {
                    lock.unlock();
                    std::this_thread::sleep_for(kRetryPause);
                    lock.lock();
                    m_needHost = true;
                }
            }
            m_changed.notify_all();
        }
    }

    static void ReapAll(const std::vector<pid_t>& pids) {
        for (pid_t pid : pids) {
            waitpid(pid, nullptr, 0);
        }
    }

    // Whether one more host may be started. Called with m_mutex held.
    bool CountRestart() {
        const auto now = Clock::now();
        // A host that moved the downloads on was doing its work when it died: only hosts that
        // die without progress count towards giving up, however often a working host is lost.
        const int64_t progress = BytesHeld();
        if (progress > m_progressAtRestart) {
            m_restarts.clear();
        }
        while (!m_restarts.empty() && now - m_restarts.front() > kRestartWindow) {
            m_restarts.pop_front();
        }
        if (m_restarts.size() >= kMaxRestarts) {
            return false;
        }
        m_restarts.push_back(now);
        m_progressAtRestart = progress;
        return true;
    }

    // The bytes every known task had, as its host last reported them.
    int64_t BytesHeld() const {
        int64_t sum = 0;
        for (const auto& [handle, task] : m_tasks) {
            sum += task.last.nTotalDownload;
        }
        return sum;
    }

    // Guards everything below but the link; never held across a round trip.
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<int32_t, KnownTask> m_tasks;
    std::deque<int32_t> m_unsentDeletes;
    int32_t m_nextHandle = 1;
    std::deque<Clock::time_point> m_restarts;
    int64_t m_progressAtRestart = -1;
    std::vector<pid_t> m_toReap;
    bool m_needHost = false;
    bool m_linkUp = false;
    bool m_startFailed = false;
    bool m_everStarted = false;
    bool m_lost = false;
    bool m_keeperRuns = false;
    // Where the host's executable lies; empty for "DownLoad/" beside this library.
    std::string m_hostFolder;

    std::string HostFolder() {
        {
            std::lock_guard lock(m_mutex);
            if (!m_hostFolder.empty()) {
                return m_hostFolder;
            }
        }
        const std::string library = LibraryFolder();
        return library.empty() ? library : library + "DownLoad/";
    }

    // Held for the round trips on the current host.
    std::timed_mutex m_linkMutex;
    HostLink m_link;
};

Engine& TheEngine() {
    // Never destroyed: other threads may still call in while the process exits.
    static Engine* engine = new Engine();
    return *engine;
}

} // namespace
} // namespace dlengine

using dlengine::TheEngine;
using dlengine::wire::Op;

extern "C" {

__attribute__((visibility("default"))) int32_t DL_Init(void) {
    return TheEngine().Init();
}

__attribute__((visibility("default"))) int32_t DL_SetHostFolder(const char* folder) {
    if (folder == nullptr || *folder == '\0') {
        return 0;
    }
    std::string path = folder;
    if (path.back() != '/') {
        path += '/';
    }
    TheEngine().SetHostFolder(std::move(path));
    return 1;
}

__attribute__((visibility("default"))) int32_t DL_CreateTask(const void* params) {
    if (params == nullptr) {
        return 0;
    }
    TaskCreateParams copy;
    std::memcpy(&copy, params, sizeof copy);
    return TheEngine().Create(copy);
}

__attribute__((visibility("default"))) int32_t DL_StartTask(int32_t handle) {
    return TheEngine().Simple(Op::Start, handle);
}

__attribute__((visibility("default"))) int32_t DL_QueryTaskInfoEx(int32_t handle, void* info) {
    if (info == nullptr) {
        return 0;
    }
    TaskStatusInfo status;
    const int32_t result = TheEngine().Query(handle, &status);
    std::memcpy(info, &status, sizeof status);
    return result;
}

__attribute__((visibility("default"))) int32_t DL_StopTask(int32_t handle) {
    return TheEngine().Simple(Op::Stop, handle);
}

__attribute__((visibility("default"))) int32_t DL_DeleteTask(int32_t handle) {
    return TheEngine().Simple(Op::Delete, handle);
}

} // extern "C"
