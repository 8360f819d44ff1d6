// Which connections a ranged download runs: filling free pieces, splitting the largest piece
// for a connection that has finished its own, racing the last pieces, and giving the piece of
// a connection that crawls far behind the others to a fresh one.

#include "task.h"

#include <algorithm>

namespace dlengine {
namespace {

// Speeds are measured over windows of a second, looked at four times a second so that a new
// connection's first figure comes soon after its first full second.
constexpr auto kPaceWindow = std::chrono::seconds(1);
constexpr auto kPaceCheck = std::chrono::milliseconds(250);
constexpr double kSlowDivisor = 8;
constexpr auto kSlowFor = std::chrono::seconds(5);

} // namespace

// Opens as many requests as the task can use now, never more than the connection limit and
// never more than there are pieces worth a request. Until the server has answered in this run,
// only one request is out; while requests keep failing, only one at a time is retried.
void Task::LaunchDue() {
    m_lastLaunch = Clock::now();
    m_launchWanted = false;
    if (m_mode != Mode::Ranged || !m_verified) {
        if (m_connections.empty()) {
            Segment* first = nullptr;
            for (Segment& s : m_segments) {
                if (s.users == 0 && s.pos < s.end) {
                    first = &s;
                    break;
                }
            }
            Launch(m_mode == Mode::Ranged ? first : nullptr, true);
        }
        return;
    }
    std::vector<PieceView> views;
    std::vector<Segment*> pieces;
    std::vector<double> rates;
    for (const auto& c : m_connections) {
        if (c->pace.measured) {
            rates.push_back(c->pace.rate);
        }
    }
    const double typicalRate = std::max(MedianRate(rates), m_typicalRate);
    while (m_state == State::Running &&
           static_cast<int>(m_connections.size()) < m_settings.connections) {
        if (m_failures > 0 && !m_connections.empty()) {
            return;
        }
        views.clear();
        pieces.clear();
        for (Segment& s : m_segments) {
            PieceView v{s.pos, s.end, s.users, 0, s.users > 0};
            if (s.users > 0) {
                for (const auto& c : m_connections) {
                    if (c->segment == &s) {
                        v.userRate = std::max(v.userRate, c->pace.rate);
                        v.userMeasured = v.userMeasured && c->pace.measured;
                    }
                }
            }
            views.push_back(v);
            pieces.push_back(&s);
        }
        const WorkChoice choice = ChooseWork(views, typicalRate);
        if (choice.kind == WorkChoice::Kind::None) {
            return;
        }
        Segment* s = pieces[choice.index];
        if (choice.kind == WorkChoice::Kind::Split) {
            auto it = std::find_if(m_segments.begin(), m_segments.end(),
                                   [s](const Segment& x) { return &x == s; });
            std::vector<int64_t> cuts{choice.splitAt};
            if (typicalRate <= 0) {
                // No speed known yet: share the piece among every free slot at once.
                const int slots = m_settings.connections - static_cast<int>(m_connections.size());
                std::vector<int64_t> even = FanOutCuts(s->pos, s->end, slots);
                if (!even.empty()) {
                    cuts = std::move(even);
                }
            }
            const int64_t end = s->end;
            s->end = cuts.front();
            for (size_t i = 0; i < cuts.size(); ++i) {
                it = m_segments.insert(
                    std::next(it), Segment{cuts[i], i + 1 < cuts.size() ? cuts[i + 1] : end, 0});
            }
            continue; // the new pieces are free: the next rounds launch them
        }
        Launch(s, false);
    }
}

// Every byte of `s` is on disk: its connections end and the piece leaves the list.
void Task::FinishSegment(Segment* s) {
    for (size_t i = m_connections.size(); i-- > 0;) {
        if (i < m_connections.size() && m_connections[i]->segment == s) {
            DropConnection(m_connections[i].get());
        }
    }
    m_segments.remove_if([s](const Segment& x) { return &x == s; });
}

// Measures each connection once a window and gives back the pieces of those that have stayed
// far below the others' median speed; the freed slots are refilled by fresh requests, which a
// server that throttles per connection will most likely serve at the usual speed.
void Task::WatchPaces(Clock::time_point now) {
    if (m_mode != Mode::Ranged || !m_verified || now - m_lastPace < kPaceCheck) {
        return;
    }
    m_lastPace = now;
    std::vector<ConnectionPace> paces;
    paces.reserve(m_connections.size());
    for (const auto& owned : m_connections) {
        Connection* c = owned.get();
        const std::chrono::duration<double> span = now - c->windowStart;
        if (span >= kPaceWindow) {
            c->pace.rate = static_cast<double>(c->delivered - c->windowBytes) / span.count();
            c->pace.measured = true;
            c->windowBytes = c->delivered;
            c->windowStart = now;
        }
        paces.push_back(c->pace);
    }
    std::vector<double> rates;
    for (const ConnectionPace& p : paces) {
        if (p.measured) {
            rates.push_back(p.rate);
        }
    }
    if (rates.size() >= 3) {
        m_typicalRate = MedianRate(rates);
    }
    const std::vector<size_t> slow = JudgePaces(paces, m_typicalRate, now, kSlowDivisor, kSlowFor);
    std::vector<Connection*> givenBack;
    for (size_t i = 0; i < m_connections.size(); ++i) {
        m_connections[i]->pace = paces[i];
    }
    for (size_t i : slow) {
        givenBack.push_back(m_connections[i].get());
    }
    for (Connection* c : givenBack) {
        DropConnection(c); // not a failure: the piece keeps every byte it got
    }
    if (!givenBack.empty()) {
        LaunchDue();
    }
}

// Drops every connection whose response head is not in by its deadline, as any drop: a server
// that trickles its head, or never sends one while keeping the connection busy, holds no slot
// for long. libcurl's own speed limit covers the body.
void Task::WatchHeads(Clock::time_point now) {
    const auto deadline = std::chrono::seconds(m_settings.headSec);
    std::vector<Connection*> late;
    for (const auto& c : m_connections) {
        if (!c->headDone && now - c->headSince >= deadline) {
            late.push_back(c.get());
        }
    }
    for (Connection* c : late) {
        const Clock::time_point launched = c->launched;
        DropConnection(c);
        CountFailure(Verdict::Retry, launched);
    }
}

} // namespace dlengine
