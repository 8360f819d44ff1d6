#pragma once

namespace dlengine {

// Limits and timings of the host, read once from its environment at start.
struct HostSettings {
    // Per task: DLENGINE_CONNECTIONS (1 to 64) pins the count; 0 (unset, or out of range)
    // lets each task find the count its server rewards (connection_policy.h).
    int connections = 0;
    long connectTimeoutSec = 15; // TCP and TLS set-up
    long lowSpeedBytes = 1024;   // a connection slower than this many bytes a second ...
    long stallSec = 30;          // ... for this long is dropped and retried
    long headSec = 30;           // the response head must be in this long after the request
    long backoffBaseMs = 1000;   // first retry delay, doubled after each failure
    long backoffCapMs = 30000;   // longest retry delay
    // A running download's progress record is brought up to date this often (and sooner after
    // every 32 MiB): what a crash can cost is at most this much work.
    long saveIntervalMs = 1000;

    // DLENGINE_TEST_TIMEOUTS="connect_s,stall_s,backoff_ms[,head_s]" is a test hook: it
    // shortens the time-outs and the retry delays (the longest delay stays 30 times the first)
    // so that the stall, head and retry paths can be tested in seconds.
    // DLENGINE_TEST_SAVE_MS (1 to 1000) shortens the save interval, so that a test waits for
    // a record on disk rather than for a second to pass.
    static HostSettings FromEnvironment();
};

} // namespace dlengine
