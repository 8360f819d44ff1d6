#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace dlengine {

// A piece is cut in two on sight only when both halves keep at least kMinPiece: that is how a
// download fans out. Smaller pieces are cut only when their connection would still need more
// than `WorkTimings::splitAfter`, and never below kMinSplit a part: a request costs set-up time.
constexpr int64_t kMinPiece = 1 << 20;
constexpr int64_t kMinSplit = 256 << 10;

// A fresh download opens kFirstRequests at once, the k-th for kFirstSpan bytes from k times
// kFirstSpan: enough to learn the size and to start. Each ends cleanly where it asked, its
// connection free for the next piece; one past the end of a small file is answered 416.
constexpr int kFirstRequests = 4;
constexpr int64_t kFirstSpan = 1 << 20;

// What the scheduler knows of one missing piece [pos, end) of a ranged download.
struct PieceView {
    int64_t pos = 0;
    int64_t end = 0;
    int users = 0;             // connections filling it (2 while it is raced)
    double userRate = 0;       // bytes per second of its connection, when it has one
    bool userMeasured = false; // the rate covers at least one full measuring window
    // Its connections have their successors open already: it ends in about a round trip and
    // is neither cut nor raced.
    bool closing = false;
};

// The next thing an idle connection slot should do.
struct WorkChoice {
    enum class Kind { None, Free, Split, Race };
    Kind kind = Kind::None;
    size_t index = 0;    // into the pieces given
    int64_t splitAt = 0; // Split: the new piece is [splitAt, end of the piece)
};

constexpr int kMaxRacers = 3; // connections on one piece, at most

struct WorkTimings {
    std::chrono::duration<double> splitAfter{0.2};
    std::chrono::duration<double> raceAfter{1.0};
};

// Picks work for one more connection, in this order:
// - a piece nobody fills;
// - the piece whose connection needs longest, cut in two: the new connection takes the tail,
//   sized so that both finish together at their speeds (`typicalRate`, the median speed of the
//   task's connections, stands for the new one; halves while speeds are unknown);
// - the end game, once nothing is worth cutting: another connection racing the piece whose
//   fastest connection would still need more than `raceAfter`. A piece gets a third
//   connection only when its first two have both shown that they crawl, and never a fourth.
WorkChoice ChooseWork(const std::vector<PieceView>& pieces, double typicalRate,
                      const WorkTimings& timings = {});

using PaceClock = std::chrono::steady_clock;

// The recent speed of one connection, as the slow-connection watch sees it.
struct ConnectionPace {
    double rate = 0;       // bytes per second over its last measuring window
    bool measured = false; // false until one full window has passed
    std::optional<PaceClock::time_point> slowSince;
};

// Marks connections that run under 1/`slowDivisor` of the reference speed and returns the
// indexes of those that have stayed that slow for `slowFor`: their pieces go back to fresh
// connections. The reference is the median of the measured connections (two at least), or
// `rememberedRate` (the task's last median over three or more) when that is higher, so that
// the last few connections of a download are not judged only against each other. With
// neither, nothing is judged.
std::vector<size_t> JudgePaces(std::vector<ConnectionPace>& paces, double rememberedRate,
                               PaceClock::time_point now, double slowDivisor,
                               std::chrono::duration<double> slowFor);

// Cut points that share [pos, end) evenly between the connection filling it and up to `slots`
// new ones, no part under kMinPiece; empty when it cannot be shared. A download fans out with
// these at once, so that every new request asks for exactly its part and only the first one
// runs past a cut.
std::vector<int64_t> FanOutCuts(int64_t pos, int64_t end, int slots);

// How much of a free piece of `pieceLength` one request asks for: about kSpanSeconds at
// `typicalRate`, or while speeds are unknown, an even share of half the free bytes among
// `connections` (the other half stays free for the connections a growing count adds); never
// under kMinPiece nor over kMaxSpan, and never over an even share of what is free, so that the
// last requests end together. A request ends where its piece ends, so that its connection can
// carry the next one; a piece that would keep a tail under kMinPiece is asked for whole.
constexpr double kSpanSeconds = 2.0;
constexpr int64_t kMaxSpan = 64 << 20;
int64_t RequestSpan(int64_t pieceLength, int64_t freeBytes, double typicalRate, int connections);

// The upper median of the rates; 0 for none.
double MedianRate(std::vector<double> rates);

} // namespace dlengine
