#pragma once

namespace dlengine {

// Limits and timings of the host, read once from its environment at start.
struct HostSettings {
    int connections = 16;        // per task; DLENGINE_CONNECTIONS, 1 to 64
    long connectTimeoutSec = 15; // TCP and TLS set-up
    long stallSec = 20;          // under 1 byte/s for this long aborts and retries
    long backoffBaseMs = 1000;   // first retry delay, doubled after each failure
    long backoffCapMs = 30000;   // longest retry delay

    // DLENGINE_TEST_TIMEOUTS="connect_s,stall_s,backoff_ms" is a test hook: it shortens the
    // time-outs and the retry delays (the longest delay stays 30 times the first) so that the
    // stall and retry paths can be tested in seconds.
    static HostSettings FromEnvironment();
};

} // namespace dlengine
