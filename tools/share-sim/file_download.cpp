#include "file_download.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <ctime>
#include <vector>

namespace sharesim {
namespace {

using Headers = std::vector<std::pair<std::string, std::string>>;
constexpr std::uint64_t kChunk = 64 * 1024;

std::optional<std::uint64_t> Number(std::string_view text) {
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::string HttpDate(std::time_t when) {
    std::tm parts{};
    gmtime_r(&when, &parts);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
    return text;
}

std::string ContentType(const std::filesystem::path& path) {
    const std::string ext = path.extension().string();
    if (ext == ".txt") {
        return "text/plain; charset=utf-8";
    }
    if (ext == ".png") {
        return "image/png";
    }
    if (ext == ".html" || ext == ".htm") {
        return "text/html; charset=utf-8";
    }
    return "application/octet-stream";
}

class FileHandle {
public:
    explicit FileHandle(const std::filesystem::path& path)
        : m_fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW)) {}
    ~FileHandle() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

RangeAnswer ParseRange(std::string_view header, std::uint64_t size) {
    RangeAnswer whole;
    if (header.rfind("bytes=", 0) != 0 || header.find(',') != std::string_view::npos) {
        return whole;
    }
    std::string_view ranges = header.substr(6);
    while (!ranges.empty() && ranges.front() == ' ') {
        ranges.remove_prefix(1);
    }
    while (!ranges.empty() && ranges.back() == ' ') {
        ranges.remove_suffix(1);
    }
    const std::size_t dash = ranges.find('-');
    if (dash == std::string_view::npos) {
        return whole;
    }
    const auto first = Number(ranges.substr(0, dash));
    const auto last = Number(ranges.substr(dash + 1));
    if (!first) { // suffix: the last n bytes
        if (dash != 0 || !last) {
            return whole;
        }
        if (*last == 0 || size == 0) {
            return {RangeAnswer::Kind::Unsatisfiable};
        }
        return {RangeAnswer::Kind::Part, size - std::min(*last, size), size - 1};
    }
    if (dash + 1 != ranges.size() && (!last || *last < *first)) {
        return whole;
    }
    if (*first >= size) {
        return {RangeAnswer::Kind::Unsatisfiable};
    }
    return {RangeAnswer::Kind::Part, *first, last ? std::min(*last, size - 1) : size - 1};
}

FileDownload::FileDownload(const Options& options)
    : m_options(options), m_random(options.seed ? *options.seed : std::random_device()()) {
    if (!options.log.empty()) {
        m_log.open(options.log, std::ios::app);
    }
}

FileDownload::Plan FileDownload::MakePlan() {
    std::lock_guard lock(m_mutex);
    Plan plan;
    plan.rate = m_options.rate;
    if (m_options.slowOneIn > 0 &&
        std::uniform_int_distribution<std::uint64_t>(1, m_options.slowOneIn)(m_random) == 1) {
        plan.rate = std::max<std::uint64_t>(
            1,
            static_cast<std::uint64_t>(static_cast<double>(m_options.rate) / m_options.slowFactor));
    }
    if (m_options.dropAfter) {
        plan.dropAt = std::uniform_int_distribution<std::uint64_t>(
            m_options.dropAfter->min, m_options.dropAfter->max)(m_random);
        plan.dropAt = std::max<std::uint64_t>(plan.dropAt, 1);
    }
    plan.failWith503 =
        m_options.fail5xx > 0 && std::bernoulli_distribution(m_options.fail5xx)(m_random);
    return plan;
}

void FileDownload::Log(const HttpRequest& request, std::uint64_t sent, int status) {
    if (!m_log.is_open()) {
        return;
    }
    const std::string range = request.Header("Range");
    std::lock_guard lock(m_mutex);
    m_log << request.method << '\t' << request.path << '\t' << (range.empty() ? "-" : range) << '\t'
          << sent << '\t' << status << std::endl;
}

bool FileDownload::Refuse(const HttpRequest& request, Connection& connection, int status) {
    Log(request, 0, status);
    return connection.Send(ResponseHead(status, {{"Content-Length", "0"}}));
}

bool FileDownload::TakeSlot(const std::string& peer) {
    if (m_options.maxConns == 0) {
        return true;
    }
    std::lock_guard lock(m_slotMutex);
    std::uint64_t& count = m_downloads[peer];
    if (count >= m_options.maxConns) {
        return false;
    }
    ++count;
    return true;
}

void FileDownload::ReleaseSlot(const std::string& peer) {
    if (m_options.maxConns == 0) {
        return;
    }
    std::lock_guard lock(m_slotMutex);
    if (--m_downloads[peer] == 0) {
        m_downloads.erase(peer);
    }
}

bool FileDownload::Serve(const HttpRequest& request, Connection& connection,
                         const std::filesystem::path& path) {
    if (!TakeSlot(connection.Peer())) {
        Log(request, 0, 503);
        return connection.Send(ResponseHead(503, {{"Content-Length", "0"}}));
    }
    struct SlotGuard {
        FileDownload& owner;
        const std::string& peer;
        ~SlotGuard() { owner.ReleaseSlot(peer); }
    } slot{*this, connection.Peer()};
    const Plan plan = MakePlan();
    if (plan.failWith503) {
        Log(request, 0, 503);
        return connection.Send(ResponseHead(503, {{"Retry-After", "1"}, {"Content-Length", "0"}}));
    }
    FileHandle file(path);
    struct stat info {};
    if (file.Get() < 0 || fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return Refuse(request, connection, 404);
    }
    const auto size = static_cast<std::uint64_t>(info.st_size);
    const std::string etag = "\"" + std::to_string(size) + "-" +
                             std::to_string(info.st_mtim.tv_sec) + "." +
                             std::to_string(info.st_mtim.tv_nsec) + "\"";
    const std::string modified = HttpDate(info.st_mtim.tv_sec);
    Headers headers = {{"ETag", etag}, {"Last-Modified", modified}};
    if (!m_options.noRanges) {
        headers.emplace_back("Accept-Ranges", "bytes");
    }

    RangeAnswer range =
        m_options.noRanges ? RangeAnswer() : ParseRange(request.Header("Range"), size);
    // A range of an older version of the file is no use: send the whole new one.
    const std::string ifRange = request.Header("If-Range");
    if (!ifRange.empty() && ifRange != etag && ifRange != modified) {
        range = RangeAnswer();
    }
    if (range.kind == RangeAnswer::Kind::Unsatisfiable) {
        headers.emplace_back("Content-Range", "bytes */" + std::to_string(size));
        headers.emplace_back("Content-Length", "0");
        Log(request, 0, 416);
        return connection.Send(ResponseHead(416, headers));
    }
    int status = 200;
    std::uint64_t first = 0;
    std::uint64_t length = size;
    if (range.kind == RangeAnswer::Kind::Part) {
        status = 206;
        first = range.first;
        length = range.last - range.first + 1;
        headers.emplace_back("Content-Range", "bytes " + std::to_string(range.first) + "-" +
                                                  std::to_string(range.last) + "/" +
                                                  std::to_string(size));
    }
    headers.emplace_back("Content-Type", ContentType(path));
    headers.emplace_back("Content-Length", std::to_string(length));
    if (!connection.Send(ResponseHead(status, headers))) {
        Log(request, 0, status);
        return false;
    }
    std::uint64_t sent = 0;
    const bool usable =
        request.method == "HEAD" || SendBody(connection, file.Get(), first, length, plan, sent);
    Log(request, sent, status);
    return usable;
}

bool FileDownload::SendBody(Connection& connection, int fd, std::uint64_t first,
                            std::uint64_t length, const Plan& plan, std::uint64_t& sent) {
    const auto start = std::chrono::steady_clock::now();
    // Small chunks under a rate limit keep the pace even instead of bursty.
    const std::uint64_t chunkLimit =
        plan.rate > 0 ? std::clamp<std::uint64_t>(plan.rate / 20, 1, kChunk) : kChunk;
    const bool stallPossible = m_options.stallAfter.has_value();
    bool stallChecked = false;
    std::vector<char> buffer(kChunk);
    while (sent < length) {
        if (plan.dropAt > 0 && sent >= plan.dropAt) {
            return false; // the caller closes the connection mid-body
        }
        if (stallPossible && !stallChecked && sent >= *m_options.stallAfter) {
            stallChecked = true;
            if (m_options.stallEvery || !m_stallTaken.exchange(true)) {
                connection.WaitForPeerToLeave();
                return false;
            }
        }
        std::uint64_t chunk = std::min(chunkLimit, length - sent);
        if (plan.dropAt > 0) {
            chunk = std::min(chunk, plan.dropAt - sent);
        }
        if (stallPossible && !stallChecked) {
            chunk = std::min(chunk, *m_options.stallAfter - sent);
        }
        const ssize_t got = pread(fd, buffer.data(), chunk, static_cast<off_t>(first + sent));
        if (got <= 0) {
            return false; // the file shrank: the promised length cannot be kept
        }
        if (!connection.Send(std::string_view(buffer.data(), static_cast<std::size_t>(got)))) {
            return false;
        }
        sent += static_cast<std::uint64_t>(got);
        if (plan.rate > 0) {
            const auto due = start + std::chrono::microseconds(sent * 1000000 / plan.rate);
            const auto ahead = std::chrono::duration_cast<std::chrono::milliseconds>(
                due - std::chrono::steady_clock::now());
            if (ahead.count() > 0 && !connection.Wait(ahead)) {
                return false;
            }
        }
    }
    return true;
}

} // namespace sharesim
