// Whether an answer's bytes may be kept: the first answer of a download decides how it is
// fetched, and every later one must be the part asked for of the version already kept.

#include "task.h"

#include <algorithm>
#include <unistd.h>
#include <vector>

namespace dlengine {

Verdict Task::Classify(const Connection* c) const {
    const long s = c->status;
    if (s == 401 || s == 403 || s == 404 || s == 410) {
        return Verdict::RefusedHttp;
    }
    if (s == 408 || s == 429 || s >= 500) {
        return Verdict::Retry;
    }
    if (s == 416 && c->probe && m_mode == Mode::Unknown && !m_noRange && c->requestStart == 0) {
        return Verdict::RetryNow; // an empty file cannot serve "bytes=0-": ask without a range
    }
    if (s >= 400) {
        return Verdict::RefusedHttp;
    }
    return Verdict::Retry;
}

// The first answer of a fresh download decides between ranged and single-connection mode.
// Several first requests may be out at once (LaunchDue): whichever answers first decides, the
// others keep the parts they asked for, or end when the file has no such part.
bool Task::AcceptProbe(Connection* c) {
    if (c->status == 206 && c->rangeStart == c->requestStart && c->rangeTotal > 0) {
        if (!Preallocate(c->rangeTotal)) {
            c->verdict = Verdict::Disk;
            return false;
        }
        m_mode = Mode::Ranged;
        m_verified = true;
        m_launchWanted = true; // the other connections can open now
        m_version.total = c->rangeTotal;
        m_version.etag = c->etag;
        m_version.lastModified = c->lastModified;
        PlaceFirstRequests();
        RequestFlush(false); // the record exists from the start
        return true;
    }
    if (c->status == 206 && c->rangeStart == c->requestStart && c->askedEnd > 0) {
        // A part without the file's total: only a request to the end tells where it ends.
        m_openProbe = true;
        SpareOtherFirstRequests(c);
        c->verdict = Verdict::RetryNow;
        return false;
    }
    if (c->status == 200 || (c->status == 206 && c->rangeStart == 0)) {
        // The whole file's length as the answer tells it: a 200's Content-Length, or the total
        // of a 206 from the first byte (also from a server that ignored the start asked for:
        // its part is not the whole file unless that total arrives). A length the disk cannot
        // hold fails now rather than after filling the disk.
        const int64_t claimed = c->status == 200 ? c->contentLength : c->rangeTotal;
        const bool fits = claimed < 0 || HasRoomFor(m_files.DataFd(), claimed, 0);
        if (!fits || ftruncate(m_files.DataFd(), 0) != 0) {
            c->verdict = Verdict::Disk;
            return false;
        }
        m_mode = Mode::Single;
        m_rangesIgnored = c->status == 200 && !m_noRange;
        m_version.total = claimed;
        m_singleWritten = 0;
        c->writePos = 0;
        SpareOtherFirstRequests(c);
        return true;
    }
    if (c->status == 416 && c->requestStart > 0) {
        c->verdict = Verdict::Spare; // past the end of a small file: the first one decides
        return false;
    }
    c->verdict = Classify(c);
    if (c->verdict == Verdict::RetryNow) {
        m_noRange = true;
    }
    return false;
}

// The first requests keep the parts they asked for; what lies between and after them is free,
// and one that starts past the end of the file is not needed.
void Task::PlaceFirstRequests() {
    std::vector<Connection*> firsts;
    for (const auto& other : m_connections) {
        if (other->probe && other->verdict != Verdict::Spare) {
            firsts.push_back(other.get());
        }
    }
    std::sort(firsts.begin(), firsts.end(), [](const Connection* a, const Connection* b) {
        return a->requestStart < b->requestStart;
    });
    m_segments.clear();
    int64_t pos = 0;
    for (Connection* first : firsts) {
        if (first->requestStart >= m_version.total) {
            first->verdict = Verdict::Spare;
            continue;
        }
        const int64_t end =
            first->askedEnd > 0 ? std::min(first->askedEnd, m_version.total) : m_version.total;
        if (first->requestStart > pos) {
            m_segments.push_back(Segment{pos, first->requestStart, 0});
        }
        m_segments.push_back(Segment{first->requestStart, end, 1});
        first->segment = &m_segments.back();
        pos = end;
    }
    if (pos < m_version.total) {
        m_segments.push_back(Segment{pos, m_version.total, 0});
    }
}

// The other first requests are not needed: the file is fetched otherwise.
void Task::SpareOtherFirstRequests(const Connection* c) {
    for (const auto& other : m_connections) {
        if (other.get() != c && other->probe) {
            other->verdict = Verdict::Spare;
        }
    }
}

// A first request that failed while another first request is still out: that one decides,
// and the part this one asked for stays free for later requests.
bool Task::SpareFirstRequest(const Connection* c, Verdict verdict) const {
    if (!c->probe || m_verified || (verdict != Verdict::None && verdict != Verdict::Retry)) {
        return false;
    }
    return std::any_of(m_connections.begin(), m_connections.end(), [c](const auto& other) {
        return other.get() != c && other->probe && other->verdict != Verdict::Spare;
    });
}

// The first answer after loading a progress record: the same size and validators, or the
// record is worthless and the download starts over.
bool Task::AcceptResumeProbe(Connection* c) {
    if (c->status == 206 && c->rangeStart == c->requestStart && c->rangeTotal == m_version.total &&
        m_version.Allows(c->etag, c->lastModified) &&
        (!m_recordForeign || m_version.NamedBy(c->etag, c->lastModified))) {
        m_verified = true;
        m_recordForeign = false; // from now on the progress is this link's own
        m_launchWanted = true;   // the other connections can open now
        return true;
    }
    if (c->status == 200 || c->status == 206) {
        c->verdict = Verdict::Changed;
        return false;
    }
    c->verdict = Classify(c);
    return false;
}

// Every later answer: its range of the same version, or a sign that the file changed (another
// validator, another size, or the whole file for a ranged request).
bool Task::Accept(Connection* c) {
    if (c->probe && m_mode == Mode::Unknown) {
        return AcceptProbe(c);
    }
    if (c->probe && m_mode == Mode::Ranged && !m_verified) {
        return AcceptResumeProbe(c);
    }
    if (c->status == 206 && c->rangeTotal > 0 &&
        (c->rangeTotal != m_version.total || !m_version.Allows(c->etag, c->lastModified))) {
        c->verdict = Verdict::Changed;
    } else if (c->status == 206 && c->rangeStart == c->requestStart &&
               c->rangeTotal == m_version.total) {
        return true;
    } else if (c->status == 200) {
        c->verdict = Verdict::Changed;
    } else if (c->status == 206) {
        c->verdict = Verdict::Retry;
    } else {
        c->verdict = Classify(c);
    }
    return false;
}

} // namespace dlengine
