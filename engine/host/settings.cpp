#include "settings.h"

#include <cstdio>
#include <cstdlib>

namespace dlengine {

HostSettings HostSettings::FromEnvironment() {
    HostSettings s;
    if (const char* text = std::getenv("DLENGINE_CONNECTIONS")) {
        char* end = nullptr;
        const long n = std::strtol(text, &end, 10);
        if (end != text && *end == '\0' && n >= 1 && n <= 64) {
            s.connections = static_cast<int>(n);
        }
    }
    if (const char* text = std::getenv("DLENGINE_TEST_TIMEOUTS")) {
        long connect = 0, stall = 0, backoff = 0, head = 0;
        const int given = std::sscanf(text, "%ld,%ld,%ld,%ld", &connect, &stall, &backoff, &head);
        if (given >= 3 && connect > 0 && stall > 0 && backoff > 0 && (given == 3 || head > 0)) {
            s.connectTimeoutSec = connect;
            s.stallSec = stall;
            s.backoffBaseMs = backoff;
            s.backoffCapMs = backoff * 30;
            if (given == 4) {
                s.headSec = head;
            }
        }
    }
    if (const char* text = std::getenv("DLENGINE_TEST_SAVE_MS")) {
        char* end = nullptr;
        const long ms = std::strtol(text, &end, 10);
        if (end != text && *end == '\0' && ms >= 1 && ms <= 1000) {
            s.saveIntervalMs = ms;
        }
    }
    return s;
}

} // namespace dlengine
