#include "test_server.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr size_t kChunk = 16 * 1024;

std::string HeaderValue(const std::string& head, const char* name) {
    const size_t n = std::strlen(name);
    size_t pos = 0;
    while ((pos = head.find("\r\n", pos)) != std::string::npos) {
        pos += 2;
        if (strncasecmp(head.c_str() + pos, name, n) == 0 && head[pos + n] == ':') {
            const size_t end = head.find("\r\n", pos);
            std::string value = head.substr(pos + n + 1, end - pos - n - 1);
            value.erase(0, value.find_first_not_of(' '));
            return value;
        }
    }
    return {};
}

} // namespace

TestServer::TestServer(bool ipv6) : m_ipv6(ipv6) {
    m_listen = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage storage{};
    socklen_t len = 0;
    if (ipv6) {
        auto* addr = reinterpret_cast<sockaddr_in6*>(&storage);
        addr->sin6_family = AF_INET6;
        addr->sin6_addr = in6addr_loopback;
        len = sizeof *addr;
    } else {
        auto* addr = reinterpret_cast<sockaddr_in*>(&storage);
        addr->sin_family = AF_INET;
        addr->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        len = sizeof *addr;
    }
    auto* addr = reinterpret_cast<sockaddr*>(&storage);
    if (m_listen < 0 || bind(m_listen, addr, len) != 0 || listen(m_listen, 64) != 0 ||
        getsockname(m_listen, addr, &len) != 0) {
        throw std::runtime_error("cannot listen on loopback");
    }
    m_port = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                        : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
    m_acceptor = std::thread([this] { AcceptLoop(); });
}

TestServer::~TestServer() {
    m_stopping = true;
    shutdown(m_listen, SHUT_RDWR);
    m_acceptor.join();
    close(m_listen);
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(m_mutex);
        workers.swap(m_workers);
    }
    for (auto& t : workers) {
        t.join();
    }
}

std::string TestServer::Url(const std::string& path) const {
    return (m_ipv6 ? "http://[::1]:" : "http://127.0.0.1:") + std::to_string(m_port) + path;
}

void TestServer::Serve(const std::string& path, const ServedFile& file) {
    std::lock_guard lock(m_mutex);
    Entry entry;
    entry.config = file;
    entry.body = std::make_shared<const std::string>(std::move(entry.config.body));
    entry.laterBody = std::make_shared<const std::string>(std::move(entry.config.laterBody));
    entry.config.body.clear();
    entry.config.laterBody.clear();
    m_files[path] = std::move(entry);
}

std::vector<LoggedRequest> TestServer::Log() const {
    std::lock_guard lock(m_mutex);
    return m_log;
}

void TestServer::DropAll() {
    std::lock_guard lock(m_mutex);
    for (int fd : m_open) {
        shutdown(fd, SHUT_RDWR);
    }
}

void TestServer::AcceptLoop() {
    while (!m_stopping) {
        pollfd p{m_listen, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) {
            continue;
        }
        const int fd = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        std::lock_guard lock(m_mutex);
        m_open.insert(fd);
        m_workers.emplace_back([this, fd] {
            HandleConnection(fd);
            {
                std::lock_guard lock(m_mutex);
                m_open.erase(fd);
            }
            close(fd);
        });
    }
}

bool TestServer::SendAll(int fd, const char* data, size_t size) {
    while (size > 0 && !m_stopping) {
        const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return size == 0;
}

void TestServer::HandleConnection(int fd) {
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0) {
            return;
        }
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            return;
        }
        head.append(buffer, static_cast<size_t>(n));
    }
    const size_t sp1 = head.find(' ');
    const size_t sp2 = head.find(' ', sp1 + 1);
    if (sp1 == std::string::npos || sp2 == std::string::npos) {
        return;
    }
    const std::string path = head.substr(sp1 + 1, sp2 - sp1 - 1);
    long long first = -1, last = -1;
    const std::string range = HeaderValue(head, "Range");
    if (!range.empty() && std::sscanf(range.c_str(), "bytes=%lld-%lld", &first, &last) < 1) {
        first = -1;
    }
    {
        std::lock_guard lock(m_mutex);
        m_log.push_back(LoggedRequest{path, first, HeaderValue(head, "If-Range"),
                                      HeaderValue(head, "Host"), HeaderValue(head, "User-Agent"),
                                      HeaderValue(head, "Referer"), HeaderValue(head, "Cookie")});
    }
    Answer(fd, path, first, last, HeaderValue(head, "If-Range"));
}

void TestServer::Answer(int fd, const std::string& path, long long first, long long last,
                        const std::string& ifRange) {
    ServedFile f;
    std::shared_ptr<const std::string> body = std::make_shared<const std::string>();
    std::shared_ptr<std::atomic<long long>> counted;
    int dropAfter = -1, stallAfter = -1;
    int pace = 0;
    bool dripHead = false;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_files.find(path);
        if (it == m_files.end()) {
            f.status = 404;
        } else {
            f = it->second.config;
            body = it->second.body;
            ServedFile& live = it->second.config;
            if (live.statusTimes > 0 && --live.statusTimes == 0) {
                live.status = 0;
            }
            if (live.dropTimes > 0) {
                --live.dropTimes;
                dropAfter = live.dropAfter;
            }
            if (live.stallTimes > 0) {
                --live.stallTimes;
                stallAfter = live.stallAfter;
            }
            pace = live.bytesPerSecond;
            if (live.dripHeadTimes > 0) {
                --live.dripHeadTimes;
                dripHead = true;
            }
            // Only a response with bytes of the file can crawl (a range past its end cannot).
            const long long start = std::max(first, 0LL);
            if (live.slowFrom >= 0 && live.slowTimes > 0 && start >= live.slowFrom &&
                start < static_cast<long long>(body->size())) {
                --live.slowTimes;
                pace = live.slowBytesPerSecond;
            } else if (live.slowFrom >= 0 && live.slowTimes == 0 &&
                       !it->second.laterBody->empty()) {
                body = it->second.laterBody;
            }
            counted = it->second.sent;
            if (live.changeAfter >= 0 && *counted >= live.changeAfter &&
                (!live.flipFlop || live.flips++ % 2 == 0)) {
                body = it->second.laterBody;
                f.etag = live.laterEtag;
            }
        }
    }
    std::string head;
    if (!f.redirectTo.empty()) {
        head = "HTTP/1.1 302 Found\r\nLocation: " + f.redirectTo +
               "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        SendAll(fd, head.data(), head.size());
        return;
    }
    if (f.status != 0) {
        head = "HTTP/1.1 " + std::to_string(f.status) +
               " Scripted\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        SendAll(fd, head.data(), head.size());
        return;
    }
    const long long size = static_cast<long long>(body->size());
    long long begin = 0, end = size; // [begin, end)
    // A range of another version is no use to the client: it gets the whole file instead.
    const bool sameVersion = ifRange.empty() || !f.honourIfRange || ifRange == f.etag;
    if (f.ranges && first >= 0 && sameVersion) {
        if (first >= size) {
            head = "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */" +
                   std::to_string(size) + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
            SendAll(fd, head.data(), head.size());
            return;
        }
        begin = first;
        end = last >= first ? std::min(last + 1, size) : size;
        head = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(begin) +
               "-" + std::to_string(end - 1) + "/" +
               std::to_string(f.claimedTotal >= 0 ? f.claimedTotal : size) + "\r\n";
    } else {
        head = "HTTP/1.1 200 OK\r\n";
    }
    if (f.ranges) {
        head += "Accept-Ranges: bytes\r\n";
    }
    if (!f.etag.empty()) {
        head += "ETag: " + f.etag + "\r\n";
    }
    if (f.sendLength) {
        const bool whole = head.rfind("HTTP/1.1 200", 0) == 0;
        const long long length = whole && f.claimedTotal >= 0 ? f.claimedTotal : end - begin;
        head += "Content-Length: " + std::to_string(length) + "\r\n";
    }
    head += "Connection: close\r\n";
    if (dripHead) {
        if (!DripHead(fd, head)) {
            return;
        }
        head.clear();
    }
    head += "\r\n";
    if (!SendAll(fd, head.data(), head.size())) {
        return;
    }
    long long sent = 0;
    const auto started = std::chrono::steady_clock::now();
    while (begin + sent < end && !m_stopping) {
        // Stop as soon as the client has hung up, so that a connection it cut is not counted
        // as open for longer than it takes to send one chunk.
        pollfd hangUp{fd, POLLRDHUP, 0};
        if (poll(&hangUp, 1, 0) > 0 && (hangUp.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) {
            return;
        }
        long long n = std::min<long long>(kChunk, end - begin - sent);
        if (pace > 0) {
            n = std::min<long long>(n, std::max(1, pace / 4)); // a slow pace trickles
        }
        if (dropAfter >= 0) {
            if (sent >= dropAfter) {
                return;
            }
            n = std::min<long long>(n, dropAfter - sent);
        }
        if (stallAfter >= 0 && sent >= stallAfter) {
            // Hold the connection open and silent until the client gives up.
            char probe;
            while (!m_stopping) {
                pollfd p{fd, POLLIN, 0};
                if (poll(&p, 1, 50) > 0 && recv(fd, &probe, 1, MSG_DONTWAIT) == 0) {
                    break;
                }
            }
            return;
        }
        if (stallAfter >= 0) {
            n = std::min<long long>(n, stallAfter - sent);
        }
        if (!SendAll(fd, body->data() + begin + sent, static_cast<size_t>(n))) {
            return;
        }
        sent += n;
        if (counted) {
            *counted += n;
        }
        if (pace > 0) {
            const auto due = started + std::chrono::microseconds(sent * 1000000 / pace);
            std::this_thread::sleep_until(due);
        }
    }
}

bool TestServer::DripHead(int fd, const std::string& statusAndHeaders) {
    if (!SendAll(fd, statusAndHeaders.data(), statusAndHeaders.size())) {
        return false;
    }
    const std::string padding = "X-Padding: " + std::string(186, 'p') + "\r\n"; // 200 bytes
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < until && !m_stopping) {
        pollfd hangUp{fd, POLLRDHUP, 0};
        if (poll(&hangUp, 1, 100) > 0 && (hangUp.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) {
            return false;
        }
        if (!SendAll(fd, padding.data(), padding.size())) {
            return false;
        }
    }
    return true;
}
