#include "share_sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "support/child_process.h"

namespace {

constexpr auto kTimeout = std::chrono::seconds(20);

} // namespace

ShareSimProcess::~ShareSimProcess() {
    Stop();
}

std::string ShareSimProcess::Program() {
    return SHARE_SIM_PATH;
}

std::string ShareSimProcess::BaseUrl() const {
    // An IPv6 address goes in brackets.
    const std::string host = m_host.find(':') == std::string::npos ? m_host : "[" + m_host + "]";
    return "http://" + host + ":" + std::to_string(m_port);
}

bool ShareSimProcess::Start(const std::string& root, const std::vector<std::string>& extraArgs) {
    std::vector<std::string> args = {SHARE_SIM_PATH, "--root", root, "--port", "0"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        m_error = "pipe failed";
        return false;
    }
    m_pid = StartTiedChild(args, -1, out[1]);
    close(out[1]);
    if (m_pid < 0) {
        close(out[0]);
        m_pid = -1;
        m_error = "cannot start " + args[0];
        return false;
    }
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + kTimeout;
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd entry{out[0], POLLIN, 0};
        if (poll(&entry, 1, 100) <= 0) {
            continue;
        }
        char chunk[256];
        const ssize_t got = read(out[0], chunk, sizeof chunk);
        if (got <= 0) {
            break;
        }
        line.append(chunk, static_cast<std::size_t>(got));
    }
    close(out[0]);
    // "share-sim listening on HOST:PORT"; the port follows the last colon.
    const std::string prefix = "share-sim listening on ";
    const std::size_t colon = line.rfind(':');
    if (line.rfind(prefix, 0) != 0 || colon == std::string::npos || colon < prefix.size()) {
        m_error = "no listening line, got: " + line;
        Stop();
        return false;
    }
    m_host = line.substr(prefix.size(), colon - prefix.size());
    m_port = std::stoi(line.substr(colon + 1));
    return m_port > 0;
}

int ShareSimProcess::Stop() {
    if (m_pid <= 0) {
        return -1;
    }
    kill(m_pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + kTimeout;
    int status = 0;
    while (waitpid(m_pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, &status, 0);
            m_pid = -1;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int ShareSimProcess::EndedConnectionsHeld() const {
    // The inodes of the system's listening and established TCP sockets.
    std::set<std::string> live;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line); // the column names
        while (std::getline(in, line)) {
            // sl local rem st tx:rx tr:when retrnsmt uid timeout inode ...
            std::istringstream fields(line);
            std::string field[10];
            for (std::string& f : field) {
                fields >> f;
            }
            if (field[3] == "01" || field[3] == "0A") {
                live.insert(field[9]);
            }
        }
    }
    int held = 0;
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator("/proc/" + std::to_string(m_pid) + "/fd", error)) {
        const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        if (target.starts_with("socket:[") &&
            live.count(target.substr(8, target.size() - 9)) == 0) {
            ++held;
        }
    }
    return held;
}
