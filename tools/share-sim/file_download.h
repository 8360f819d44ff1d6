#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <string>

#include "http_server.h"
#include "options.h"

namespace sharesim {

// The byte range a request asks for, against a file of known size.
struct RangeAnswer {
    enum class Kind { Whole, Part, Unsatisfiable } kind = Kind::Whole;
    std::uint64_t first = 0;
    std::uint64_t last = 0; // inclusive
};

// "bytes=a-b", "bytes=a-" and "bytes=-n". Anything else (several ranges, bad syntax) is
// ignored and the whole file is sent, as HTTP allows.
RangeAnswer ParseRange(std::string_view header, std::uint64_t size);

// Serves files from disk in chunks, with the fault and speed settings of the command line,
// and writes the download log. Safe to use from every connection thread at once.
class FileDownload {
public:
    explicit FileDownload(const Options& options);

    bool Serve(const HttpRequest& request, Connection& connection,
               const std::filesystem::path& path);
    bool Refuse(const HttpRequest& request, Connection& connection, int status);

private:
    struct Plan {
        std::uint64_t rate = 0;   // bytes per second, 0 = unlimited
        std::uint64_t dropAt = 0; // body bytes before the connection closes, 0 = never
        bool failWith503 = false;
    };
    Plan MakePlan();
    // Counts a download of `peer` as under way; false (and nothing counted) when the peer
    // already has --max-conns of them.
    bool TakeSlot(const std::string& peer);
    void ReleaseSlot(const std::string& peer);
    // Sends bytes [first, first + length) of `fd`; returns the body bytes sent and whether
    // the connection is still usable.
    bool SendBody(Connection& connection, int fd, std::uint64_t first, std::uint64_t length,
                  const Plan& plan, std::uint64_t& sent);
    void Log(const HttpRequest& request, std::uint64_t sent, int status);

    Options m_options;
    std::mutex m_mutex; // guards m_random and m_log
    std::mt19937_64 m_random;
    std::ofstream m_log;
    std::atomic<bool> m_stallTaken{false};
    std::mutex m_slotMutex;                           // guards m_downloads
    std::map<std::string, std::uint64_t> m_downloads; // under way, per client address
};

} // namespace sharesim
