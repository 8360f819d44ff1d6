#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

class ScopedTempDir;

// A TLS server on 127.0.0.1 for certificate tests: a throw-away CA and a server certificate
// for 127.0.0.1 signed by it are made with the openssl command, then `openssl s_server -www`
// answers every GET with a status page. Nothing trusts the CA unless a test names CaFile().
class TlsTestServer {
public:
    TlsTestServer();
    ~TlsTestServer();
    TlsTestServer(const TlsTestServer&) = delete;
    TlsTestServer& operator=(const TlsTestServer&) = delete;

    // False when the certificates could not be made or the server did not come up.
    bool Ready() const { return m_ready; }
    std::string Url(const std::string& path = "/") const;
    std::string CaFile() const;

private:
    std::unique_ptr<ScopedTempDir> m_dir;
    pid_t m_pid = -1;
    int m_port = 0;
    bool m_ready = false;
};
