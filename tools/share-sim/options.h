#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sharesim {

struct ByteSpan {
    std::uint64_t min = 0;
    std::uint64_t max = 0;
};

// The command line. Every fault and speed setting applies to file downloads only, one
// decision per download request, but for the two listing faults, which apply to every share
// query.
struct Options {
    std::string root;
    std::string host = "127.0.0.1";
    int port = 0;
    std::uint64_t rate = 0; // bytes per second per connection, 0 = unlimited
    std::uint64_t slowOneIn = 0;
    double slowFactor = 10;
    std::optional<ByteSpan> dropAfter;
    double fail5xx = 0;
    std::optional<std::uint64_t> stallAfter;
    bool stallEvery = false;
    bool noRanges = false; // a server without byte ranges
    int listingStatus = 0; // 0, or the status every share query is answered with
    bool listingStall = false;
    // Every answer's first byte waits this long, like a round trip on a real network.
    std::chrono::milliseconds latency{0};
    // Downloads one client (one address) may have under way at once; 0 = no limit.
    std::uint64_t maxConns = 0;
    std::string page;
    std::string log;
    std::optional<std::uint64_t> seed;
    bool help = false;
};

// Parses argv; on failure returns nothing and says why in `error`.
std::optional<Options> ParseOptions(int argc, char** argv, std::string& error);

std::string HelpText();

// "512", "64K", "8M", "1G" (powers of 1024). Nothing for anything else.
std::optional<std::uint64_t> ParseByteCount(std::string_view text);

} // namespace sharesim
