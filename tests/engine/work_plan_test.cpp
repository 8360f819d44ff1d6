// The scheduler's decisions on their own: which piece an idle connection takes, where a piece
// is cut, when the end game races a piece, which crawling connections give theirs back, how
// much one request asks for, how many connections a download runs and how the host shares them.

#include "connection_policy.h"
#include "work_plan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using dlengine::ChooseWork;
using dlengine::ConnectionPace;
using dlengine::JudgePaces;
using dlengine::PieceView;
using dlengine::WorkChoice;
using Kind = WorkChoice::Kind;

constexpr int64_t kMiB = 1 << 20;
constexpr int64_t kKiB = 1 << 10;
constexpr double kFast = 4.0 * kMiB; // bytes per second

PieceView Piece(int64_t pos, int64_t end, int users, double rate = 0, bool measured = false) {
    return PieceView{pos, end, users, rate, measured};
}

TEST(ChooseWork, PicksFreeThenSplitThenRace) {
    const struct {
        const char* label;
        std::vector<PieceView> pieces;
        double typical;
        Kind kind;
        size_t index;
        int64_t splitAt; // checked for splits only
    } cases[] = {
        {"nothing left", {}, kFast, Kind::None, 0, 0},
        {"done pieces are not work", {Piece(5, 5, 0), Piece(9, 9, 1)}, kFast, Kind::None, 0, 0},
        {"a free piece comes first",
         {Piece(0, 64 * kMiB, 1), Piece(64 * kMiB, 65 * kMiB, 0)},
         kFast,
         Kind::Free,
         1,
         0},
        {"fan-out halves the largest while speeds are unknown",
         {Piece(0, 10 * kMiB, 1), Piece(10 * kMiB, 40 * kMiB, 1)},
         0,
         Kind::Split,
         1,
         25 * kMiB},
        {"under 2 MiB is not cut blindly", {Piece(0, 2 * kMiB - 1, 1)}, 0, Kind::None, 0, 0},
        {"a slow owner keeps a share matching its speed",
         {Piece(0, 51 * kMiB, 1, kFast / 50, true)},
         kFast,
         Kind::Split,
         0,
         1 * kMiB},
        {"the piece that needs longest is cut, not the largest",
         {Piece(0, 20 * kMiB, 1, kFast, true), Piece(20 * kMiB, 30 * kMiB, 1, kFast / 10, true)},
         kFast,
         Kind::Split,
         1,
         20 * kMiB + 10 * kMiB / 11},
        {"a small piece is cut when it would take a while",
         {Piece(0, 1 * kMiB, 1, 1 * kMiB, true)},
         kFast,
         Kind::Split,
         0,
         256 * kKiB},
        {"a small piece about to finish is left alone",
         {Piece(0, 600 * kKiB, 1, kFast, true)},
         kFast,
         Kind::None,
         0,
         0},
        {"end game races a crawling piece too small to cut",
         {Piece(0, 400 * kKiB, 1, 100 * kKiB, true),
          Piece(1 * kMiB, 1 * kMiB + 10, 1, kFast, true)},
         kFast,
         Kind::Race,
         0,
         0},
        {"no race before the connection has a measured speed",
         {Piece(0, 400 * kKiB, 1, 0, false)},
         kFast,
         Kind::None,
         0,
         0},
        {"a raced piece whose connections both crawl gets a third",
         {Piece(0, 400 * kKiB, 2, 80 * kKiB, true)},
         kFast,
         Kind::Race,
         0,
         0},
        {"never a fourth connection on one piece",
         {Piece(0, 400 * kKiB, 3, 80 * kKiB, true)},
         kFast,
         Kind::None,
         0,
         0},
        {"a closing piece is neither cut nor raced, a free one is taken",
         {PieceView{0, 40 * kMiB, 1, 100 * kKiB, true, true}, Piece(40 * kMiB, 41 * kMiB, 0)},
         kFast,
         Kind::Free,
         1,
         0},
        {"nothing else: a closing crawler is left to end",
         {PieceView{0, 400 * kKiB, 1, 10 * kKiB, true, true}},
         kFast,
         Kind::None,
         0,
         0},
    };
    for (const auto& c : cases) {
        const WorkChoice w = ChooseWork(c.pieces, c.typical);
        EXPECT_EQ(w.kind, c.kind) << c.label;
        if (w.kind == c.kind && c.kind != Kind::None) {
            EXPECT_EQ(w.index, c.index) << c.label;
        }
        if (w.kind == Kind::Split && c.kind == Kind::Split) {
            EXPECT_NEAR(static_cast<double>(w.splitAt), static_cast<double>(c.splitAt), 2.0)
                << c.label;
            const PieceView& p = c.pieces[w.index];
            EXPECT_GE(w.splitAt - p.pos, dlengine::kMinSplit) << c.label;
            EXPECT_GE(p.end - w.splitAt, dlengine::kMinSplit) << c.label;
        }
    }
}

TEST(FanOutCuts, ShareEvenlyWithoutPartsUnderTheMinimum) {
    const struct {
        int64_t pos, end;
        int slots;
        std::vector<int64_t> cuts;
    } cases[] = {
        {0, 64 * kMiB, 3, {16 * kMiB, 32 * kMiB, 48 * kMiB}},
        {10, 10 + 3 * kMiB, 15, {10 + kMiB, 10 + 2 * kMiB}},
        {0, 3 * kMiB - 1, 15, {(3 * kMiB - 1) / 2}},
        {0, 2 * kMiB - 1, 15, {}},
        {0, 64 * kMiB, 0, {}},
        {0, 64 * kMiB, -2, {}},
    };
    for (const auto& c : cases) {
        const std::vector<int64_t> cuts = dlengine::FanOutCuts(c.pos, c.end, c.slots);
        EXPECT_EQ(cuts, c.cuts) << c.pos << "-" << c.end << " slots " << c.slots;
        int64_t previous = c.pos;
        for (int64_t cut : cuts) {
            EXPECT_GE(cut - previous, dlengine::kMinPiece);
            previous = cut;
        }
        EXPECT_GE(c.end - previous, cuts.empty() ? 0 : dlengine::kMinPiece);
    }
}

TEST(RequestSpan, AboutTwoSecondsEvenAtTheEndNoCrumbs) {
    const struct {
        const char* label;
        int64_t piece, free;
        double rate;
        int connections;
        int64_t span;
    } cases[] = {
        {"speeds unknown: half an even share", 100 * kMiB, 100 * kMiB, 0, 16, 100 * kMiB / 32},
        {"two seconds at the typical speed", 512 * kMiB, 512 * kMiB, kFast, 16, 8 * kMiB},
        {"never over an even share of what is free", 40 * kMiB, 40 * kMiB, kFast, 16,
         40 * kMiB / 16},
        {"never under a mebibyte", 10 * kMiB, 10 * kMiB, kFast, 16, kMiB},
        {"never over the longest request", 4096 * kMiB, 4096 * kMiB, 100 * kMiB, 16,
         dlengine::kMaxSpan},
        {"a tail under a mebibyte goes with it", 3 * kMiB / 2, 3 * kMiB / 2, kFast, 16,
         3 * kMiB / 2},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(dlengine::RequestSpan(c.piece, c.free, c.rate, c.connections), c.span) << c.label;
    }
}

// One table of what the count does after a series of observations: the rate of each step
// (MiB/s, connections running, seconds left at that rate) or a refusal (requests still open).
TEST(ConnectionPolicy, GrowsWhileTheRateGrowsAndKeepsUnderTheServersLimit) {
    using dlengine::PolicyEvent;
    const auto step = [](double mibPerSecond, int running, double secondsLeft = 30) {
        return PolicyEvent{PolicyEvent::Kind::Step, mibPerSecond * kMiB, running, secondsLeft, 0};
    };
    const auto refused = [](int othersOpen) {
        return PolicyEvent{PolicyEvent::Kind::Refused, 0, 0, 0, othersOpen};
    };
    const struct {
        const char* label;
        int pinned; // DLENGINE_CONNECTIONS, 0 when unset
        std::vector<PolicyEvent> events;
        int count;
        bool searching;
        bool serverLimited;
    } cases[] = {
        {"starts with sixteen", 0, {}, 16, true, false},
        {"out of range is the adaptive start", 65, {}, 16, true, false},
        {"the first step doubles", 0, {step(64, 16)}, 32, true, false},
        {"doubles while the rate grows", 0, {step(64, 16), step(120, 32)}, 64, true, false},
        {"never past sixty-four",
         0,
         {step(64, 16), step(120, 32), step(250, 64)},
         64,
         false,
         false},
        {"one step without a tenth more may be noise",
         0,
         {step(64, 16), step(68, 32)},
         32,
         true,
         false},
        {"the next step decides it was noise",
         0,
         {step(64, 16), step(68, 32), step(125, 32)},
         64,
         true,
         false},
        {"two steps without a tenth more give the added connections back",
         0,
         {step(64, 16), step(68, 32), step(66, 32)},
         16,
         false,
         false},
        {"no evidence while fewer than the count run", 0, {step(64, 12)}, 16, true, false},
        {"a download about to end does not search", 0, {step(64, 16, 0.5)}, 16, true, false},
        {"refusals bring the count down to what the server serves",
         0,
         {refused(15), refused(14), refused(9), refused(8)},
         8,
         false,
         true},
        {"a refusal ends the search, steps change nothing after it",
         0,
         {step(64, 16), refused(20), step(200, 20), step(400, 20)},
         20,
         false,
         true},
        {"a refusal never raises the count", 0, {refused(40)}, 16, false, true},
        {"at least one", 0, {refused(0)}, 1, false, true},
        {"pinned: no search", 8, {step(32, 8), step(64, 8), step(128, 8)}, 8, false, false},
        {"pinned: a refusal still lowers it", 8, {refused(6)}, 6, false, true},
    };
    for (const auto& c : cases) {
        dlengine::ConnectionPolicy policy = dlengine::StartPolicy(c.pinned);
        for (const PolicyEvent& e : c.events) {
            policy = dlengine::NextPolicy(policy, e);
        }
        EXPECT_EQ(policy.count, c.count) << c.label;
        EXPECT_EQ(policy.searching, c.searching) << c.label;
        EXPECT_EQ(policy.serverLimited, c.serverLimited) << c.label;
    }
}

TEST(HostLimits, NoTaskGetsMoreThanItWantsTheRestEvenlyWithinTheCeiling) {
    const struct {
        const char* label;
        std::vector<int> wants;
        std::vector<int> inUse; // empty: none in use
        int ceiling;
        std::vector<int> limits;
    } cases[] = {
        {"no tasks", {}, {}, 64, {}},
        {"one task within the ceiling", {16}, {}, 64, {16}},
        {"one task past it", {100}, {}, 64, {64}},
        {"a stopped task wants none", {0, 64}, {}, 64, {0, 64}},
        {"what a small one leaves goes to the other", {2, 64}, {}, 64, {2, 62}},
        {"even shares, the odd ones to the first",
         {16, 16, 16, 16, 16},
         {},
         64,
         {13, 13, 13, 13, 12}},
        {"three levels", {4, 30, 64}, {}, 64, {4, 30, 30}},
        {"more tasks than connections: one each to the first", {8, 8, 8}, {}, 2, {1, 1, 0}},
        {"a newcomer waits for the connections the first still runs",
         {64, 16},
         {64, 0},
         64,
         {48, 0}},
        {"and takes them as they end", {64, 16}, {56, 0}, 64, {48, 8}},
        {"what is free goes fairly to those under their shares",
         {64, 32, 32},
         {60, 0, 0},
         64,
         {22, 2, 2}},
        {"a task over its share opens nothing", {64, 64}, {50, 10}, 64, {32, 14}},
        {"connections ending after a stop still count", {0, 64}, {8, 0}, 64, {0, 56}},
    };
    for (const auto& c : cases) {
        const std::vector<int> inUse =
            c.inUse.empty() ? std::vector<int>(c.wants.size(), 0) : c.inUse;
        EXPECT_EQ(dlengine::HostLimits(c.wants, inUse, c.ceiling), c.limits) << c.label;
    }
}

TEST(JudgePaces, GivesBackOnlyAfterStayingFarBelowTheOthers) {
    const auto t0 = dlengine::PaceClock::now();
    const auto at = [t0](double s) {
        return t0 + std::chrono::duration_cast<dlengine::PaceClock::duration>(
                        std::chrono::duration<double>(s));
    };
    const struct {
        const char* label;
        std::vector<double> rates; // < 0: not measured yet
        double remembered;
        std::vector<double> checks;    // seconds at which the same rates are judged again
        std::vector<size_t> givenBack; // at the last check
    } cases[] = {
        {"slow for five seconds", {kFast, kFast, kFast / 50}, 0, {0, 2, 5}, {2}},
        {"slow for under five seconds", {kFast, kFast, kFast / 50}, 0, {0, 2, 4.9}, {}},
        {"just above an eighth is not slow", {kFast, kFast, kFast / 7.9}, 0, {0, 6}, {}},
        {"unmeasured connections are neither judged nor counted",
         {-1, kFast, kFast / 50},
         0,
         {0, 6},
         {2}},
        {"a lone connection has nothing to be compared with", {kFast / 50}, 0, {0, 6}, {}},
        {"a lone crawler is judged against the remembered median",
         {kFast / 50},
         kFast,
         {0, 6},
         {0}},
        {"two crawlers racing each other are judged against the remembered median",
         {kFast / 50, kFast / 40},
         kFast,
         {0, 6},
         {0, 1}},
    };
    for (const auto& c : cases) {
        std::vector<ConnectionPace> paces;
        for (double r : c.rates) {
            paces.push_back(ConnectionPace{r < 0 ? 0 : r, r >= 0, std::nullopt});
        }
        std::vector<size_t> slow;
        for (double s : c.checks) {
            slow = JudgePaces(paces, c.remembered, at(s), 8, std::chrono::seconds(5));
        }
        EXPECT_EQ(slow, c.givenBack) << c.label;
    }
}

TEST(JudgePaces, ACrawlerThatRecoversStartsItsClockAgain) {
    const auto t0 = dlengine::PaceClock::now();
    std::vector<ConnectionPace> paces = {
        {kFast, true, {}}, {kFast, true, {}}, {kFast / 50, true, {}}};
    JudgePaces(paces, 0, t0, 8, std::chrono::seconds(5));
    paces[2].rate = kFast;
    JudgePaces(paces, 0, t0 + std::chrono::seconds(3), 8, std::chrono::seconds(5));
    paces[2].rate = kFast / 50;
    JudgePaces(paces, 0, t0 + std::chrono::seconds(4), 8, std::chrono::seconds(5));
    EXPECT_TRUE(
        JudgePaces(paces, 0, t0 + std::chrono::seconds(8), 8, std::chrono::seconds(5)).empty());
    EXPECT_EQ(JudgePaces(paces, 0, t0 + std::chrono::seconds(9), 8, std::chrono::seconds(5)),
              std::vector<size_t>{2});
}

} // namespace
