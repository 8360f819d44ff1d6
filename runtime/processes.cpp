#include "runtime/processes.h"

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace pandrel {
namespace {

bool SameNameIgnoringCase(const Text& a, const Text& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// Every numeric entry of /proc, ascending, so "the first" process is a stable notion.
std::vector<std::int32_t> ProcessIds() {
    std::vector<std::int32_t> ids;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return ids;
    }
    while (dirent* entry = readdir(proc)) {
        const char* name = entry->d_name;
        if (*name == '\0' || !std::all_of(name, name + std::char_traits<char>::length(name),
                                          [](char c) { return c >= '0' && c <= '9'; })) {
            continue;
        }
        long id = std::strtol(name, nullptr, 10);
        if (id > 0 && id <= INT32_MAX) {
            ids.push_back(static_cast<std::int32_t>(id));
        }
    }
    closedir(proc);
    std::sort(ids.begin(), ids.end());
    return ids;
}

std::int32_t FirstProcessNamed(const Text& name, const std::function<bool(std::int32_t)>& accept) {
    if (name.empty()) {
        return -1;
    }
    for (std::int32_t id : ProcessIds()) {
        if (SameNameIgnoringCase(ProcessExecutableName(id), name) && (!accept || accept(id))) {
            return id;
        }
    }
    return -1;
}

std::string ProcPath(std::int32_t processId, const char* entry) {
    return "/proc/" + std::to_string(processId) + "/" + entry;
}

} // namespace

Text ProcessExecutablePath(std::int32_t processId) {
    if (processId <= 0) {
        return {};
    }
    std::string target(4096, '\0');
    ssize_t length = readlink(ProcPath(processId, "exe").c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) {
        return {};
    }
    target.resize(static_cast<std::size_t>(length));
    // A replaced or removed executable reads as "<path> (deleted)"; the path stays the one
    // the process was started from.
    const std::string deleted = " (deleted)";
    if (target.size() > deleted.size() && target.ends_with(deleted)) {
        target.resize(target.size() - deleted.size());
    }
    return target;
}

Text ProcessExecutableName(std::int32_t processId) {
    const Text path = ProcessExecutablePath(processId);
    if (!path.empty()) {
        std::size_t slash = path.rfind('/');
        return slash == std::string::npos ? path : path.substr(slash + 1);
    }
    std::ifstream comm(ProcPath(processId, "comm"));
    std::string name;
    std::getline(comm, name);
    return name;
}

std::int32_t ParentProcessId(std::int32_t processId) {
    if (processId <= 0) {
        return -1;
    }
    std::ifstream status(ProcPath(processId, "status"));
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("PPid:", 0) == 0) {
            long parent = std::strtol(line.c_str() + 5, nullptr, 10);
            return parent > 0 && parent <= INT32_MAX ? static_cast<std::int32_t>(parent) : -1;
        }
    }
    return -1;
}

bool IsProcessRunning(const Text& name) {
    return FirstProcessNamed(name, {}) != -1;
}

std::int32_t FindProcessId(const Text& name) {
    return FirstProcessNamed(name, {});
}

std::int32_t FindProcessId(const Text& name, const std::function<bool(std::int32_t)>& accept) {
    return FirstProcessNamed(name, accept);
}

std::vector<std::int32_t> ChildProcessIds() {
    std::vector<std::int32_t> ids;
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) {
        return ids;
    }
    // Each thread lists the children it started itself.
    while (dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        std::ifstream children(std::string("/proc/self/task/") + entry->d_name + "/children");
        long id = 0;
        while (children >> id) {
            if (id > 0 && id <= INT32_MAX) {
                ids.push_back(static_cast<std::int32_t>(id));
            }
        }
    }
    closedir(tasks);
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
}

int EndChildProcesses(const Text& name, std::chrono::milliseconds grace) {
    std::vector<std::int32_t> ended;
    for (std::int32_t id : ChildProcessIds()) {
        if (SameNameIgnoringCase(ProcessExecutableName(id), name) && kill(id, SIGTERM) == 0) {
            ended.push_back(id);
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + grace;
    for (std::int32_t id : ended) {
        while (waitpid(id, nullptr, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                kill(id, SIGKILL);
                waitpid(id, nullptr, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    return static_cast<int>(ended.size());
}

bool KillProcess(std::int32_t processId) {
    // Zero and negative ids would signal whole process groups.
    if (processId <= 0) {
        return false;
    }
    return kill(processId, SIGKILL) == 0;
}

} // namespace pandrel
