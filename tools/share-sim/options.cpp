#include "options.h"

#include <charconv>
#include <cmath>
#include <vector>

namespace sharesim {
namespace {

std::optional<std::uint64_t> ParseUnsigned(std::string_view text) {
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> ParseReal(std::string_view text) {
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty() ||
        !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<ByteSpan> ParseByteSpan(std::string_view text) {
    const std::size_t dash = text.find('-');
    const auto min = ParseByteCount(text.substr(0, dash));
    const auto max = dash == std::string_view::npos ? min : ParseByteCount(text.substr(dash + 1));
    if (!min || !max || *max < *min) {
        return std::nullopt;
    }
    return ByteSpan{*min, *max};
}

// Applies one flag with its value; false when the value does not fit the flag.
bool Apply(Options& options, std::string_view flag, const std::string& value) {
    if (flag == "--root") {
        options.root = value;
        return !value.empty();
    }
    if (flag == "--host") {
        options.host = value;
        return !value.empty();
    }
    if (flag == "--page") {
        options.page = value;
        return !value.empty();
    }
    if (flag == "--log") {
        options.log = value;
        return !value.empty();
    }
    if (flag == "--port") {
        const auto port = ParseUnsigned(value);
        options.port = port ? static_cast<int>(*port) : -1;
        return port && *port <= 65535;
    }
    if (flag == "--rate" || flag == "--stall-after") {
        const auto count = ParseByteCount(value);
        (flag == "--rate" ? options.rate : options.stallAfter.emplace()) = count.value_or(0);
        return count.has_value();
    }
    if (flag == "--latency") {
        const auto ms = ParseUnsigned(value);
        options.latency = std::chrono::milliseconds(ms && *ms <= 60000 ? *ms : 0);
        return ms && *ms <= 60000;
    }
    if (flag == "--max-conns") {
        const auto count = ParseUnsigned(value);
        options.maxConns = count.value_or(0);
        return count && *count > 0;
    }
    if (flag == "--slow-one-in" || flag == "--seed") {
        const auto number = ParseUnsigned(value);
        (flag == "--seed" ? options.seed.emplace() : options.slowOneIn) = number.value_or(0);
        return number.has_value();
    }
    if (flag == "--slow-factor") {
        const auto factor = ParseReal(value);
        options.slowFactor = factor.value_or(0);
        return factor && *factor >= 1;
    }
    if (flag == "--fail-5xx") {
        const auto fraction = ParseReal(value);
        options.fail5xx = fraction.value_or(-1);
        return fraction && *fraction >= 0 && *fraction <= 1;
    }
    if (flag == "--listing-status") {
        const auto status = ParseUnsigned(value);
        options.listingStatus = status ? static_cast<int>(*status) : 0;
        return status && *status >= 200 && *status <= 599;
    }
    if (flag == "--drop-after") {
        options.dropAfter = ParseByteSpan(value);
        return options.dropAfter.has_value();
    }
    return false;
}

} // namespace

std::optional<std::uint64_t> ParseByteCount(std::string_view text) {
    std::uint64_t scale = 1;
    if (!text.empty()) {
        switch (text.back()) {
        case 'K':
        case 'k':
            scale = 1ull << 10;
            break;
        case 'M':
        case 'm':
            scale = 1ull << 20;
            break;
        case 'G':
        case 'g':
            scale = 1ull << 30;
            break;
        default:
            break;
        }
    }
    if (scale != 1) {
        text.remove_suffix(1);
    }
    const auto value = ParseUnsigned(text);
    if (!value || *value > UINT64_MAX / scale) {
        return std::nullopt;
    }
    return *value * scale;
}

std::optional<Options> ParseOptions(int argc, char** argv, std::string& error) {
    Options options;
    const std::vector<std::string> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string flag = args[i];
        if (flag == "--help" || flag == "-h") {
            options.help = true;
            return options;
        }
        if (flag == "--stall-every") {
            options.stallEvery = true;
            continue;
        }
        if (flag == "--no-ranges") {
            options.noRanges = true;
            continue;
        }
        if (flag == "--listing-stall") {
            options.listingStall = true;
            continue;
        }
        std::string value;
        if (const std::size_t equals = flag.find('='); equals != std::string::npos) {
            value = flag.substr(equals + 1);
            flag.resize(equals);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            error = flag + " needs a value (see --help)";
            return std::nullopt;
        }
        if (!Apply(options, flag, value)) {
            error = "bad option or value: " + flag + " " + value + " (see --help)";
            return std::nullopt;
        }
    }
    if (options.root.empty()) {
        error = "--root DIR is required (see --help)";
        return std::nullopt;
    }
    if (options.slowOneIn > 0 && options.rate == 0) {
        error = "--slow-one-in needs --rate: a slow connection runs at rate / factor";
        return std::nullopt;
    }
    return options;
}

std::string HelpText() {
    return R"(share-sim: a loopback share service for demos, tests and benchmarks.

Usage: share-sim --root DIR [options]

Each sub-folder of DIR is a share named by its identifier. It holds the share's files
and a file ".code" with its four-character extraction code. Hidden files are never
listed or served.

  GET /                       a small home page
  GET /?share=ID&pwd=CODE     the share's listing: an HTML table whose <tbody> has one
                              row per file (name order); whitespace and "~" at the end
                              of ID are ignored; a wrong code or an unknown share gives
                              an error page without a table body
  GET|HEAD /d/ID/NAME         a file, with byte ranges (206, Content-Range, 416),
                              ETag and Last-Modified

Options:
  --root DIR            folder of shares (required)
  --host ADDR           address to listen on (default 127.0.0.1)
  --port N              port to listen on; 0 takes any free port (default 0)
  --help, -h            this text

Faults and speed, applied to file downloads only, decided per download request:
  --rate BYTES          limit each download connection to BYTES per second
  --slow-one-in N       one download in N (chosen at random) runs at rate / factor;
                        needs --rate
  --slow-factor F       the divisor of --slow-one-in (default 10, at least 1)
  --drop-after MIN[-MAX]  close the connection after a random number of body bytes
                        between MIN and MAX
  --fail-5xx P          answer 503 to a fraction P (0 to 1) of download requests
  --stall-after BYTES   after BYTES of body, stop sending and keep the connection
                        open and silent until the client leaves; only the first
                        download that gets that far stalls unless --stall-every
  --stall-every         stall every download that gets that far
  --no-ranges           ignore Range headers: every download is the whole file (200)
  --latency MS          hold back the first byte of every answer (pages and errors
                        too) by MS milliseconds, like a round trip on a real network
  --max-conns N         answer 503 to a client's (N+1)-th simultaneous download: a
                        connection counts while it serves a download, from its request
                        to its last byte; idle kept-alive connections do not count

Listings, applied to every share query:
  --page FILE           answer with the bytes of FILE, whatever the share and code
  --listing-status N    answer with status N (200 to 599) and an error page without
                        a table body
  --listing-stall       accept the query and never answer it, until the client leaves

Other options:
  --log FILE            append one line per download request: method, path, Range
                        header ("-" when absent), body bytes sent and status,
                        separated by tabs
  --seed N              seed of the random choices (default: random)

Byte counts take the suffixes K, M and G (powers of 1024). Once listening, the
program prints "share-sim listening on HOST:PORT". SIGTERM or SIGINT stops it
with exit status 0.
)";
}

} // namespace sharesim
