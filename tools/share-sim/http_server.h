#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace sharesim {

struct HttpRequest {
    std::string method;
    std::string target; // as received: path and query, still percent-encoded
    std::string path;   // target up to "?"
    std::string query;  // after "?", empty when there is none
    std::string version;
    std::vector<std::pair<std::string, std::string>> headers;

    // The value of the first header of that name (any case), empty when absent.
    std::string Header(std::string_view name) const;
    bool HasHeader(std::string_view name) const;
};

// One accepted socket, used by the one thread that serves it.
class Connection {
public:
    // `peer` is the client's address without its port.
    Connection(int fd, std::string peer, const std::atomic<bool>& stopping);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Sends every byte. False when the peer went away, did not read for 30 s, or the server
    // is stopping; the connection is then unusable.
    bool Send(std::string_view data);

    // Stays silent for `duration`. False as soon as the peer closes or the server stops.
    bool Wait(std::chrono::milliseconds duration);

    // Stays silent until the peer closes or the server stops.
    void WaitForPeerToLeave();

    // Reads the next request head. False on end of stream, timeout, stop or a malformed or
    // oversized head; `malformed` tells the last two apart so a 400 can still be sent.
    bool ReadRequest(HttpRequest& request, bool& malformed);

    const std::string& Peer() const { return m_peer; }

private:
    enum class PeerState { Open, DataWaiting, Gone };
    PeerState Peek() const;

    int m_fd;
    std::string m_peer;
    const std::atomic<bool>& m_stopping;
    std::string m_buffer; // bytes read past the last request head
};

// Handles one request on its connection; returns false when the connection must close.
using RequestHandler = std::function<bool(const HttpRequest&, Connection&)>;

// A small HTTP/1.1 server: one thread per connection, keep-alive, GET/HEAD only in practice
// (the handler decides), request bodies are not read (such a connection is closed after the
// answer).
class HttpServer {
public:
    explicit HttpServer(RequestHandler handler);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds and listens; port 0 takes any free port. Returns the port, or -1 with `error`.
    int Listen(const std::string& host, int port, std::string& error);
    // Accepts connections until Stop(); returns after every connection thread has ended.
    void Run();
    // Safe from any thread.
    void Stop();

private:
    struct Worker {
        std::thread thread;
        std::atomic<bool> done{false};
    };
    void Serve(int fd, std::string peer, Worker& worker);
    void ReapFinished(bool all);

    RequestHandler m_handler;
    int m_listenFd = -1;
    std::atomic<bool> m_stopping{false};
    std::list<std::unique_ptr<Worker>> m_workers;
};

// "HTTP/1.1 <status> <reason>" followed by the headers and the blank line.
std::string ResponseHead(int status,
                         const std::vector<std::pair<std::string, std::string>>& headers);

} // namespace sharesim
