// dlhost: the engine's companion process. Started by libdlengine.so with its command socket on
// descriptor 3 and the parent's process id as the only argument.

#include "host_loop.h"
#include "protocol.h"

#include <clocale>
#include <csignal>
#include <cstdlib>
#include <sys/prctl.h>
#include <unistd.h>

int main(int argc, char** argv) {
    // End with the program that started us, even if it dies without closing the socket.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (argc >= 2 && getppid() != static_cast<pid_t>(std::atol(argv[1]))) {
        return 1; // the parent died before the request above took effect
    }
    // Every text the engine handles is UTF-8; libcurl reads internationalised host names in
    // the character set of this locale.
    std::setlocale(LC_CTYPE, "C.UTF-8");
    return dlengine::RunHost(dlengine::wire::kHostSocketFd);
}
