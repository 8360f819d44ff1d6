#pragma once

#include <string>
#include <vector>

// A TCP socket on the loopback address (::1 when ipv6) at a port the system picks, listening
// with that backlog unless it is negative; `port` receives the port. Throws when the system
// refuses.
int LoopbackSocket(bool ipv6, int backlog, int& port);

// A loopback port nothing listens on (one the system just handed out and took back), so a
// connection to it is refused and a server may take it.
int ClosedLoopbackPort();

// A loopback port that completes no new connection while this lives: it listens with its
// backlog filled and never accepts, so the system drops a client's handshake and the client's
// connect times out.
class UnansweredLoopbackPort {
public:
    UnansweredLoopbackPort();
    ~UnansweredLoopbackPort();
    UnansweredLoopbackPort(const UnansweredLoopbackPort&) = delete;
    UnansweredLoopbackPort& operator=(const UnansweredLoopbackPort&) = delete;

    std::string Url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/"; }

private:
    int m_listener = -1;
    int m_port = 0;
    std::vector<int> m_fillers;
};

// Removes the proxy variables libcurl reads, so a developer's own proxy settings never divert
// a loopback test.
void ClearProxyEnvironment();
