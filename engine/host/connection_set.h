#pragma once

#include "connection.h"

#include <cstddef>
#include <deque>
#include <memory>
#include <vector>

namespace dlengine {

// The requests a task has open, in the order they were opened. Dropping one takes it out of
// libcurl and out of the piece it was filling, and remembers when a served one ended: a server
// may count a request a moment after its last byte.
class ConnectionSet {
public:
    using List = std::vector<std::unique_ptr<Connection>>;

    Connection* Keep(std::unique_ptr<Connection> connection);
    void Drop(Connection* connection);
    void DropAll();
    // The requests that hold a place: all but those about to end, whose successors are open
    // beside them already; and of those, the ones receiving data.
    struct Activity {
        int active = 0;
        int delivering = 0;
    };
    Activity Count() const;
    // Requests that were served and ended within `grace` before `now`.
    int EndedWithin(Clock::time_point now, Clock::duration grace) const;

    bool empty() const { return m_list.empty(); }
    size_t size() const { return m_list.size(); }
    Connection* operator[](size_t i) const { return m_list[i].get(); }
    List::const_iterator begin() const { return m_list.begin(); }
    List::const_iterator end() const { return m_list.end(); }

private:
    List m_list;
    std::deque<Clock::time_point> m_recentEnds; // the last kMaxConnections served requests
};

} // namespace dlengine
