#include "engine_fixture.h"

#include "support/wait_for.h"
#include "utf16.h"

#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <openssl/evp.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

std::string MakeBody(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string body(size, '\0');
    for (char& c : body) {
        c = static_cast<char>(random() & 0xFF);
    }
    return body;
}

std::string Sha256Hex(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr);
    std::string hex;
    char two[3];
    for (unsigned int i = 0; i < size; ++i) {
        std::snprintf(two, sizeof two, "%02x", digest[i]);
        hex += two;
    }
    return hex;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

bool IsFileLocked(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    // F_GETLK reports a conflicting lock of another process without taking one, so probing
    // never disturbs the host (and closing fd cannot drop a lock we do not hold).
    const bool locked = fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    close(fd);
    return locked;
}

std::set<std::string> FolderEntries(const std::string& dir) {
    std::set<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") {
                names.insert(name);
            }
        }
        closedir(d);
    }
    return names;
}

int FindHostPid() {
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return -1;
    }
    int found = -1;
    while (dirent* entry = readdir(proc)) {
        const int pid = std::atoi(entry->d_name);
        if (pid <= 0) {
            continue;
        }
        std::string stat;
        try {
            stat = ReadFile("/proc/" + std::string(entry->d_name) + "/stat");
        } catch (const std::ios_base::failure&) {
            continue; // the process ended while its entry was read (ESRCH)
        }
        const auto close = stat.rfind(')');
        const auto open = stat.find('(');
        if (close == std::string::npos || open == std::string::npos) {
            continue;
        }
        const std::string comm = stat.substr(open + 1, close - open - 1);
        int ppid = 0;
        char state = 0;
        if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) == 2 &&
            comm == "dlhost" && ppid == getpid() && state != 'Z') {
            found = pid;
        }
    }
    closedir(proc);
    return found;
}

void EngineTest::SetUpTestSuite() {
    // Short time-outs, head deadline and retry delays so that stalls, trickles and retries take
    // seconds, not minutes; a progress record saved every 50 ms, so that a test that needs one
    // on disk waits for it briefly.
    setenv("DLENGINE_TEST_TIMEOUTS", "3,2,50,2", 1);
    setenv("DLENGINE_TEST_SAVE_MS", "50", 1);
    setenv("DLENGINE_CONNECTIONS", "8", 1);
    ASSERT_NE(DL_Init(), 0);
}

void EngineTest::SetUp() {
    SandboxTest::SetUp();
    m_server = std::make_unique<LoopbackServer>();
}

void EngineTest::TearDown() {
    m_server.reset();
    SandboxTest::TearDown();
}

std::unique_ptr<TaskCreateParams> EngineTest::Params(const std::string& url,
                                                     const std::string& name,
                                                     const TaskOptions& options) const {
    auto p = std::make_unique<TaskCreateParams>();
    std::memset(p.get(), 0, sizeof *p);
    dlengine::Utf8ToUtf16Field(url, p->szTaskUrl, 2084);
    dlengine::Utf8ToUtf16Field(options.referer, p->szRefUrl, 2084);
    dlengine::Utf8ToUtf16Field(options.cookies, p->szCookies, 4096);
    dlengine::Utf8ToUtf16Field(name, p->szFilename, 260);
    dlengine::Utf8ToUtf16Field(options.folder.empty() ? Dir() + "/" : options.folder, p->szSavePath,
                               260);
    p->nReserved1 = 5;
    p->DisableAutoRename = options.replace ? 1 : 0;
    p->IsResume = options.resume ? 1 : 0;
    return p;
}

int32_t EngineTest::Create(const std::string& url, const std::string& name,
                           const TaskOptions& options) {
    return DL_CreateTask(Params(url, name, options).get());
}

TaskStatusInfo EngineTest::Query(int32_t handle) const {
    TaskStatusInfo info{};
    DL_QueryTaskInfoEx(handle, &info);
    return info;
}

bool EngineTest::WaitStatus(int32_t handle, const std::function<bool(const TaskStatusInfo&)>& done,
                            std::chrono::milliseconds timeout, TaskStatusInfo* last) const {
    TaskStatusInfo info{};
    const bool ok = WaitFor(
        [&] {
            info = Query(handle);
            return done(info);
        },
        timeout);
    if (last != nullptr) {
        *last = info;
    }
    return ok;
}

bool EngineTest::WaitFinished(int32_t handle, TaskStatusInfo* last) const {
    TaskStatusInfo info{};
    WaitStatus(
        handle,
        [](const TaskStatusInfo& s) {
            return s.stat == DL_STAT_FINISHED || s.stat == DL_STAT_FAILED;
        },
        std::chrono::seconds(40), &info);
    if (last != nullptr) {
        *last = info;
    }
    return info.stat == DL_STAT_FINISHED;
}
