#include "work_plan.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace dlengine {
namespace {

// Seconds the piece's one connection still needs; unknown speeds count as the typical one,
// and with no speed known at all the remaining size decides the order alone.
double SecondsLeft(const PieceView& p, double typicalRate) {
    const auto left = static_cast<double>(p.end - p.pos);
    const double rate = p.userMeasured ? p.userRate : typicalRate;
    if (rate > 0) {
        return left / rate;
    }
    return p.userMeasured ? std::numeric_limits<double>::infinity() : 0;
}

// Where to cut [pos, end) so that the piece's connection, at its measured rate, and a new one
// at `typicalRate` finish together (halves while the rate is unknown); both parts keep at
// least kMinSplit.
int64_t SplitPoint(const PieceView& p, double typicalRate) {
    const int64_t left = p.end - p.pos;
    int64_t keep = left / 2;
    if (p.userMeasured && typicalRate > 0) {
        const double share = p.userRate / (p.userRate + typicalRate);
        keep = static_cast<int64_t>(std::llround(static_cast<double>(left) * share));
    }
    keep = std::clamp<int64_t>(keep, kMinSplit, left - kMinSplit);
    return p.pos + keep;
}

} // namespace

WorkChoice ChooseWork(const std::vector<PieceView>& pieces, double typicalRate,
                      const WorkTimings& timings) {
    std::optional<size_t> slowest;
    std::optional<size_t> largest;
    double slowestSeconds = -1;
    for (size_t i = 0; i < pieces.size(); ++i) {
        const PieceView& p = pieces[i];
        if (p.pos >= p.end || p.closing) {
            continue;
        }
        if (p.users == 0) {
            return WorkChoice{WorkChoice::Kind::Free, i, 0};
        }
        if (p.users != 1 || p.end - p.pos < 2 * kMinSplit) {
            continue;
        }
        if (!largest || p.end - p.pos > pieces[*largest].end - pieces[*largest].pos) {
            largest = i;
        }
        const double seconds = SecondsLeft(p, typicalRate);
        if (seconds > slowestSeconds) {
            slowestSeconds = seconds;
            slowest = i;
        }
    }
    if (slowest && slowestSeconds > timings.splitAfter.count()) {
        return WorkChoice{WorkChoice::Kind::Split, *slowest,
                          SplitPoint(pieces[*slowest], typicalRate)};
    }
    // Fanning out, before speeds are known: big pieces are cut whatever the speeds say.
    if (largest && pieces[*largest].end - pieces[*largest].pos >= 2 * kMinPiece) {
        return WorkChoice{WorkChoice::Kind::Split, *largest,
                          SplitPoint(pieces[*largest], typicalRate)};
    }
    // End game: nothing is worth cutting. Race the piece whose connection needs longest; a
    // connection without a measured speed has not shown yet that it is slow.
    std::optional<size_t> raced;
    double longest = timings.raceAfter.count();
    for (size_t i = 0; i < pieces.size(); ++i) {
        const PieceView& p = pieces[i];
        if (p.users < 1 || p.users >= kMaxRacers || p.pos >= p.end || !p.userMeasured ||
            p.closing) {
            continue;
        }
        const double seconds = SecondsLeft(p, typicalRate);
        if (seconds > longest) {
            longest = seconds;
            raced = i;
        }
    }
    if (!raced) {
        return {};
    }
    return WorkChoice{WorkChoice::Kind::Race, *raced, 0};
}

std::vector<size_t> JudgePaces(std::vector<ConnectionPace>& paces, double rememberedRate,
                               PaceClock::time_point now, double slowDivisor,
                               std::chrono::duration<double> slowFor) {
    std::vector<double> rates;
    for (const ConnectionPace& p : paces) {
        if (p.measured) {
            rates.push_back(p.rate);
        }
    }
    const double reference = std::max(rates.size() >= 2 ? MedianRate(rates) : 0, rememberedRate);
    const double limit = reference / slowDivisor;
    std::vector<size_t> slow;
    for (size_t i = 0; i < paces.size(); ++i) {
        ConnectionPace& p = paces[i];
        if (!p.measured || p.rate >= limit) {
            p.slowSince.reset();
            continue;
        }
        if (!p.slowSince) {
            p.slowSince = now;
        }
        if (now - *p.slowSince >= slowFor) {
            slow.push_back(i);
        }
    }
    return slow;
}

std::vector<int64_t> FanOutCuts(int64_t pos, int64_t end, int slots) {
    std::vector<int64_t> cuts;
    const int64_t left = end - pos;
    const int64_t parts = std::min<int64_t>(slots + 1, left / kMinPiece);
    for (int64_t i = 1; i < parts; ++i) {
        cuts.push_back(pos + left * i / parts);
    }
    return cuts;
}

int64_t RequestSpan(int64_t pieceLength, int64_t freeBytes, double typicalRate, int connections) {
    const int64_t share = freeBytes / std::max(connections, 1);
    int64_t span = typicalRate > 0 ? static_cast<int64_t>(typicalRate * kSpanSeconds) : share / 2;
    span = std::clamp<int64_t>(std::min(span, share), kMinPiece, kMaxSpan);
    return pieceLength - span < kMinPiece ? pieceLength : span;
}

double MedianRate(std::vector<double> rates) {
    if (rates.empty()) {
        return 0;
    }
    // The upper median: with two connections, the slower is judged against the faster.
    const auto middle = rates.begin() + static_cast<std::ptrdiff_t>(rates.size() / 2);
    std::nth_element(rates.begin(), middle, rates.end());
    return *middle;
}

} // namespace dlengine
