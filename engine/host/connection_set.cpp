#include "connection_set.h"

#include "connection_policy.h"

#include <algorithm>

namespace dlengine {

Connection* ConnectionSet::Keep(std::unique_ptr<Connection> connection) {
    m_list.push_back(std::move(connection));
    return m_list.back().get();
}

void ConnectionSet::Drop(Connection* c) {
    if (c->segment != nullptr) {
        --c->segment->users;
    }
    if (c->gotData) {
        m_recentEnds.push_back(Clock::now());
        if (m_recentEnds.size() > static_cast<size_t>(kMaxConnections)) {
            m_recentEnds.pop_front();
        }
    }
    std::erase_if(m_list, [c](const std::unique_ptr<Connection>& p) { return p.get() == c; });
}

void ConnectionSet::DropAll() {
    while (!m_list.empty()) {
        Drop(m_list.back().get());
    }
}

ConnectionSet::Activity ConnectionSet::Count() const {
    Activity activity;
    for (const auto& c : m_list) {
        activity.active += c->retiring ? 0 : 1;
        activity.delivering += !c->retiring && c->gotData ? 1 : 0;
    }
    return activity;
}

int ConnectionSet::EndedWithin(Clock::time_point now, Clock::duration grace) const {
    return static_cast<int>(std::count_if(m_recentEnds.begin(), m_recentEnds.end(),
                                          [&](auto end) { return now - end <= grace; }));
}

} // namespace dlengine
