#pragma once

#include <cstdio>
#include <cstdlib>
#include <source_location>
#include <thread>

namespace dlengine {

// The thread an object belongs to: the one that made it. The host's tasks, their connections
// and libcurl's handles live on the host's loop thread and are never locked; Assert() at the
// entry of a function makes that contract checkable. In a debug build a call from any other
// thread names the function and ends the process.
class OwningThread {
public:
    void Assert(std::source_location where = std::source_location::current()) const {
#ifndef NDEBUG
        if (std::this_thread::get_id() != m_id) {
            std::fprintf(stderr, "%s:%u: %s must run on the thread of the host's loop\n",
                         where.file_name(), static_cast<unsigned>(where.line()),
                         where.function_name());
            std::abort();
        }
#else
        (void)where;
#endif
    }

private:
    std::thread::id m_id = std::this_thread::get_id();
};

} // namespace dlengine
