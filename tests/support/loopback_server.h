#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// One request exactly as it arrived on the socket: nothing in between reorders or rewrites a
// header line.
struct RecordedRequest {
    std::string requestLine;              // without its CRLF
    std::vector<std::string> headerLines; // in arrival order, without CRLF
    std::string body;                     // Content-Length bytes, or the chunks joined

    // The request target: the request line between its first and second space.
    std::string Path() const;
    // The first header line of that name (in any case), without leading spaces; "" when none.
    std::string Header(std::string_view name) const;
    // The first byte a "Range: bytes=a-b" asks for; -1 without one.
    long long RangeStart() const;
};

// The request line and header lines of one request, each followed by "\n"; easy to compare
// and to read in a failure message.
std::string HeadOf(const RecordedRequest& request);

// The raw bytes to answer with; nullopt keeps the connection open without a word until the
// client gives up or the server stops.
using Responder = std::function<std::optional<std::string>(const RecordedRequest&)>;
// The same bytes for every request.
Responder Answer(const std::string& response);

// How the server answers one path as a file, scripted.
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
    bool honourIfRange = true;    // answer a range whose If-Range names another version whole
    bool rangesFromStart = false; // answer every range with the file from its first byte, as a
                                  // server that ignores the start asked for
    long long claimedTotal = -1;  // a lying size: this total in a Content-Range, or as the
                                  // Content-Length of a whole-file answer
    int dripHeadTimes = 0; // this many responses trickle padding lines of head (2 KiB/s) first,
                           // for up to a minute or until the client leaves
};

// An HTTP/1.x server on 127.0.0.1 (or ::1) for tests, with a thread per connection. It records
// every request byte for byte and answers the first request of each connection, then closes
// it: a path given to Serve() as a scripted file (ranges, drops, stalls, redirects, statuses,
// pacing, a file that changes), any other path with the responder's raw bytes, or with 404
// when there is no responder.
class LoopbackServer {
public:
    enum class Family { kIPv4, kIPv6 };

    explicit LoopbackServer(Family family = Family::kIPv4);
    explicit LoopbackServer(Responder responder, Family family = Family::kIPv4);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int Port() const { return m_port; }
    // "http://127.0.0.1:<port>" (or "http://[::1]:<port>") followed by path.
    std::string Url(const std::string& path = "/") const;
    void Serve(const std::string& path, const ServedFile& file);
    // Every request so far, in the order their heads arrived.
    std::vector<RecordedRequest> Requests() const;
    // Cuts every open connection at once, as a server outage would.
    void DropAll();

    // A complete response: status line, the given header lines, Content-Length, body.
    static std::string Response(const std::string& status, const std::vector<std::string>& headers,
                                const std::string& body);

private:
    struct FileAnswer;

    void AcceptLoop();
    void HandleConnection(int fd);
    std::optional<RecordedRequest> ReadRequest(int fd);
    bool SendAll(int fd, std::string_view data);
    // Waits until the client closes the connection or the server stops.
    void HoldSilent(int fd);
    // Picks the version, pace, drop and stall of one answer of a served path; nullopt when the
    // path is not served.
    std::optional<FileAnswer> PlanFileAnswer(const RecordedRequest& request);
    void AnswerFile(int fd, const RecordedRequest& request, const FileAnswer& plan);
    void SendBody(int fd, const FileAnswer& plan, long long begin, long long end);
    // Sends the status line and headers, then padding lines at 2 KiB/s; false when the client
    // left meanwhile. The caller ends the head.
    bool DripHead(int fd, const std::string& statusAndHeaders);

    Responder m_responder;
    bool m_ipv6 = false;
    int m_listener = -1;
    int m_port = 0;
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
    std::vector<RecordedRequest> m_requests;
    std::vector<std::thread> m_workers;
    std::set<int> m_open; // client sockets being answered
};
