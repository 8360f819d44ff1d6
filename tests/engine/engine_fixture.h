#pragma once

#include "dlengine.h"

#include "support/loopback_server.h"
#include "support/sandbox.h"

#include <chrono>
#include <functional>
#include <memory>
#include <set>
#include <string>

// Deterministic bytes of the given size.
std::string MakeBody(size_t size, unsigned seed);
std::string Sha256Hex(const std::string& bytes);
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
// The names in a folder, without "." and "..".
std::set<std::string> FolderEntries(const std::string& dir);
// True when another process holds a write lock on the file.
bool IsFileLocked(const std::string& path);
// The running dlhost started by this process, or -1.
int FindHostPid();

struct TaskOptions {
    bool replace = true;
    bool resume = true;
    std::string referer;
    std::string cookies;
    std::string folder; // "" is the test's folder
};

// Runs every test against one engine (one host) and a fresh loopback server and folder.
class EngineTest : public SandboxTest {
protected:
    static void SetUpTestSuite();
    void SetUp() override;
    void TearDown() override;

    std::unique_ptr<TaskCreateParams> Params(const std::string& url, const std::string& name,
                                             const TaskOptions& options = {}) const;
    int32_t Create(const std::string& url, const std::string& name,
                   const TaskOptions& options = {});
    TaskStatusInfo Query(int32_t handle) const;
    // Polls until `done` holds for the status (true) or the time runs out (false).
    bool WaitStatus(int32_t handle, const std::function<bool(const TaskStatusInfo&)>& done,
                    std::chrono::milliseconds timeout, TaskStatusInfo* last = nullptr) const;
    bool WaitFinished(int32_t handle, TaskStatusInfo* last = nullptr) const;

    std::unique_ptr<LoopbackServer> m_server;
};
