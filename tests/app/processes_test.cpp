// The leftover-process step against real processes: copies of /bin/sleep under chosen names
// and folders, some started by a copy of /bin/sh standing in for a copy of the program.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

#include "app/main_window.h"
#include "app/startup.h"
#include "runtime/processes.h"
#include "support/sandbox.h"
#include "support/wait_for.h"
#include "window_fixture.h"

extern char** environ;

using namespace pandrel;

namespace {

class ProcessTest : public SandboxTest {
protected:
    void TearDown() override {
        for (pid_t child : m_children) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        }
        SandboxTest::TearDown();
    }

    // A copy of `original` at `path`, made once.
    static std::string CopyOf(const std::string& original, const std::string& path) {
        if (!std::filesystem::exists(path)) {
            std::filesystem::create_directories(std::filesystem::path(path).parent_path());
            std::filesystem::copy_file(original, path);
            std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        }
        return path;
    }

    pid_t Spawn(const std::string& path, std::vector<std::string> arguments) {
        std::vector<char*> argv{const_cast<char*>(path.c_str())};
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        pid_t child = -1;
        EXPECT_EQ(posix_spawn(&child, path.c_str(), nullptr, nullptr, argv.data(), environ), 0);
        m_children.push_back(child);
        return child;
    }

    // Starts a copy of /bin/sleep that runs under the executable name `name`, from `folder`
    // (the sandbox itself when empty).
    pid_t Start(const std::string& name, const std::string& folder = "") {
        const std::string path =
            CopyOf("/bin/sleep", PathOf(folder.empty() ? name : folder + "/" + name));
        pid_t child = Spawn(path, {"60"});
        // Until exec has happened the child still carries the test's own name.
        WaitFor([&] { return ProcessExecutableName(child) == name; });
        return child;
    }

    // Starts `starter` (a copy of /bin/sh) which starts a copy of sleep at `hostPath`; gives
    // the id of that grandchild, the starter stays alive waiting for it.
    pid_t StartThrough(const std::string& starter, const std::string& hostPath) {
        const std::string host = CopyOf("/bin/sleep", hostPath);
        const pid_t shell = Spawn(CopyOf("/bin/sh", starter), {"-c", host + " 60 & wait"});
        const std::string name = std::filesystem::path(host).filename();
        pid_t grandchild = -1;
        WaitFor([&] {
            grandchild =
                FindProcessId(name, [&](std::int32_t id) { return ParentProcessId(id) == shell; });
            return grandchild != -1;
        });
        return grandchild;
    }

    // True when the child was ended by SIGKILL; reaps it.
    bool WasKilled(pid_t child) {
        int status = 0;
        bool reaped = WaitFor([&] { return waitpid(child, &status, WNOHANG) == child; },
                              std::chrono::seconds(5));
        if (reaped) {
            std::erase(m_children, child);
        }
        return reaped && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    }

    bool IsAlive(pid_t child) { return waitpid(child, nullptr, WNOHANG) == 0; }

    // Gone, or a zombie that only waits for its parent to reap it, within `time`.
    static bool EndsWithin(pid_t process, std::chrono::milliseconds time) {
        return WaitFor(
            [&] {
                std::ifstream stat("/proc/" + std::to_string(process) + "/stat");
                std::string line;
                std::getline(stat, line);
                const std::size_t close = line.rfind(')');
                return close == std::string::npos || line.substr(close + 2, 1) == "Z";
            },
            time);
    }

    // Owner of copies started from `engineDir` by nothing in particular.
    LeftoverOwner OwnerIn(const std::string& engineDir) const { return {engineDir, "", ""}; }

    std::string Unique(const std::string& stem) { return stem + std::to_string(getpid()); }

    std::vector<pid_t> m_children;
};

} // namespace

TEST_F(ProcessTest, LeftoverProcessOnlyTheFirstIsEnded) {
    // The engine's own name runs only when no engine process of another run would be hit.
    for (const std::string& name : {Unique("pdtwin"), std::string("dlhost")}) {
        SCOPED_TRACE(name);
        if (name == "dlhost" && IsProcessRunning(name)) {
            continue;
        }
        pid_t first = Start(name);
        pid_t second = Start(name);
        const pid_t lower = std::min(first, second);
        const pid_t higher = std::max(first, second);
        EXPECT_EQ(FindProcessId(name), lower);

        EndLeftoverProcess(name, OwnerIn(Dir()));
        EXPECT_TRUE(WasKilled(lower));
        EXPECT_TRUE(IsAlive(higher)) << "only the first process of the name is ended";
    }
}

TEST_F(ProcessTest, NamesMatchWholeIgnoringLetterCase) {
    const std::string wanted = Unique("pdleftover");
    const struct {
        std::string executable;
        bool matches;
    } cases[] = {
        {wanted, true},
        {Unique("PdLeftOver"), true},
        {wanted + "x", false},
        {"x" + wanted, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.executable);
        pid_t child = Start(c.executable);
        EXPECT_EQ(IsProcessRunning(wanted), c.matches);
        EXPECT_EQ(FindProcessId(wanted), c.matches ? child : -1);
        EndLeftoverProcess(wanted, OwnerIn(Dir()));
        if (c.matches) {
            EXPECT_TRUE(WasKilled(child));
        } else {
            EXPECT_TRUE(IsAlive(child));
        }
        EXPECT_FALSE(IsProcessRunning(wanted));
    }
}

TEST_F(ProcessTest, KillProcessRefusesIdsThatNameGroups) {
    for (std::int32_t id : {0, -1, -12345}) {
        EXPECT_FALSE(KillProcess(id)) << id;
    }
    EXPECT_EQ(FindProcessId(""), -1);
    EXPECT_FALSE(IsProcessRunning(""));
}

// The real engine name: a foreign host from another folder always runs beside the case's own,
// and start-up may end only the case's process, and only when it is ours.
TEST_F(ProcessTest, StartUpEndsOnlyOurOwnLeftoverHost) {
    TestApplication();
    const std::string self = ProcessExecutableName(getpid());
    const pid_t foreign = Start("dlhost", "elsewhere/DownLoad");
    const struct {
        const char* name;
        std::function<pid_t()> start;
        bool ended;
    } cases[] = {
        {"ours, in EngineDir", [&] { return Start("dlhost", "DownLoad"); }, true},
        {"ours, its file replaced since it started",
         [&] {
             pid_t host = Start("dlhost", "DownLoad");
             std::filesystem::remove(PathOf("DownLoad/dlhost"));
             return host;
         },
         true},
        {"started by a copy of this program in RunDir",
         [&] { return StartThrough(PathOf(self), PathOf("other/dlhost")); }, true},
        {"started by a namesake of this program in another folder",
         [&] { return StartThrough(PathOf("elsewhere/" + self), PathOf("other/dlhost")); }, false},
        {"another folder, no copy of ours around", [&] { return Start("dlhost", "other"); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const pid_t host = c.start();
        ASSERT_GT(host, 0);
        ProgramState state;
        state.RunDir = Dir();
        MainWindow window(state);
        StartupSteps steps = TestStartupSteps();
        steps.leftoverProcessName = "dlhost";
        OnMainWindowCreated(state, steps);
        EXPECT_EQ(EndsWithin(host, std::chrono::milliseconds(c.ended ? 5000 : 300)), c.ended);
        EXPECT_TRUE(IsAlive(foreign)) << "a host of another folder must never be ended";
        if (!c.ended) {
            kill(host, SIGKILL);
            EndsWithin(host, std::chrono::seconds(5));
        }
    }
}
