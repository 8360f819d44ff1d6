#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// One request exactly as it arrived on the socket.
struct RecordedRequest {
    std::string requestLine;              // without its CRLF
    std::vector<std::string> headerLines; // in arrival order, without CRLF
    std::string body;                     // Content-Length bytes, or the chunks joined
};

// The raw bytes to answer with; nullopt keeps the connection open without a word until the
// client gives up or the server stops.
using Responder = std::function<std::optional<std::string>(const RecordedRequest&)>;

// A plain-socket HTTP/1.x server on 127.0.0.1 that records every request byte for byte (no
// parsing library in between reorders or rewrites header lines) and answers each connection's
// first request with a scripted response, then closes the connection.
class RecordingServer {
public:
    explicit RecordingServer(Responder responder);
    ~RecordingServer();
    RecordingServer(const RecordingServer&) = delete;
    RecordingServer& operator=(const RecordingServer&) = delete;

    int Port() const { return m_port; }
    // "http://127.0.0.1:<port>" followed by path.
    std::string Url(const std::string& path = "/") const;
    std::vector<RecordedRequest> Requests() const;

    // A complete response: status line, the given header lines, Content-Length, body.
    static std::string Response(const std::string& status, const std::vector<std::string>& headers,
                                const std::string& body);

private:
    void Serve();
    void HandleConnection(int fd);

    Responder m_responder;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::vector<RecordedRequest> m_requests;
    std::thread m_thread;
};

// A loopback port nothing listens on (one the system just handed out and took back), so a
// connection to it is refused.
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

// The request line and header lines of one recorded request, each followed by "\n"; easy to
// compare and to read in a failure message.
std::string HeadOf(const RecordedRequest& request);
