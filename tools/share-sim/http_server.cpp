#include "http_server.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <strings.h>

namespace sharesim {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kMaxHeadBytes = 32 * 1024;
constexpr auto kSlice = 100ms;     // how often waits look at the stop flag
constexpr auto kIdleTimeout = 15s; // a kept-alive connection without a new request
constexpr auto kSendTimeout = 30s; // a peer that reads nothing

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

bool ParseHead(std::string_view head, HttpRequest& request) {
    std::size_t lineEnd = head.find("\r\n");
    const std::string_view line = head.substr(0, lineEnd);
    const std::size_t first = line.find(' ');
    const std::size_t second = line.rfind(' ');
    if (first == std::string_view::npos || second == first) {
        return false;
    }
    request = HttpRequest();
    request.method = std::string(line.substr(0, first));
    request.target = std::string(line.substr(first + 1, second - first - 1));
    request.version = std::string(line.substr(second + 1));
    if (request.method.empty() || request.target.empty() || request.target[0] != '/' ||
        request.version.rfind("HTTP/1.", 0) != 0 || request.target.find(' ') != std::string::npos) {
        return false;
    }
    const std::size_t question = request.target.find('?');
    request.path = request.target.substr(0, question);
    if (question != std::string::npos) {
        request.query = request.target.substr(question + 1);
    }
    while (lineEnd != std::string_view::npos && lineEnd + 2 < head.size()) {
        const std::size_t start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        const std::string_view field = head.substr(start, lineEnd - start);
        const std::size_t colon = field.find(':');
        if (colon == std::string_view::npos || colon == 0) {
            return false;
        }
        request.headers.emplace_back(std::string(field.substr(0, colon)),
                                     std::string(Trim(field.substr(colon + 1))));
    }
    return true;
}

const char* Reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 206:
        return "Partial Content";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 416:
        return "Range Not Satisfiable";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Unknown";
    }
}

// The numeric address of a peer, without its port.
std::string AddressText(const sockaddr_storage& address) {
    char text[INET6_ADDRSTRLEN] = {};
    const void* raw =
        address.ss_family == AF_INET6
            ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(&address)->sin6_addr)
            : &reinterpret_cast<const sockaddr_in*>(&address)->sin_addr;
    return inet_ntop(address.ss_family, raw, text, sizeof text) ? text : "";
}

} // namespace

std::string HttpRequest::Header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (EqualsIgnoreCase(key, name)) {
            return value;
        }
    }
    return {};
}

bool HttpRequest::HasHeader(std::string_view name) const {
    return std::any_of(headers.begin(), headers.end(),
                       [&](const auto& header) { return EqualsIgnoreCase(header.first, name); });
}

std::string ResponseHead(int status,
                         const std::vector<std::pair<std::string, std::string>>& headers) {
    std::string head = "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) + "\r\n";
    for (const auto& [name, value] : headers) {
        head += name + ": " + value + "\r\n";
    }
    return head + "\r\n";
}

Connection::Connection(int fd, std::string peer, const std::atomic<bool>& stopping)
    : m_fd(fd), m_peer(std::move(peer)), m_stopping(stopping) {}

Connection::~Connection() {
    // Half-close first so the peer reads every byte already sent before it sees the end.
    shutdown(m_fd, SHUT_WR);
    close(m_fd);
}

bool Connection::Send(std::string_view data) {
    auto waited = std::chrono::milliseconds(0);
    while (!data.empty()) {
        if (m_stopping) {
            return false;
        }
        pollfd entry{m_fd, POLLOUT, 0};
        const int ready = poll(&entry, 1, static_cast<int>(kSlice.count()));
        if (ready < 0 && errno != EINTR) {
            return false;
        }
        if (ready <= 0) {
            waited += kSlice;
            if (waited >= kSendTimeout) {
                return false;
            }
            continue;
        }
        const ssize_t sent = send(m_fd, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                continue;
            }
            return false;
        }
        waited = std::chrono::milliseconds(0);
        data.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

Connection::PeerState Connection::Peek() const {
    pollfd entry{m_fd, POLLIN | POLLRDHUP, 0};
    if (poll(&entry, 1, 0) <= 0) {
        return PeerState::Open;
    }
    if (entry.revents & (POLLERR | POLLHUP | POLLRDHUP)) {
        return PeerState::Gone;
    }
    char byte = 0;
    const ssize_t got = recv(m_fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        return PeerState::Gone;
    }
    return got > 0 ? PeerState::DataWaiting : PeerState::Open;
}

bool Connection::Wait(std::chrono::milliseconds duration) {
    const auto end = std::chrono::steady_clock::now() + duration;
    while (true) {
        if (m_stopping || Peek() == PeerState::Gone) {
            return false;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return true;
        }
        std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(kSlice)));
    }
}

void Connection::WaitForPeerToLeave() {
    while (Wait(kSlice)) {
    }
}

bool Connection::ReadRequest(HttpRequest& request, bool& malformed) {
    malformed = false;
    auto idle = std::chrono::milliseconds(0);
    while (true) {
        const std::size_t end = m_buffer.find("\r\n\r\n");
        if (end != std::string::npos) {
            const std::string head = m_buffer.substr(0, end + 2);
            m_buffer.erase(0, end + 4);
            malformed = !ParseHead(head, request);
            return !malformed;
        }
        if (m_buffer.size() > kMaxHeadBytes) {
            malformed = true;
            return false;
        }
        if (m_stopping || idle >= kIdleTimeout) {
            return false;
        }
        pollfd entry{m_fd, POLLIN, 0};
        const int ready = poll(&entry, 1, static_cast<int>(kSlice.count()));
        if (ready < 0 && errno != EINTR) {
            return false;
        }
        if (ready <= 0) {
            idle += kSlice;
            continue;
        }
        char chunk[4096];
        const ssize_t got = recv(m_fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (got == 0) {
            return false;
        }
        if (got < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                continue;
            }
            return false;
        }
        m_buffer.append(chunk, static_cast<std::size_t>(got));
    }
}

HttpServer::HttpServer(RequestHandler handler) : m_handler(std::move(handler)) {}

HttpServer::~HttpServer() {
    Stop();
    ReapFinished(true);
    if (m_listenFd >= 0) {
        close(m_listenFd);
    }
}

int HttpServer::Listen(const std::string& host, int port, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_PASSIVE;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) {
        error = "cannot resolve " + host + ": " + gai_strerror(rc);
        return -1;
    }
    int fd = -1;
    for (addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
        fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            continue;
        }
        const int yes = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (bind(fd, a->ai_addr, a->ai_addrlen) != 0 || listen(fd, 128) != 0) {
            error = std::string("cannot listen: ") + std::strerror(errno);
            close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(found);
    if (fd < 0) {
        return -1;
    }
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
    m_listenFd = fd;
    if (bound.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port);
    }
    return ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
}

void HttpServer::Run() {
    while (!m_stopping) {
        pollfd entry{m_listenFd, POLLIN, 0};
        if (poll(&entry, 1, static_cast<int>(kSlice.count())) <= 0) {
            ReapFinished(false);
            continue;
        }
        sockaddr_storage from{};
        socklen_t length = sizeof from;
        const int fd =
            accept4(m_listenFd, reinterpret_cast<sockaddr*>(&from), &length, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        auto worker = std::make_unique<Worker>();
        Worker& ref = *worker;
        m_workers.push_back(std::move(worker));
        ref.thread =
            std::thread([this, fd, &ref, peer = AddressText(from)] { Serve(fd, peer, ref); });
    }
    ReapFinished(true);
}

void HttpServer::Stop() {
    m_stopping = true;
}

void HttpServer::ReapFinished(bool all) {
    for (auto it = m_workers.begin(); it != m_workers.end();) {
        if (all || (*it)->done) {
            (*it)->thread.join();
            it = m_workers.erase(it);
        } else {
            ++it;
        }
    }
}

void HttpServer::Serve(int fd, std::string peer, Worker& worker) {
    {
        Connection connection(fd, std::move(peer), m_stopping);
        HttpRequest request;
        bool malformed = false;
        while (connection.ReadRequest(request, malformed)) {
            // Bodies are never read, so a request that carries one ends the connection.
            const bool hasBody =
                request.HasHeader("Transfer-Encoding") ||
                (request.HasHeader("Content-Length") && request.Header("Content-Length") != "0");
            const bool wantsClose = request.version == "HTTP/1.0" ||
                                    strcasecmp(request.Header("Connection").c_str(), "close") == 0;
            if (!m_handler(request, connection) || hasBody || wantsClose) {
                break;
            }
        }
        if (malformed) {
            connection.Send(ResponseHead(400, {{"Content-Length", "0"}, {"Connection", "close"}}));
        }
    }
    worker.done = true;
}

} // namespace sharesim
