#pragma once

#include "protocol.h"

#include <string>
#include <sys/types.h>

namespace dlengine {

// One running dlhost process and the socket to it. Not thread-safe: the caller serialises.
class HostLink {
public:
    HostLink() = default;
    ~HostLink();
    HostLink(const HostLink&) = delete;
    HostLink& operator=(const HostLink&) = delete;

    // Starts the host at `path` and checks the handshake; false leaves nothing running.
    bool Start(const std::string& path);
    bool Alive() const { return m_socket >= 0; }
    // Sends one request and waits for its answer. `answer` receives the answer's payload (up
    // to `answerSize` bytes). False when the host is gone or answered nonsense; the link is
    // then closed and the process reaped.
    bool Call(wire::Op op, int32_t handle, const void* payload, size_t payloadSize, int32_t* result,
              void* answer = nullptr, size_t answerSize = 0);
    // Closes the socket (the host ends cleanly on that), then reaps it; kills it if it does
    // not end within a few seconds.
    void Close();

private:
    int m_socket = -1;
    pid_t m_pid = -1;
};

// The folder holding this library's file, with a trailing "/"; empty when unknown.
std::string LibraryFolder();

} // namespace dlengine
