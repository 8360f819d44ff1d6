#include "recording_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <strings.h>

namespace {

constexpr int kPollMillis = 50;
constexpr auto kReadLimit = std::chrono::seconds(20);

// Waits for the socket to become readable, giving up when the server stops or time runs out.
bool WaitReadable(int fd, const std::atomic<bool>& stop,
                  std::chrono::steady_clock::time_point deadline) {
    while (!stop && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        int ready = poll(&p, 1, kPollMillis);
        if (ready > 0) {
            return true;
        }
    }
    return false;
}

// Reads until `data` holds at least `size` bytes; false when the peer closes or time runs out.
bool ReadUntilSize(int fd, std::string& data, std::size_t size, const std::atomic<bool>& stop,
                   std::chrono::steady_clock::time_point deadline) {
    char buffer[65536];
    while (data.size() < size) {
        if (!WaitReadable(fd, stop, deadline)) {
            return false;
        }
        ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) {
            return false;
        }
        data.append(buffer, static_cast<std::size_t>(got));
    }
    return true;
}

bool ReadUntilMarker(int fd, std::string& data, const std::string& marker, std::size_t from,
                     const std::atomic<bool>& stop,
                     std::chrono::steady_clock::time_point deadline) {
    while (data.find(marker, from) == std::string::npos) {
        if (!ReadUntilSize(fd, data, data.size() + 1, stop, deadline)) {
            return false;
        }
    }
    return true;
}

std::optional<std::string> HeaderValue(const std::vector<std::string>& lines,
                                       const std::string& name) {
    for (const std::string& line : lines) {
        if (line.size() > name.size() && line[name.size()] == ':' &&
            strncasecmp(line.c_str(), name.c_str(), name.size()) == 0) {
            std::size_t start = line.find_first_not_of(' ', name.size() + 1);
            return start == std::string::npos ? std::string() : line.substr(start);
        }
    }
    return std::nullopt;
}

void SendAll(int fd, const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return; // the client gave up; nothing more to say
        }
        sent += static_cast<std::size_t>(n);
    }
}

// A TCP socket on 127.0.0.1 at a port the system picks, listening with that backlog unless it
// is negative; `address` receives where it is. Throws when the system refuses.
int LoopbackSocket(int backlog, sockaddr_in& address) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        (backlog >= 0 && listen(fd, backlog) != 0) ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0) {
            close(fd);
        }
        throw std::runtime_error("loopback socket failed");
    }
    return fd;
}

} // namespace

RecordingServer::RecordingServer(Responder responder) : m_responder(std::move(responder)) {
    sockaddr_in address{};
    m_listener = LoopbackSocket(16, address);
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Serve(); });
}

RecordingServer::~RecordingServer() {
    m_stop = true;
    m_thread.join();
    close(m_listener);
}

std::string RecordingServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

std::vector<RecordedRequest> RecordingServer::Requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

std::string RecordingServer::Response(const std::string& status,
                                      const std::vector<std::string>& headers,
                                      const std::string& body) {
    std::string out = "HTTP/1.1 " + status + "\r\n";
    for (const std::string& line : headers) {
        out += line + "\r\n";
    }
    out += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    return out;
}

void RecordingServer::Serve() {
    while (!m_stop) {
        pollfd p{m_listener, POLLIN, 0};
        if (poll(&p, 1, kPollMillis) <= 0) {
            continue;
        }
        int fd = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            HandleConnection(fd);
            close(fd);
        }
    }
}

void RecordingServer::HandleConnection(int fd) {
    auto deadline = std::chrono::steady_clock::now() + kReadLimit;
    std::string data;
    if (!ReadUntilMarker(fd, data, "\r\n\r\n", 0, m_stop, deadline)) {
        return;
    }
    std::size_t headEnd = data.find("\r\n\r\n");
    RecordedRequest request;
    std::size_t lineStart = 0;
    while (lineStart < headEnd) {
        std::size_t lineEnd = data.find("\r\n", lineStart);
        std::string line = data.substr(lineStart, lineEnd - lineStart);
        if (lineStart == 0) {
            request.requestLine = line;
        } else {
            request.headerLines.push_back(line);
        }
        lineStart = lineEnd + 2;
    }
    std::size_t position = headEnd + 4;
    auto length = HeaderValue(request.headerLines, "Content-Length");
    auto encoding = HeaderValue(request.headerLines, "Transfer-Encoding");
    if (encoding && strcasecmp(encoding->c_str(), "chunked") == 0) {
        while (ReadUntilMarker(fd, data, "\r\n", position, m_stop, deadline)) {
            std::size_t sizeEnd = data.find("\r\n", position);
            std::size_t size = std::strtoul(data.c_str() + position, nullptr, 16);
            position = sizeEnd + 2;
            if (!ReadUntilSize(fd, data, position + size + 2, m_stop, deadline)) {
                break;
            }
            request.body += data.substr(position, size);
            position += size + 2;
            if (size == 0) {
                break;
            }
        }
    } else if (length) {
        std::size_t size = std::strtoul(length->c_str(), nullptr, 10);
        ReadUntilSize(fd, data, position + size, m_stop, deadline);
        request.body = data.substr(position, size);
    }
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(request);
    }
    std::optional<std::string> answer = m_responder(request);
    if (!answer) {
        // Silent: hold the connection until the client closes it or the server stops.
        char buffer[4096];
        while (WaitReadable(fd, m_stop, deadline) && recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
        return;
    }
    SendAll(fd, *answer);
    shutdown(fd, SHUT_WR);
    // Let the client read everything before the close, so it never sees a reset instead.
    char buffer[4096];
    auto lingerEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    while (WaitReadable(fd, m_stop, lingerEnd) && recv(fd, buffer, sizeof buffer, 0) > 0) {
    }
}

int ClosedLoopbackPort() {
    sockaddr_in address{};
    close(LoopbackSocket(-1, address)); // bound but never listening: a connection is refused
    return ntohs(address.sin_port);
}

UnansweredLoopbackPort::UnansweredLoopbackPort() {
    sockaddr_in address{};
    m_listener = LoopbackSocket(0, address);
    m_port = ntohs(address.sin_port);
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

std::string HeadOf(const RecordedRequest& request) {
    std::string out = request.requestLine + "\n";
    for (const std::string& line : request.headerLines) {
        out += line + "\n";
    }
    return out;
}
