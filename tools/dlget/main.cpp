// dlget URL... [-o name] [-d dir] [-c connections] [-q] [--host-stats]
// Downloads files through the engine, all at once (one task each, sharing the engine's
// connections), and prints their progress on one line. Exits 0 with the final paths on stdout,
// or with the engine's fail code (1 to 7) of the first task that failed. Before it exits it
// ends the engine process and waits for it, so that the resource use reported for dlget (time,
// getrusage of children) includes the host's. --host-stats also reports the host's peak memory
// and the longest any engine call took.

#include "dlengine.h"
#include "runtime/processes.h"
#include "utf16.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

volatile sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) {
    g_interrupted = 1;
}

struct Options {
    std::vector<std::string> urls;
    std::string name; // only with one URL; else each file is named after its URL
    std::string dir = ".";
    std::string connections;
    bool quiet = false;
    bool hostStats = false;
};

int Usage() {
    std::fprintf(stderr,
                 "usage: dlget URL... [-o name] [-d dir] [-c connections] [-q] [--host-stats]\n");
    return 64;
}

bool Parse(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "-o" && hasValue) {
            o->name = argv[++i];
        } else if (arg == "-d" && hasValue) {
            o->dir = argv[++i];
        } else if (arg == "-c" && hasValue) {
            o->connections = argv[++i];
        } else if (arg == "-q") {
            o->quiet = true;
        } else if (arg == "--host-stats") {
            o->hostStats = true;
        } else if (!arg.empty() && arg[0] != '-') {
            o->urls.push_back(arg);
        } else {
            return false;
        }
    }
    return !o->urls.empty() && (o->name.empty() || o->urls.size() == 1);
}

// The last path segment of the URL, without its query.
std::string NameFromUrl(const std::string& url) {
    std::string path = url.substr(0, url.find_first_of("?#"));
    const auto slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return name.empty() || path.find("://") + 2 == slash ? std::string("download.bin") : name;
}

std::string Human(double bytes) {
    const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    int u = 0;
    while (bytes >= 1024 && u < 4) {
        bytes /= 1024;
        ++u;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", bytes, units[u]);
    return text;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Ends the engine's host (it saves any progress on SIGTERM) and waits for it; with `report`,
// prints its peak resident memory first.
void EndHost(bool report) {
    // The engine starts its host from a thread of its own: children of every thread count.
    for (const pid_t pid : pandrel::ChildProcessIds()) {
        const std::string base = "/proc/" + std::to_string(pid);
        if (ReadText(base + "/comm") != "dlhost\n") {
            continue;
        }
        if (report) {
            const std::string status = ReadText(base + "/status");
            const auto at = status.find("VmHWM:");
            if (at != std::string::npos) {
                std::fprintf(stderr, "dlget: host peak memory %ld KiB\n",
                             std::strtol(status.c_str() + at + 6, nullptr, 10));
            }
        }
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
}

} // namespace

// The engine's tasks of one run, and what they report together.
struct Batch {
    std::vector<int32_t> handles;
    std::vector<TaskStatusInfo> status;

    bool AllEnded() const {
        return std::all_of(status.begin(), status.end(), [](const TaskStatusInfo& s) {
            return s.stat == DL_STAT_FINISHED || s.stat == DL_STAT_FAILED || s.stat == DL_STAT_NONE;
        });
    }
    // The engine's fail code of the first task that did not finish, 0 when all did.
    int FailCode() const {
        for (const TaskStatusInfo& s : status) {
            if (s.stat != DL_STAT_FINISHED) {
                return s.fail_code != 0 ? s.fail_code : DL_FAIL_HOST_LOST;
            }
        }
        return 0;
    }
    // One line for all: bytes, speed and connections summed over the tasks.
    void PrintProgress() const {
        double done = 0, total = 0, speed = 0;
        bool sizesKnown = true;
        int using_ = 0, open = 0;
        for (const TaskStatusInfo& s : status) {
            done += static_cast<double>(s.nTotalDownload);
            total += static_cast<double>(s.nTotalSize);
            sizesKnown = sizesKnown && s.nTotalSize > 0;
            speed += s.nSpeed;
            using_ += s.nSrcUsing;
            open += s.nSrcTotal;
        }
        std::fprintf(stderr, "\r%5.1f%%  %s / %s  %s/s  %d/%d connections    ",
                     sizesKnown && total > 0 ? done / total * 100.0 : 0.0, Human(done).c_str(),
                     sizesKnown ? Human(total).c_str() : "?", Human(speed).c_str(), using_, open);
    }
};

int main(int argc, char** argv) {
    Options o;
    if (!Parse(argc, argv, &o)) {
        return Usage();
    }
    if (!o.connections.empty()) {
        setenv("DLENGINE_CONNECTIONS", o.connections.c_str(), 1);
    }
    char resolved[PATH_MAX];
    if (realpath(o.dir.c_str(), resolved) == nullptr) {
        std::fprintf(stderr, "dlget: no such folder: %s\n", o.dir.c_str());
        return DL_FAIL_DISK;
    }
    const std::string dir = std::string(resolved) + "/";
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    if (DL_Init() == 0) {
        std::fprintf(stderr, "dlget: the engine did not start\n");
        return DL_FAIL_HOST_LOST;
    }
    // Every engine call is timed: none may keep its caller waiting long.
    double longestCall = 0;
    const auto timed = [&longestCall](auto call) {
        const auto start = std::chrono::steady_clock::now();
        const auto result = call();
        longestCall = std::max(
            longestCall,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        return result;
    };
    Batch batch;
    for (const std::string& url : o.urls) {
        auto params = std::make_unique<TaskCreateParams>();
        std::memset(params.get(), 0, sizeof *params);
        dlengine::Utf8ToUtf16Field(url, params->szTaskUrl, 2084);
        dlengine::Utf8ToUtf16Field(o.name.empty() ? NameFromUrl(url) : o.name, params->szFilename,
                                   260);
        dlengine::Utf8ToUtf16Field(dir, params->szSavePath, 260);
        params->nReserved1 = 5;
        params->DisableAutoRename = 1;
        params->IsResume = 1;
        batch.handles.push_back(timed([&] { return DL_CreateTask(params.get()); }));
    }
    batch.status.resize(batch.handles.size());
    for (const int32_t handle : batch.handles) {
        timed([&] { return DL_StartTask(handle); });
    }

    const auto started = std::chrono::steady_clock::now();
    while (true) {
        for (size_t i = 0; i < batch.handles.size(); ++i) {
            timed([&] { return DL_QueryTaskInfoEx(batch.handles[i], &batch.status[i]); });
        }
        if (!o.quiet) {
            batch.PrintProgress();
        }
        if (batch.AllEnded() || g_interrupted) {
            break;
        }
        // Often enough that the end of a download is seen within a few milliseconds.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!o.quiet) {
        std::fprintf(stderr, "\n");
    }
    if (g_interrupted) {
        for (const int32_t handle : batch.handles) {
            DL_StopTask(handle);
            DL_DeleteTask(handle);
        }
        std::fprintf(stderr, "dlget: stopped; starting again resumes\n");
        EndHost(o.hostStats);
        return 130;
    }
    for (const int32_t handle : batch.handles) {
        timed([&] { return DL_DeleteTask(handle); });
    }
    if (o.hostStats) {
        std::fprintf(stderr, "dlget: longest engine call %.0f ms\n", longestCall * 1000);
    }
    EndHost(o.hostStats);
    if (const int failCode = batch.FailCode(); failCode != 0) {
        std::fprintf(stderr, "dlget: failed, fail_code %d\n", failCode);
        return failCode;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    double bytes = 0;
    for (const TaskStatusInfo& s : batch.status) {
        bytes += static_cast<double>(s.nTotalSize);
        std::printf("%s%s\n", dir.c_str(), dlengine::Utf16FieldToUtf8(s.szFilename, 260).c_str());
    }
    if (!o.quiet) {
        std::fprintf(stderr, "%s in %.2f s (%s/s)\n", Human(bytes).c_str(), seconds,
                     Human(bytes / (seconds > 0 ? seconds : 1)).c_str());
    }
    return 0;
}
