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
    HostLink(HostLink&& other) noexcept;
    HostLink& operator=(HostLink&& other) noexcept;

    // Starts the host at `path` and waits up to `handshakeMs` for its handshake; false leaves
    // nothing running.
    bool Start(const std::string& path, int handshakeMs);
    bool Alive() const { return m_socket >= 0; }
    // Sends one request and waits up to `timeoutMs` for its answer. `answer` receives the
    // answer's payload (up to `answerSize` bytes). False when the host is gone, answered
    // nonsense or did not answer in time; the link is then abandoned (see Abandon).
    bool Call(wire::Op op, int32_t handle, const void* payload, size_t payloadSize, int32_t* result,
              int timeoutMs, void* answer = nullptr, size_t answerSize = 0);
    // Closes the socket and kills the process at once (a stopped process too); its id waits
    // in TakeAbandoned until the caller reaps it.
    void Abandon();
    // The process an abandoned link killed, still to be reaped, or -1.
    pid_t TakeAbandoned();
    // Closes the socket (the host ends cleanly on that), then reaps it; kills it if it does
    // not end within a few seconds.
    void Close();

private:
    int m_socket = -1;
    pid_t m_pid = -1;
    pid_t m_abandoned = -1;
};

// The folder holding this library's file, with a trailing "/"; empty when unknown.
std::string LibraryFolder();

} // namespace dlengine
