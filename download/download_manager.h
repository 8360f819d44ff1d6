#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>

#include "download/engine_binding.h"

namespace pandrel {

// What a running worker may ask of the manager that started it. Shared by the manager and
// its workers, so a detached worker never reaches into a destroyed manager.
class WorkerControl {
public:
    // Waits `milliseconds`; false (at once) when the workers are asked to end.
    bool Sleep(int milliseconds) const;
    bool Stopping() const;

    // A task-list row is served by one worker at a time: false when another worker's task for
    // that row is still under way, so that only one worker ever writes the row.
    bool ClaimRow(int row) const;
    void ReleaseRow(int row) const;

    // A task row restored at start-up is parked: claimed, so that no walking worker serves it,
    // until "开始此任务" gives it a worker of its own or "删除此任务" lets it go.
    void ParkRow(int row) const;
    // True, once, for a parked row; the row stays claimed for the caller's worker.
    bool UnparkRow(int row) const;

private:
    friend class DownloadManager;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    mutable std::set<int> m_servedRows;
    mutable std::set<int> m_parkedRows;
    bool m_stopping = false;
    int m_running = 0;
};

// The download side of the window: the engine every task command and worker talks to, and
// the download workers. Workers are detached threads; they are neither joined nor tracked
// by the program while it runs. The engine must outlive the manager.
class DownloadManager {
public:
    explicit DownloadManager(EngineApi& engine);
    // Asks the workers to end and waits until they have (see StopWorkers).
    ~DownloadManager();
    DownloadManager(const DownloadManager&) = delete;
    DownloadManager& operator=(const DownloadManager&) = delete;

    EngineApi& Engine() const { return m_engine; }
    const WorkerControl& Control() const { return *m_control; }

    // Starts a detached thread running `work` and gives the worker's number (1, 2, ... in
    // the order of starting). `work` gets the control it must wait through.
    std::int64_t Launch(std::function<void(const WorkerControl&)> work);

    // Asks every worker to end at its next wait and waits until all have ended. A worker
    // may be waiting for the UI thread; when called there, pending UI events are handled
    // meanwhile. No worker can be started afterwards.
    void StopWorkers();

    int RunningWorkers() const;

private:
    EngineApi& m_engine;
    std::shared_ptr<WorkerControl> m_control;
    std::int64_t m_lastNumber = 0;
};

} // namespace pandrel
