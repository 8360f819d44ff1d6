#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// share-sim running as a child process on a free loopback port.
class ShareSimProcess {
public:
    ShareSimProcess() = default;
    ~ShareSimProcess();
    ShareSimProcess(const ShareSimProcess&) = delete;
    ShareSimProcess& operator=(const ShareSimProcess&) = delete;

    // Starts `share-sim --root root --port 0` plus `extraArgs` and waits (at most 20 s) for
    // its "listening" line. False, with the reason in Error(), when it does not come.
    bool Start(const std::string& root, const std::vector<std::string>& extraArgs = {});

    // Sends SIGTERM and waits at most 20 s; the exit status, or -1 when it did not exit
    // normally in time (it is then killed).
    int Stop();

    // The share-sim executable of this build.
    static std::string Program();

    int Port() const { return m_port; }
    // "http://HOST:PORT", HOST as share-sim listens (127.0.0.1 unless "--host" says otherwise;
    // an IPv6 address in brackets).
    std::string BaseUrl() const;
    const std::string& Error() const { return m_error; }
    // The connections share-sim still holds although they are no longer established (their
    // client closed or reset them). share-sim notices such a connection at its next read or
    // write, logs its request and closes it: at 0, every ended request is in the log.
    int EndedConnectionsHeld() const;

private:
    pid_t m_pid = -1;
    std::string m_host;
    int m_port = 0;
    std::string m_error;
};
