// Which connections a ranged download runs: filling free pieces, splitting the largest piece
// for a connection that has finished its own, racing the last pieces, and giving the piece of
// a connection that crawls far behind the others to a fresh one.

#include "task.h"

#include <algorithm>
#include <sys/ioctl.h>

namespace dlengine {
namespace {

// Speeds are measured over windows of a second, looked at four times a second so that a new
// connection's first figure comes soon after its first full second.
constexpr auto kPaceWindow = std::chrono::seconds(1);
constexpr auto kPaceCheck = std::chrono::milliseconds(250);
constexpr double kSlowDivisor = 8;
constexpr auto kSlowFor = std::chrono::seconds(5);

} // namespace

// Opens as many requests as the task may run now (its policy's count within its share of the
// host's connections), never more than there are pieces worth a request. A request that is
// about to end has its successor opened already, unless the server has shown that it counts
// every request against a limit, or the host's part has no room for both. Until the server has
// answered in this run, only the first requests are out; while requests keep failing, only one at a
// time is retried.
void Task::LaunchDue() {
    m_lastLaunch = Clock::now();
    m_launchWanted = false;
    const int allowed = AllowedConnections();
    if (m_mode != Mode::Ranged || !m_verified) {
        // The first requests go out together: waiting for the first answer before opening the
        // next connections would cost every one of them a round trip (a few, with TLS). Each
        // asks for a small part at its own place; whichever answers first tells the size.
        if (!m_connections.empty() || allowed <= 0) {
            return;
        }
        const int firsts =
            m_noRange || m_openProbe || m_rangesIgnored ? 1 : std::min(allowed, kFirstRequests);
        if (m_mode != Mode::Ranged) {
            for (int k = 0; k < firsts && m_state == State::Running; ++k) {
                Launch(nullptr, true, k * kFirstSpan);
            }
            return;
        }
        // Resuming: the first free pieces, each cut to a request's size.
        int64_t freeBytes = 0;
        for (const Segment& s : m_segments) {
            freeBytes += s.users == 0 ? s.end - s.pos : 0;
        }
        int launched = 0;
        for (auto it = m_segments.begin(); it != m_segments.end() && launched < firsts; ++it) {
            if (it->users == 0 && it->pos < it->end && m_state == State::Running) {
                SplitForRequest(&*it, freeBytes, 0, SpanConnections(allowed));
                Launch(&*it, true);
                ++launched;
            }
        }
        return;
    }
    std::vector<PieceView> views;
    std::vector<Segment*> pieces;
    const double typicalRate = TypicalRate();
    while (m_state == State::Running) {
        // The host's part counts every open connection: the server sees a request about to end
        // and its successor as two.
        const int room =
            std::min(m_steps.Policy().count - ConnectionsInUse(), m_hostLimit - OpenConnections());
        if (room <= 0 || (m_retries.Failures() > 0 && !m_connections.empty())) {
            return;
        }
        views.clear();
        pieces.clear();
        int64_t freeBytes = 0;
        for (Segment& s : m_segments) {
            PieceView v{s.pos, s.end, s.users, 0, s.users > 0, s.users > 0};
            for (const auto& c : m_connections) {
                if (c->segment == &s) {
                    const auto rate = EstimatedRate(*c, m_lastLaunch);
                    v.userRate = std::max(v.userRate, rate.value_or(0));
                    v.userMeasured = v.userMeasured && rate.has_value();
                    v.closing = v.closing && c->retiring;
                }
            }
            freeBytes += s.users == 0 ? s.end - s.pos : 0;
            views.push_back(v);
            pieces.push_back(&s);
        }
        WorkChoice choice = ChooseWork(views, typicalRate);
        // A piece is cut only past what its connection has received already (a server may send
        // a request's first second at once): those bytes are as good as written, and a cut
        // before them would fetch them twice. Deciding again with that known is rare.
        for (size_t tries = 0; choice.kind == WorkChoice::Kind::Split && tries < views.size();
             ++tries) {
            const int64_t arrived = ArrivedEnd(*pieces[choice.index]);
            if (arrived <= views[choice.index].pos) {
                break;
            }
            views[choice.index].pos = arrived;
            choice = ChooseWork(views, typicalRate);
        }
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
                std::vector<int64_t> even = FanOutCuts(views[choice.index].pos, s->end, room);
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
        if (choice.kind == WorkChoice::Kind::Free) {
            // While the count may still grow, requests leave free work for the connections it
            // may add: cutting a piece a request is filling wastes what is on its way.
            SplitForRequest(s, freeBytes, typicalRate, SpanConnections(allowed));
        }
        Launch(s, false);
    }
}

// Cuts a free piece down to what one request asks for (RequestSpan); the rest stays free.
void Task::SplitForRequest(Segment* s, int64_t freeBytes, double typicalRate, int connections) {
    const int64_t span = RequestSpan(s->end - s->pos, freeBytes, typicalRate, connections);
    if (span >= s->end - s->pos) {
        return;
    }
    auto it = std::find_if(m_segments.begin(), m_segments.end(),
                           [s](const Segment& x) { return &x == s; });
    m_segments.insert(std::next(it), Segment{s->pos + span, s->end, 0});
    s->end = s->pos + span;
}

// Where the bytes of a piece with one connection end that the kernel has received for it:
// what the connection has delivered, and what waits in its socket to be read.
int64_t Task::ArrivedEnd(const Segment& s) const {
    for (const auto& c : m_connections) {
        if (c->segment != &s) {
            continue;
        }
        curl_socket_t socket = CURL_SOCKET_BAD;
        int waiting = 0;
        if (curl_easy_getinfo(c->easy.get(), CURLINFO_ACTIVESOCKET, &socket) != CURLE_OK ||
            socket == CURL_SOCKET_BAD || ioctl(socket, FIONREAD, &waiting) != 0) {
            waiting = 0;
        }
        return std::min(s.end, std::max(s.pos, c->writePos + waiting));
    }
    return s.pos;
}

// The connections a request's span is shared out for: while the count may still grow, the
// next step's, so that the connections it adds find free work.
int Task::SpanConnections(int allowed) const {
    return m_steps.Policy().searching ? std::min(kMaxConnections, 2 * allowed) : allowed;
}

int Task::AllowedConnections() const {
    return std::min(m_steps.Policy().count, m_hostLimit);
}

// The connections that count against the policy's count: a request about to end has handed its
// place to its successor already, unless the server has shown that it counts every request.
int Task::ConnectionsInUse() const {
    int inUse = 0;
    for (const auto& c : m_connections) {
        inUse += c->retiring && !m_steps.Policy().serverLimited ? 0 : 1;
    }
    return inUse;
}

// The speed a connection of this task may expect: the median of the measured ones, or the
// last median remembered; before any is measured, the median of their first estimates, so
// that the first second's end game already has a measure.
double Task::TypicalRate() const {
    std::vector<double> measured;
    std::vector<double> estimated;
    const auto now = Clock::now();
    for (const auto& c : m_connections) {
        if (c->pace.measured) {
            measured.push_back(c->pace.rate);
        }
        if (const auto rate = EstimatedRate(*c, now)) {
            estimated.push_back(*rate);
        }
    }
    const double typical = std::max(MedianRate(measured), m_typicalRate);
    return typical > 0 ? typical : MedianRate(estimated);
}

// The policy's steps count what a verified ranged download receives.
void Task::StepPolicy(Clock::time_point now) {
    if (m_mode != Mode::Ranged || !m_verified) {
        return;
    }
    const ConnectionSet::Activity activity = m_connections.Count();
    if (m_steps.Look(now, activity.active, activity.delivering, m_speed.Received(),
                     m_version.total - Downloaded())) {
        m_launchWanted = true;
    }
}

// Every byte of `s` is on disk: its connections end and the piece leaves the list.
void Task::FinishSegment(Segment* s) {
    for (size_t i = m_connections.size(); i-- > 0;) {
        if (i < m_connections.size() && m_connections[i]->segment == s) {
            m_connections.Drop(m_connections[i]);
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
        givenBack.push_back(m_connections[i]);
    }
    for (Connection* c : givenBack) {
        m_connections.Drop(c); // not a failure: the piece keeps every byte it got
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
        m_connections.Drop(c);
        CountFailure(Verdict::Retry, launched);
    }
}

} // namespace dlengine
