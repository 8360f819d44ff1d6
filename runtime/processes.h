#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "runtime/value_types.h"

namespace pandrel {

// Processes are found by their bare executable name: the base name of /proc/<pid>/exe, or
// /proc/<pid>/comm when the link cannot be read (another user's process, a kernel thread).
// Names are compared whole, ASCII letters without regard to case: "DLHOST" matches "dlhost",
// "dlhost2" does not. The walk goes in ascending process id order and the program's own
// process is not skipped.
bool IsProcessRunning(const Text& name);

// The id of the first process with that executable name, or -1.
std::int32_t FindProcessId(const Text& name);

// The id of the first process with that executable name that `accept` approves, or -1.
std::int32_t FindProcessId(const Text& name, const std::function<bool(std::int32_t)>& accept);

// Ends the process at once (SIGKILL); true when the system accepted the signal.
bool KillProcess(std::int32_t processId);

// The bare executable name of one process, empty when it is gone or unreadable.
Text ProcessExecutableName(std::int32_t processId);

// The full path of one process's executable as the system resolved it at start (a file
// removed or replaced since keeps the path it had); empty when it cannot be read, as for
// another user's process or a process that is gone.
Text ProcessExecutablePath(std::int32_t processId);

// The id of the process that started this one while it still runs (1 or a subreaper once the
// starter has ended); -1 when it cannot be read.
std::int32_t ParentProcessId(std::int32_t processId);

// The ids of the processes this one started (from any of its threads) that still run or have
// not been waited for, ascending.
std::vector<std::int32_t> ChildProcessIds();

// Ends the processes this one started whose executable name is `name` (compared as above):
// each is sent SIGTERM and waited for, and one still running after `grace` is killed. A
// process that saves its work on SIGTERM has then saved it. Returns how many were ended.
int EndChildProcesses(const Text& name, std::chrono::milliseconds grace);

} // namespace pandrel
