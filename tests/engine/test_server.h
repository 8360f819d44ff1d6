#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

// How the loopback server answers one path.
struct ServedFile {
    std::string body;
    bool ranges = true;     // honour "Range: bytes=a-b"
    bool sendLength = true; // announce Content-Length (else the end is the connection's close)
    std::string etag;
    std::string redirectTo; // answer 302 to this path instead
    int status = 0;         // answer this status with an empty body instead
    int statusTimes = -1;   // ... for this many requests only (-1: always)
    int dropAfter = -1;     // close after this many body bytes ...
    int dropTimes = 0;      // ... in this many responses
    int stallAfter = -1;    // stop sending after this many body bytes, without closing ...
    int stallTimes = 0;     // ... in this many responses
    int bytesPerSecond = 0; // pace each response (0: as fast as possible)
    // The first `slowTimes` responses whose range starts at or after `slowFrom` (within the
    // file) crawl at `slowBytesPerSecond`; once they are used up, every later response sends
    // `laterBody` instead of `body` when that is set (a server whose content changed under the
    // same name).
    long long slowFrom = -1;
    int slowTimes = 0;
    int slowBytesPerSecond = 0;
    std::string laterBody;
    // A file that changes on the server: once this many body bytes of the path have been sent
    // (over all responses), every response that starts later sends `laterBody` with
    // `laterEtag`. A response under way keeps the version it started with.
    long long changeAfter = -1;
    std::string laterEtag;
    bool flipFlop = false; // after the switch, responses alternate between the two versions
    int flips = 0;
    bool honourIfRange = true;   // answer a range whose If-Range names another version whole
    long long claimedTotal = -1; // a lying size: this total in a Content-Range, or as the
                                 // Content-Length of a whole-file answer
    int dripHeadTimes = 0; // this many responses trickle padding lines of head (2 KiB/s) first,
                           // for up to a minute or until the client leaves
};

// One logged request: its path and the first byte it asked for (-1 without a Range header).
struct LoggedRequest {
    std::string path;
    long long rangeStart = -1;
    std::string ifRange;
    std::string host;
    std::string userAgent;
    std::string referer;
    std::string cookie;
};

// An HTTP/1.1 server on 127.0.0.1 (or ::1) with a thread per connection; every answer closes
// its connection. Scripted per path so that tests can drop, stall, refuse, redirect or change
// the file.
class TestServer {
public:
    explicit TestServer(bool ipv6 = false);
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    std::string Url(const std::string& path) const;
    void Serve(const std::string& path, const ServedFile& file);
    std::vector<LoggedRequest> Log() const;
    // Cuts every open connection at once, as a server outage would.
    void DropAll();

private:
    void AcceptLoop();
    void HandleConnection(int fd);
    bool SendAll(int fd, const char* data, size_t size);
    // Sends the status line and headers, then padding lines at 2 KiB/s; false when the client
    // left meanwhile. The caller ends the head.
    bool DripHead(int fd, const std::string& statusAndHeaders);
    void Answer(int fd, const std::string& path, long long first, long long last,
                const std::string& ifRange);

    int m_listen = -1;
    int m_port = 0;
    bool m_ipv6 = false;
    std::atomic<bool> m_stopping{false};

    std::thread m_acceptor;
    mutable std::mutex m_mutex;
    // The bodies are shared with the answering threads, so that a large file is not copied
    // for every request.
    struct Entry {
        ServedFile config; // without its bodies
        std::shared_ptr<const std::string> body;
        std::shared_ptr<const std::string> laterBody;
        std::shared_ptr<std::atomic<long long>> sent = std::make_shared<std::atomic<long long>>(0);
    };
    std::map<std::string, Entry> m_files;
    std::vector<LoggedRequest> m_log;
    std::vector<std::thread> m_workers;
    std::set<int> m_open; // client sockets being answered
};
