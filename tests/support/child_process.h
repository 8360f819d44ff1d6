#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// Starts `args` (args[0] is the executable's path) as a child that the kernel ends together
// with the test process: fork rather than posix_spawn so the child can ask for that, since a
// crashed test must not leave a child holding ctest's output pipe open until its time-out.
// `in`, `out` and `err` become the child's standard streams; -1 keeps the test's. The child
// holds no other file of the test. Gives the child's id, or -1 when it could not be started.
pid_t StartTiedChild(std::vector<std::string> args, int in = -1, int out = -1, int err = -1);
