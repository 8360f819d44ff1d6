#pragma once

namespace dlengine {

// Runs the host on the command socket `socket` until the socket closes or a termination
// signal arrives; then stops every task (progress saved, files closed). Returns the exit code.
int RunHost(int socket);

} // namespace dlengine
