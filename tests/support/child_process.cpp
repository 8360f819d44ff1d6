#include "support/child_process.h"

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

extern char** environ;

pid_t StartTiedChild(std::vector<std::string> args, int in, int out, int err) {
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) {
            _exit(127); // the test ended before the request took hold
        }
        const int streams[][2] = {{in, STDIN_FILENO}, {out, STDOUT_FILENO}, {err, STDERR_FILENO}};
        for (const auto& [from, to] : streams) {
            if (from >= 0) {
                dup2(from, to);
            }
        }
        // Only the standard streams go on: a socket or pipe of the test (one its program left
        // without close-on-exec) must not stay open in the child, nor count as the child's.
        close_range(3, ~0U, 0);
        execve(argv[0], argv.data(), environ);
        _exit(127);
    }
    return child < 0 ? -1 : child;
}
