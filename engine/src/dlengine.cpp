// The six exported functions. Every call takes one lock, makes sure a host is running (a lost
// host is replaced and given back every task it had), and makes one request.

#include "dlengine.h"
#include "host_link.h"
#include "protocol.h"

#include <chrono>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

namespace dlengine {
namespace {

// More restarts than this within kRestartWindow, with no download moving on between them,
// means the host cannot be kept alive.
constexpr size_t kMaxRestarts = 5;
constexpr auto kRestartWindow = std::chrono::seconds(60);

struct KnownTask {
    std::unique_ptr<TaskCreateParams> params;
    TaskStatusInfo last{};    // the last status the host gave, DL_STAT_STOPPED before any
    bool wantRunning = false; // started and neither stopped, finished nor failed since
};

class Engine {
public:
    int32_t Init() {
        std::lock_guard lock(m_mutex);
        return EnsureHost() ? 1 : 0;
    }

    int32_t Create(const TaskCreateParams& params) {
        std::lock_guard lock(m_mutex);
        const int32_t handle = m_nextHandle++;
        KnownTask& task = m_tasks[handle];
        task.params = std::make_unique<TaskCreateParams>(params);
        task.last.stat = DL_STAT_STOPPED;
        wire::CreatePayload payload{};
        payload.params = params;
        int32_t result = 0;
        Request(wire::Op::Create, handle, &payload, sizeof payload, &result);
        return handle;
    }

    int32_t Simple(wire::Op op, int32_t handle) {
        std::lock_guard lock(m_mutex);
        auto it = m_tasks.find(handle);
        if (it == m_tasks.end()) {
            return 0;
        }
        int32_t result = 0;
        const bool answered = Request(op, handle, nullptr, 0, &result);
        if (op == wire::Op::Start) {
            it->second.wantRunning = answered && result == 1;
        } else if (op == wire::Op::Stop) {
            it->second.wantRunning = false;
        } else if (op == wire::Op::Delete) {
            m_tasks.erase(it);
            return 1;
        }
        return answered ? result : 0;
    }

    int32_t Query(int32_t handle, TaskStatusInfo* info) {
        std::lock_guard lock(m_mutex);
        auto it = m_tasks.find(handle);
        if (it == m_tasks.end()) {
            std::memset(info, 0, sizeof *info);
            return 0;
        }
        KnownTask& task = it->second;
        int32_t result = 0;
        TaskStatusInfo answer{};
        const bool answered =
            Request(wire::Op::Query, handle, nullptr, 0, &result, &answer, sizeof answer);
        if (answered && result == 1) {
            task.last = answer;
            if (answer.stat == DL_STAT_FINISHED || answer.stat == DL_STAT_FAILED) {
                task.wantRunning = false;
            }
        } else if (!answered && task.last.stat != DL_STAT_FINISHED) {
            // Even a fresh host could not be reached.
            task.last.stat = DL_STAT_FAILED;
            task.last.fail_code = DL_FAIL_HOST_LOST;
            task.last.nSpeed = 0;
            task.last.nSrcUsing = 0;
        }
        *info = task.last;
        return 1;
    }

private:
    // One request; when the host turns out to be gone, one more try on a fresh host.
    bool Request(wire::Op op, int32_t handle, const void* payload, size_t size, int32_t* result,
                 void* answer = nullptr, size_t answerSize = 0) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (!EnsureHost()) {
                return false;
            }
            if (m_link.Call(op, handle, payload, size, result, answer, answerSize)) {
                return true;
            }
        }
        return false;
    }

    bool EnsureHost() {
        if (m_link.Alive()) {
            return true;
        }
        if (m_lost) {
            return false;
        }
        const auto now = std::chrono::steady_clock::now();
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
            m_lost = true;
            return false;
        }
        m_restarts.push_back(now);
        m_progressAtRestart = progress;
        const std::string folder = LibraryFolder();
        if (folder.empty() || !m_link.Start(folder + "DownLoad/dlhost")) {
            // Starting failed outright (missing or broken file): no point in trying on every call.
            m_lost = m_everStarted;
            return false;
        }
        m_everStarted = true;
        return Recreate();
    }

    // The bytes every known task had, as its host last reported them.
    int64_t BytesHeld() const {
        int64_t sum = 0;
        for (const auto& [handle, task] : m_tasks) {
            sum += task.last.nTotalDownload;
        }
        return sum;
    }

    // Gives a fresh host every known task under its old handle, in its old state.
    bool Recreate() {
        for (auto& [handle, task] : m_tasks) {
            wire::CreatePayload payload{};
            payload.params = *task.params;
            payload.restore = task.last;
            if (payload.restore.stat == DL_STAT_DOWNLOADING) {
                payload.restore.stat = DL_STAT_STOPPED;
            }
            int32_t result = 0;
            if (!m_link.Call(wire::Op::Create, handle, &payload, sizeof payload, &result)) {
                return false;
            }
            if (task.wantRunning && !m_link.Call(wire::Op::Start, handle, nullptr, 0, &result)) {
                return false;
            }
        }
        return true;
    }

    std::mutex m_mutex;
    HostLink m_link;
    std::map<int32_t, KnownTask> m_tasks;
    int32_t m_nextHandle = 1;
    std::deque<std::chrono::steady_clock::time_point> m_restarts;
    int64_t m_progressAtRestart = -1;
    bool m_everStarted = false;
    bool m_lost = false;
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
