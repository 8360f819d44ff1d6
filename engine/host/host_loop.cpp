#include "host_loop.h"

#include "connection_policy.h"
#include "curl_handles.h"
#include "disk_flusher.h"
#include "owning_thread.h"
#include "protocol.h"
#include "request.h"
#include "settings.h"
#include "task.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <map>
#include <memory>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace dlengine {
namespace {

volatile sig_atomic_t g_terminate = 0;

void OnTerminate(int) {
    g_terminate = 1;
}

// Upper bound of one wait, so that retries, progress saves and speed samples stay on time.
constexpr int kTickMs = 100;

class Host {
public:
    Host(int socket, CURLM* multi)
        : m_socket(socket), m_multi(multi), m_settings(HostSettings::FromEnvironment()) {}

    // Stops every task; the flusher, destroyed after the tasks, still writes their records.
    ~Host() {
        for (auto& [handle, task] : m_tasks) {
            task->Stop();
        }
        m_tasks.clear();
    }

    int Run() {
        m_loop.Assert();
        std::vector<uint8_t> buffer(wire::kMaxMessage + 1);
        while (!g_terminate) {
            curl_waitfd waits[2] = {{m_socket, CURL_WAIT_POLLIN, 0},
                                    {m_flusher.WakeFd(), CURL_WAIT_POLLIN, 0}};
            curl_multi_poll(m_multi, waits, 2, kTickMs, nullptr);
            if (waits[0].revents != 0 && !ReadCommands(buffer)) {
                break;
            }
            int running = 0;
            curl_multi_perform(m_multi, &running);
            Reap();
            TakeFlushes();
            const auto now = Clock::now();
            ShareHostConnections();
            for (auto& [handle, task] : m_tasks) {
                task->Tick(now);
            }
        }
        return 0;
    }

private:
    // Handles every waiting command; false when the library side is gone.
    bool ReadCommands(std::vector<uint8_t>& buffer) {
        m_loop.Assert();
        while (true) {
            const ssize_t got = recv(m_socket, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                return true;
            }
            if (got <= 0) {
                return false;
            }
            if (!Handle(buffer.data(), static_cast<size_t>(got))) {
                return false;
            }
        }
    }

    bool Handle(const uint8_t* data, size_t size) {
        m_loop.Assert();
        Request request;
        if (!DecodeRequest(data, size, &request)) {
            return false;
        }
        wire::Header answer = request.header;
        answer.result = 0;
        TaskStatusInfo status{};
        bool withStatus = false;
        const int32_t handle = request.header.handle;
        auto it = m_tasks.find(handle);
        Task* task = it == m_tasks.end() ? nullptr : it->second.get();
        switch (static_cast<wire::Op>(request.header.op)) {
        case wire::Op::Hello:
            answer.result = wire::kVersion;
            break;
        case wire::Op::Create:
            if (request.create == nullptr || task != nullptr || handle <= 0) {
                break;
            }
            m_tasks[handle] =
                std::make_unique<Task>(handle, request.create->params, request.create->restore,
                                       m_multi, m_flusher, m_settings);
            answer.result = 1;
            break;
        case wire::Op::Start:
            if (task != nullptr) {
                task->Start();
                answer.result = 1;
            }
            break;
        case wire::Op::Query:
            withStatus = true;
            if (task != nullptr) {
                task->Fill(&status);
                answer.result = 1;
            }
            break;
        case wire::Op::Stop:
            if (task != nullptr) {
                task->Stop();
                answer.result = 1;
            }
            break;
        case wire::Op::Delete:
            if (task != nullptr) {
                task->Stop();
                m_tasks.erase(it);
                answer.result = 1;
            }
            break;
        default:
            return false;
        }
        return Reply(answer, withStatus ? &status : nullptr);
    }

    bool Reply(const wire::Header& answer, const TaskStatusInfo* status) {
        uint8_t message[sizeof answer + sizeof(TaskStatusInfo)];
        std::memcpy(message, &answer, sizeof answer);
        size_t size = sizeof answer;
        if (status != nullptr) {
            std::memcpy(message + size, status, sizeof *status);
            size += sizeof *status;
        }
        ssize_t sent;
        do {
            sent = send(m_socket, message, size, MSG_NOSIGNAL);
        } while (sent < 0 && errno == EINTR);
        return sent == static_cast<ssize_t>(size);
    }

    void Reap() {
        m_loop.Assert();
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(m_multi, &left)) {
            if (msg->msg != CURLMSG_DONE) {
                continue;
            }
            // The message dies with its handle: copy what is needed first.
            CURL* easy = msg->easy_handle;
            const CURLcode code = msg->data.result;
            Connection* connection = nullptr;
            curl_easy_getinfo(easy, CURLINFO_PRIVATE, &connection);
            if (connection != nullptr) {
                connection->task->OnDone(connection, code);
            }
        }
    }

    // Shares the host's connections between its tasks on every pass, before their ticks: a task
    // wants one more the moment a request's successor may go ahead, and a connection freed by
    // one task is another's at once.
    void ShareHostConnections() {
        m_loop.Assert();
        std::vector<int> wants;
        std::vector<int> inUse;
        wants.reserve(m_tasks.size());
        inUse.reserve(m_tasks.size());
        for (const auto& [handle, task] : m_tasks) {
            wants.push_back(task->WantedConnections());
            inUse.push_back(task->OpenConnections());
        }
        const std::vector<int> limits = HostLimits(wants, inUse, kHostConnections);
        size_t i = 0;
        for (auto& [handle, task] : m_tasks) {
            task->SetHostLimit(limits[i++]);
        }
    }

    // Hands each finished flush to its task; a task deleted meanwhile needs nothing from it.
    void TakeFlushes() {
        m_loop.Assert();
        for (FlushResult& result : m_flusher.TakeResults()) {
            auto it = m_tasks.find(result.handle);
            if (it != m_tasks.end()) {
                it->second->OnFlushed(result);
            } else if (result.recordFd >= 0) {
                close(result.recordFd);
            }
        }
    }

    OwningThread m_loop; // the thread that runs the loop, and everything below
    int m_socket;
    CURLM* m_multi;
    DiskFlusher m_flusher; // declared before the tasks: it outlives them
    HostSettings m_settings;
    std::map<int32_t, std::unique_ptr<Task>> m_tasks;
};

} // namespace

int RunHost(int socket) {
    struct sigaction action {};
    action.sa_handler = OnTerminate;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    const CurlGlobal curl;
    if (!curl.Ok()) {
        return 1;
    }
    const MultiHandle multi(curl_multi_init());
    if (multi == nullptr) {
        return 1;
    }
    // Connections kept open for reuse count at the server too: the cache closes its oldest idle
    // one rather than hold more than the host runs.
    curl_multi_setopt(multi.get(), CURLMOPT_MAXCONNECTS, static_cast<long>(kHostConnections));
    // The host, and with it every task and its easy handles, goes before the multi handle.
    Host host(socket, multi.get());
    return host.Run();
}

} // namespace dlengine
