#include "host_link.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace dlengine {
namespace {

// The host asks the kernel to end it when its parent *thread* ends. The caller of the engine
// may be a short-lived worker thread, so every host is started from this one thread, which
// lives as long as the process.
class Spawner {
public:
    static Spawner& Instance() {
        static Spawner* spawner = new Spawner(); // never destroyed: its thread outlives main
        return *spawner;
    }

    pid_t Spawn(const std::string& path, int childFd) {
        std::unique_lock lock(m_mutex);
        m_path = path;
        m_childFd = childFd;
        m_pending = true;
        m_done = false;
        m_wake.notify_all();
        m_wake.wait(lock, [this] { return m_done; });
        return m_pid;
    }

private:
    Spawner() {
        std::thread([this] { Run(); }).detach();
    }

    void Run() {
        std::unique_lock lock(m_mutex);
        while (true) {
            m_wake.wait(lock, [this] { return m_pending; });
            m_pending = false;
            m_pid = SpawnNow(m_path, m_childFd);
            m_done = true;
            m_wake.notify_all();
        }
    }

    static pid_t SpawnNow(const std::string& path, int childFd) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        // dup2 onto a different number clears close-on-exec for the copy only.
        posix_spawn_file_actions_adddup2(&actions, childFd, wire::kHostSocketFd);
        // The host keeps nothing of the program's but its command socket: a descriptor the
        // program left inheritable (a parse connection of libcurl's, a file) would otherwise
        // stay open in the host for as long as it runs.
        posix_spawn_file_actions_addclosefrom_np(&actions, wire::kHostSocketFd + 1);
        const std::string parent = std::to_string(getpid());
        std::vector<char*> argv{const_cast<char*>(path.c_str()), const_cast<char*>(parent.c_str()),
                                nullptr};
        pid_t pid = -1;
        const int rc = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        return rc == 0 ? pid : -1;
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::string m_path;
    int m_childFd = -1;
    bool m_pending = false;
    bool m_done = false;
    pid_t m_pid = -1;
};

bool WaitReadable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    while (true) {
        const int rc = poll(&p, 1, timeoutMs);
        if (rc < 0 && errno == EINTR) {
            continue;
        }
        return rc > 0;
    }
}

} // namespace

std::string LibraryFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&LibraryFolder), &info) == 0 || info.dli_fname == nullptr) {
        return {};
    }
    std::string file = info.dli_fname;
    char resolved[PATH_MAX];
    if (realpath(file.c_str(), resolved) != nullptr) {
        file = resolved;
    }
    const auto slash = file.rfind('/');
    return slash == std::string::npos ? std::string("./") : file.substr(0, slash + 1);
}

HostLink::~HostLink() {
    Close();
}

HostLink::HostLink(HostLink&& other) noexcept
    : m_socket(std::exchange(other.m_socket, -1)), m_pid(std::exchange(other.m_pid, -1)),
      m_abandoned(std::exchange(other.m_abandoned, -1)) {}

HostLink& HostLink::operator=(HostLink&& other) noexcept {
    if (this != &other) {
        Close();
        m_socket = std::exchange(other.m_socket, -1);
        m_pid = std::exchange(other.m_pid, -1);
        m_abandoned = std::exchange(other.m_abandoned, -1);
    }
    return *this;
}

void HostLink::Abandon() {
    if (m_socket >= 0) {
        close(m_socket);
        m_socket = -1;
    }
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        m_abandoned = std::exchange(m_pid, -1);
    }
}

pid_t HostLink::TakeAbandoned() {
    return std::exchange(m_abandoned, -1);
}

bool HostLink::Start(const std::string& path, int handshakeMs) {
    Close();
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) {
        return false;
    }
    // Keep the child's end off descriptor 3 so that dup2 always makes a fresh copy.
    int childFd = fcntl(fds[1], F_DUPFD_CLOEXEC, 10);
    close(fds[1]);
    if (childFd < 0) {
        close(fds[0]);
        return false;
    }
    m_pid = Spawner::Instance().Spawn(path, childFd);
    close(childFd);
    m_socket = fds[0];
    if (m_pid <= 0) {
        m_pid = -1;
        Close();
        return false;
    }
    int32_t version = 0;
    if (!Call(wire::Op::Hello, 0, nullptr, 0, &version, handshakeMs) || version != wire::kVersion) {
        Abandon();
        waitpid(TakeAbandoned(), nullptr, 0);
        return false;
    }
    return true;
}

bool HostLink::Call(wire::Op op, int32_t handle, const void* payload, size_t payloadSize,
                    int32_t* result, int timeoutMs, void* answer, size_t answerSize) {
    if (m_socket < 0) {
        return false;
    }
    std::vector<uint8_t> message(sizeof(wire::Header) + payloadSize);
    wire::Header header;
    header.op = static_cast<uint16_t>(op);
    header.handle = handle;
    std::memcpy(message.data(), &header, sizeof header);
    if (payloadSize > 0) {
        std::memcpy(message.data() + sizeof header, payload, payloadSize);
    }
    ssize_t sent;
    do {
        sent = send(m_socket, message.data(), message.size(), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    // Any failure abandons the link: an answer that comes late would otherwise be read as
    // the answer to the next request.
    if (sent != static_cast<ssize_t>(message.size())) {
        Abandon();
        return false;
    }
    std::vector<uint8_t> reply(sizeof(wire::Header) + answerSize);
    if (!WaitReadable(m_socket, timeoutMs)) {
        Abandon();
        return false;
    }
    ssize_t got;
    do {
        got = recv(m_socket, reply.data(), reply.size(), 0);
    } while (got < 0 && errno == EINTR);
    wire::Header answerHeader;
    if (got < static_cast<ssize_t>(sizeof answerHeader)) {
        Abandon();
        return false;
    }
    std::memcpy(&answerHeader, reply.data(), sizeof answerHeader);
    if (answerHeader.magic != wire::kMagic || answerHeader.version != wire::kVersion ||
        answerHeader.op != header.op || answerHeader.handle != handle ||
        static_cast<size_t>(got) != reply.size()) {
        Abandon();
        return false;
    }
    if (answerSize > 0) {
        std::memcpy(answer, reply.data() + sizeof answerHeader, answerSize);
    }
    *result = answerHeader.result;
    return true;
}

void HostLink::Close() {
    if (m_abandoned > 0) {
        waitpid(TakeAbandoned(), nullptr, 0);
    }
    if (m_socket >= 0) {
        close(m_socket);
        m_socket = -1;
    }
    if (m_pid <= 0) {
        return;
    }
    // The host saves its progress and ends when it sees the socket closed.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (waitpid(m_pid, nullptr, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    m_pid = -1;
}

} // namespace dlengine
