// The leftover-process step against real processes: copies of /bin/sleep under chosen names.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
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

    // Starts a copy of /bin/sleep that runs under the executable name `name`.
    pid_t Start(const std::string& name) {
        const std::string path = PathOf(name);
        if (!std::filesystem::exists(path)) {
            std::filesystem::copy_file("/bin/sleep", path);
            std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        }
        char seconds[] = "60";
        std::string program = path;
        char* argv[] = {program.data(), seconds, nullptr};
        pid_t child = -1;
        EXPECT_EQ(posix_spawn(&child, path.c_str(), nullptr, nullptr, argv, environ), 0);
        m_children.push_back(child);
        // Until exec has happened the child still carries the test's own name.
        WaitFor([&] { return ProcessExecutableName(child) == name; });
        return child;
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

        EndLeftoverProcess(name);
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
        EndLeftoverProcess(wanted);
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

TEST_F(ProcessTest, StartUpEndsTheLeftoverProcess) {
    TestApplication();
    ProgramState state;
    state.RunDir = Dir();
    MainWindow window(state);
    StartupSteps steps = TestStartupSteps();
    steps.leftoverProcessName = Unique("pdengine");
    pid_t engine = Start(steps.leftoverProcessName);
    OnMainWindowCreated(state, steps);
    EXPECT_TRUE(WasKilled(engine));
}
