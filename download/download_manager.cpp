#include "download/download_manager.h"

#include <QCoreApplication>
#include <QThread>

#include <chrono>
#include <thread>

namespace pandrel {

bool WorkerControl::Sleep(int milliseconds) const {
    std::unique_lock lock(m_mutex);
    return !m_changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                               [this] { return m_stopping; });
}

bool WorkerControl::Stopping() const {
    std::lock_guard lock(m_mutex);
    return m_stopping;
}

bool WorkerControl::ClaimRow(int row) const {
    std::lock_guard lock(m_mutex);
    return m_servedRows.insert(row).second;
}

void WorkerControl::ReleaseRow(int row) const {
    std::lock_guard lock(m_mutex);
    m_servedRows.erase(row);
}

void WorkerControl::ParkRow(int row) const {
    std::lock_guard lock(m_mutex);
    m_servedRows.insert(row);
    m_parkedRows.insert(row);
}

bool WorkerControl::UnparkRow(int row) const {
    std::lock_guard lock(m_mutex);
    return m_parkedRows.erase(row) > 0;
}

DownloadManager::DownloadManager(EngineApi& engine)
    : m_engine(engine), m_control(std::make_shared<WorkerControl>()) {}

DownloadManager::~DownloadManager() {
    StopWorkers();
}

std::int64_t DownloadManager::Launch(std::function<void(const WorkerControl&)> work) {
    {
        std::lock_guard lock(m_control->m_mutex);
        if (m_control->m_stopping) {
            return 0;
        }
        ++m_control->m_running;
    }
    std::thread([control = m_control, work = std::move(work)] {
        work(*control);
        std::lock_guard lock(control->m_mutex);
        --control->m_running;
        control->m_changed.notify_all();
    }).detach();
    return ++m_lastNumber;
}

void DownloadManager::StopWorkers() {
    QCoreApplication* app = QCoreApplication::instance();
    const bool onUiThread = app != nullptr && QThread::currentThread() == app->thread();
    std::unique_lock lock(m_control->m_mutex);
    m_control->m_stopping = true;
    m_control->m_changed.notify_all();
    while (m_control->m_running > 0) {
        if (!onUiThread) {
            m_control->m_changed.wait(lock);
            continue;
        }
        // A worker blocked on a control call needs this thread to carry it out.
        lock.unlock();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        lock.lock();
        m_control->m_changed.wait_for(lock, std::chrono::milliseconds(5));
    }
}

int DownloadManager::RunningWorkers() const {
    std::lock_guard lock(m_control->m_mutex);
    return m_control->m_running;
}

} // namespace pandrel
