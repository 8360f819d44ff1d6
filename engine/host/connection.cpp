#include "connection.h"

#include <algorithm>

namespace dlengine {

Connection::~Connection() {
    // libcurl must let go of the handle before it is cleaned up.
    if (m_multi != nullptr) {
        curl_multi_remove_handle(m_multi, easy.get());
    }
}

bool Connection::Attach(CURLM* multi) {
    if (curl_multi_add_handle(multi, easy.get()) != CURLM_OK) {
        return false;
    }
    m_multi = multi;
    return true;
}

// A connection's speed: measured over its last window, or before that what it brought since
// its first byte, once that is a quarter of a second ago; counted over at least half a second
// (a server may send its first second at once). Nothing while it is too early to say.
std::optional<double> EstimatedRate(const Connection& c, Clock::time_point now) {
    if (c.pace.measured) {
        return c.pace.rate;
    }
    const double since = std::chrono::duration<double>(now - c.firstData).count();
    if (!c.gotData || since < 0.25) {
        return std::nullopt;
    }
    return static_cast<double>(c.delivered) / std::max(since, 0.5);
}

} // namespace dlengine
