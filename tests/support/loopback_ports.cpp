#include "support/loopback_ports.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

int LoopbackSocket(bool ipv6, int backlog, int& port) {
    const int fd = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage storage{};
    socklen_t length = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
    if (ipv6) {
        v6->sin6_family = AF_INET6;
        v6->sin6_addr = in6addr_loopback;
        length = sizeof *v6;
    } else {
        v4->sin_family = AF_INET;
        v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof *v4;
    }
    auto* address = reinterpret_cast<sockaddr*>(&storage);
    if (fd < 0 || bind(fd, address, length) != 0 || (backlog >= 0 && listen(fd, backlog) != 0) ||
        getsockname(fd, address, &length) != 0) {
        if (fd >= 0) {
            close(fd);
        }
        throw std::runtime_error("loopback socket failed");
    }
    port = ntohs(ipv6 ? v6->sin6_port : v4->sin_port);
    return fd;
}

int ClosedLoopbackPort() {
    int port = 0;
    close(LoopbackSocket(false, -1, port)); // bound but never listening: a connection is refused
    return port;
}

UnansweredLoopbackPort::UnansweredLoopbackPort() {
    m_listener = LoopbackSocket(false, 0, m_port);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(m_port));
    // A backlog of 0 still queues a connection or two; these take those places for good.
    for (int i = 0; i < 3; ++i) {
        const int filler = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (filler >= 0) {
            connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
            pollfd connected{filler, POLLOUT, 0};
            poll(&connected, 1, 100);
            m_fillers.push_back(filler);
        }
    }
}

UnansweredLoopbackPort::~UnansweredLoopbackPort() {
    for (const int filler : m_fillers) {
        close(filler);
    }
    close(m_listener);
}

void ClearProxyEnvironment() {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy",
                             "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
        unsetenv(name);
    }
}
