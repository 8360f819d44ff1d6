#include "support/loopback_server.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <strings.h>
#include <utility>

#include "support/loopback_ports.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPollMillis = 50;
constexpr auto kReadLimit = std::chrono::seconds(20); // for a request's head and body
constexpr std::size_t kChunk = 16 * 1024;

// Waits for the socket to become readable, giving up when the server stops or time runs out.
bool WaitReadable(int fd, const std::atomic<bool>& stop, Clock::time_point deadline) {
    while (!stop && Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, kPollMillis) > 0) {
            return true;
        }
    }
    return false;
}

// Reads until `data` holds at least `size` bytes; false when the peer closes or time runs out.
bool ReadUntilSize(int fd, std::string& data, std::size_t size, const std::atomic<bool>& stop,
                   Clock::time_point deadline) {
    char buffer[65536];
    while (data.size() < size) {
        if (!WaitReadable(fd, stop, deadline)) {
            return false;
        }
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) {
            return false;
        }
        data.append(buffer, static_cast<std::size_t>(got));
    }
    return true;
}

bool ReadUntilMarker(int fd, std::string& data, const std::string& marker, std::size_t from,
                     const std::atomic<bool>& stop, Clock::time_point deadline) {
    while (data.find(marker, from) == std::string::npos) {
        if (!ReadUntilSize(fd, data, data.size() + 1, stop, deadline)) {
            return false;
        }
    }
    return true;
}

// The first and last byte of "Range: bytes=a-b"; -1 for what is not there.
std::pair<long long, long long> RangeOf(const RecordedRequest& request) {
    long long first = -1, last = -1;
    const std::string range = request.Header("Range");
    if (!range.empty() && std::sscanf(range.c_str(), "bytes=%lld-%lld", &first, &last) < 1) {
        first = -1;
    }
    return {first, last};
}

std::string EmptyAnswer(const std::string& status, const std::string& headers = "") {
    return "HTTP/1.1 " + status + "\r\n" + headers +
           "Content-Length: 0\r\nConnection: close\r\n\r\n";
}

} // namespace

std::string RecordedRequest::Path() const {
    const std::size_t start = requestLine.find(' ');
    const std::size_t end = requestLine.find(' ', start + 1);
    return start == std::string::npos || end == std::string::npos
               ? std::string()
               : requestLine.substr(start + 1, end - start - 1);
}

std::string RecordedRequest::Header(std::string_view name) const {
    for (const std::string& line : headerLines) {
        if (line.size() > name.size() && line[name.size()] == ':' &&
            strncasecmp(line.c_str(), name.data(), name.size()) == 0) {
            const std::size_t start = line.find_first_not_of(' ', name.size() + 1);
            return start == std::string::npos ? std::string() : line.substr(start);
        }
    }
    return {};
}

long long RecordedRequest::RangeStart() const {
    return RangeOf(*this).first;
}

std::string HeadOf(const RecordedRequest& request) {
    std::string out = request.requestLine + "\n";
    for (const std::string& line : request.headerLines) {
        out += line + "\n";
    }
    return out;
}

Responder Answer(const std::string& response) {
    return [response](const RecordedRequest&) { return response; };
}

// One scripted answer of a served path, fixed when its request arrives.
struct LoopbackServer::FileAnswer {
    ServedFile file; // the script as it stood, without its bodies; the ETag of `body`
    std::shared_ptr<const std::string> body;
    std::shared_ptr<std::atomic<long long>> counted; // body bytes sent on this path
    int dropAfter = -1;
    int stallAfter = -1;
    int pace = 0;
    bool dripHead = false;
};

LoopbackServer::LoopbackServer(Family family) : LoopbackServer(Responder(), family) {}

LoopbackServer::LoopbackServer(Responder responder, Family family)
    : m_responder(std::move(responder)), m_ipv6(family == Family::kIPv6) {
    m_listener = LoopbackSocket(m_ipv6, 64, m_port);
    m_acceptor = std::thread([this] { AcceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
    m_stopping = true;
    shutdown(m_listener, SHUT_RDWR);
    m_acceptor.join();
    close(m_listener);
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(m_mutex);
        workers.swap(m_workers);
    }
    for (auto& worker : workers) {
        worker.join();
    }
}

std::string LoopbackServer::Url(const std::string& path) const {
    return (m_ipv6 ? "http://[::1]:" : "http://127.0.0.1:") + std::to_string(m_port) + path;
}

void LoopbackServer::Serve(const std::string& path, const ServedFile& file) {
    std::lock_guard lock(m_mutex);
    Entry entry;
    entry.config = file;
    entry.body = std::make_shared<const std::string>(std::move(entry.config.body));
    entry.laterBody = std::make_shared<const std::string>(std::move(entry.config.laterBody));
    entry.config.body.clear();
    entry.config.laterBody.clear();
    m_files[path] = std::move(entry);
}

std::vector<RecordedRequest> LoopbackServer::Requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

void LoopbackServer::DropAll() {
    std::lock_guard lock(m_mutex);
    for (const int fd : m_open) {
        shutdown(fd, SHUT_RDWR);
    }
}

std::string LoopbackServer::Response(const std::string& status,
                                     const std::vector<std::string>& headers,
                                     const std::string& body) {
    std::string out = "HTTP/1.1 " + status + "\r\n";
    for (const std::string& line : headers) {
        out += line + "\r\n";
    }
    out += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    return out;
}

void LoopbackServer::AcceptLoop() {
    while (!m_stopping) {
        pollfd p{m_listener, POLLIN, 0};
        if (poll(&p, 1, kPollMillis) <= 0) {
            continue;
        }
        const int fd = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
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

void LoopbackServer::HandleConnection(int fd) {
    std::optional<RecordedRequest> request = ReadRequest(fd);
    if (!request) {
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(*request);
    }
    if (std::optional<FileAnswer> plan = PlanFileAnswer(*request)) {
        AnswerFile(fd, *request, *plan);
    } else if (!m_responder) {
        SendAll(fd, EmptyAnswer("404 Scripted"));
    } else if (std::optional<std::string> answer = m_responder(*request)) {
        SendAll(fd, *answer);
    } else {
        HoldSilent(fd);
        return;
    }
    shutdown(fd, SHUT_WR);
    // Let the client read everything before the close, so it never sees a reset instead.
    char buffer[4096];
    const auto lingerEnd = Clock::now() + std::chrono::milliseconds(200);
    while (WaitReadable(fd, m_stopping, lingerEnd) && recv(fd, buffer, sizeof buffer, 0) > 0) {
    }
}

std::optional<RecordedRequest> LoopbackServer::ReadRequest(int fd) {
    const auto deadline = Clock::now() + kReadLimit;
    std::string data;
    if (!ReadUntilMarker(fd, data, "\r\n\r\n", 0, m_stopping, deadline)) {
        return std::nullopt;
    }
    const std::size_t headEnd = data.find("\r\n\r\n");
    RecordedRequest request;
    for (std::size_t lineStart = 0; lineStart < headEnd;) {
        const std::size_t lineEnd = data.find("\r\n", lineStart);
        std::string line = data.substr(lineStart, lineEnd - lineStart);
        if (lineStart == 0) {
            request.requestLine = std::move(line);
        } else {
            request.headerLines.push_back(std::move(line));
        }
        lineStart = lineEnd + 2;
    }
    std::size_t position = headEnd + 4;
    const std::string length = request.Header("Content-Length");
    if (strcasecmp(request.Header("Transfer-Encoding").c_str(), "chunked") == 0) {
        while (ReadUntilMarker(fd, data, "\r\n", position, m_stopping, deadline)) {
            const std::size_t sizeEnd = data.find("\r\n", position);
            const std::size_t size = std::strtoul(data.c_str() + position, nullptr, 16);
            position = sizeEnd + 2;
            if (!ReadUntilSize(fd, data, position + size + 2, m_stopping, deadline)) {
                break;
            }
            request.body += data.substr(position, size);
            position += size + 2;
            if (size == 0) {
                break;
            }
        }
    } else if (!length.empty()) {
        const std::size_t size = std::strtoul(length.c_str(), nullptr, 10);
        ReadUntilSize(fd, data, position + size, m_stopping, deadline);
        request.body = data.substr(position, size);
    }
    return request;
}

bool LoopbackServer::SendAll(int fd, std::string_view data) {
    while (!data.empty() && !m_stopping) {
        const ssize_t n = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n <= 0) {
            return false; // the client gave up; nothing more to say
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return data.empty();
}

void LoopbackServer::HoldSilent(int fd) {
    char buffer[4096];
    while (WaitReadable(fd, m_stopping, Clock::time_point::max()) &&
           recv(fd, buffer, sizeof buffer, 0) > 0) {
    }
}

std::optional<LoopbackServer::FileAnswer>
LoopbackServer::PlanFileAnswer(const RecordedRequest& request) {
    std::lock_guard lock(m_mutex);
    const auto it = m_files.find(request.Path());
    if (it == m_files.end()) {
        return std::nullopt;
    }
    Entry& entry = it->second;
    FileAnswer plan{entry.config, entry.body, entry.sent};
    ServedFile& live = entry.config;
    if (live.statusTimes > 0 && --live.statusTimes == 0) {
        live.status = 0;
    }
    if (live.dropTimes > 0) {
        --live.dropTimes;
        plan.dropAfter = live.dropAfter;
    }
    if (live.stallTimes > 0) {
        --live.stallTimes;
        plan.stallAfter = live.stallAfter;
    }
    plan.pace = live.bytesPerSecond;
    if (live.dripHeadTimes > 0) {
        --live.dripHeadTimes;
        plan.dripHead = true;
    }
    // Only a response with bytes of the file can crawl (a range past its end cannot).
    const long long start = std::max(request.RangeStart(), 0LL);
    if (live.slowFrom >= 0 && live.slowTimes > 0 && start >= live.slowFrom &&
        start < static_cast<long long>(entry.body->size())) {
        --live.slowTimes;
        plan.pace = live.slowBytesPerSecond;
    } else if (live.slowFrom >= 0 && live.slowTimes == 0 && !entry.laterBody->empty()) {
        plan.body = entry.laterBody;
    }
    if (live.changeAfter >= 0 && *entry.sent >= live.changeAfter &&
        (!live.flipFlop || live.flips++ % 2 == 0)) {
        plan.body = entry.laterBody;
        plan.file.etag = live.laterEtag;
    }
    return plan;
}

void LoopbackServer::AnswerFile(int fd, const RecordedRequest& request, const FileAnswer& plan) {
    const ServedFile& f = plan.file;
    if (!f.redirectTo.empty()) {
        SendAll(fd, EmptyAnswer("302 Found", "Location: " + f.redirectTo + "\r\n"));
        return;
    }
    if (f.status != 0) {
        SendAll(fd, EmptyAnswer(std::to_string(f.status) + " Scripted"));
        return;
    }
    const long long size = static_cast<long long>(plan.body->size());
    const auto [first, last] = RangeOf(request);
    const std::string ifRange = request.Header("If-Range");
    long long begin = 0, end = size; // [begin, end)
    // A range of another version is no use to the client: it gets the whole file instead.
    const bool sameVersion = ifRange.empty() || !f.honourIfRange || ifRange == f.etag;
    std::string head;
    if (f.ranges && first >= 0 && sameVersion) {
        if (f.rangesFromStart) {
            end = size;
        } else if (first >= size) {
            SendAll(fd, EmptyAnswer("416 Range Not Satisfiable",
                                    "Content-Range: bytes */" + std::to_string(size) + "\r\n"));
            return;
        } else {
            begin = first;
            end = last >= first ? std::min(last + 1, size) : size;
        }
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
    if (plan.dripHead) {
        if (!DripHead(fd, head)) {
            return;
        }
        head.clear();
    }
    head += "\r\n";
    if (SendAll(fd, head)) {
        SendBody(fd, plan, begin, end);
    }
}

void LoopbackServer::SendBody(int fd, const FileAnswer& plan, long long begin, long long end) {
    long long sent = 0;
    const auto started = Clock::now();
    while (begin + sent < end && !m_stopping) {
        // Stop as soon as the client has hung up, so that a connection it cut is not counted
        // as open for longer than it takes to send one chunk.
        pollfd hangUp{fd, POLLRDHUP, 0};
        if (poll(&hangUp, 1, 0) > 0 && (hangUp.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) {
            return;
        }
        long long n = std::min<long long>(kChunk, end - begin - sent);
        if (plan.pace > 0) {
            n = std::min<long long>(n, std::max(1, plan.pace / 4)); // a slow pace trickles
        }
        if (plan.dropAfter >= 0) {
            if (sent >= plan.dropAfter) {
                return;
            }
            n = std::min<long long>(n, plan.dropAfter - sent);
        }
        if (plan.stallAfter >= 0 && sent >= plan.stallAfter) {
            HoldSilent(fd);
            return;
        }
        if (plan.stallAfter >= 0) {
            n = std::min<long long>(n, plan.stallAfter - sent);
        }
        if (!SendAll(fd, std::string_view(*plan.body).substr(begin + sent, n))) {
            return;
        }
        sent += n;
        *plan.counted += n;
        if (plan.pace > 0) {
            std::this_thread::sleep_until(started +
                                          std::chrono::microseconds(sent * 1000000 / plan.pace));
        }
    }
}

bool LoopbackServer::DripHead(int fd, const std::string& statusAndHeaders) {
    if (!SendAll(fd, statusAndHeaders)) {
        return false;
    }
    const std::string padding = "X-Padding: " + std::string(186, 'p') + "\r\n"; // 200 bytes
    const auto until = Clock::now() + std::chrono::seconds(60);
    while (Clock::now() < until && !m_stopping) {
        pollfd hangUp{fd, POLLRDHUP, 0};
        if (poll(&hangUp, 1, 100) > 0 && (hangUp.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) {
            return false;
        }
        if (!SendAll(fd, padding)) {
            return false;
        }
    }
    return true;
}
