#include "tls_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fcntl.h>
#include <fstream>

#include "support/loopback_ports.h"
#include "support/sandbox.h"
#include "support/wait_for.h"

namespace {

bool Accepts(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

bool MakeCertificates(const std::string& dir) {
    std::ofstream(dir + "/server.ext") << "subjectAltName=IP:127.0.0.1\n"
                                          "basicConstraints=CA:FALSE\n"
                                          "keyUsage=digitalSignature\n"
                                          "extendedKeyUsage=serverAuth\n";
    const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    const std::string script =
        "cd '" + dir + "' && " + "openssl req -x509" + key +
        " -keyout ca.key -out ca.pem -days 2 -subj '/CN=Loopback Test CA'"
        " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=keyCertSign,cRLSign && "
        "openssl req" +
        key +
        " -keyout server.key -out server.csr -subj '/CN=127.0.0.1' && "
        "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial"
        " -out server.pem -days 2 -extfile server.ext";
    return std::system(("(" + script + ") >/dev/null 2>&1").c_str()) == 0;
}

} // namespace

TlsTestServer::TlsTestServer() : m_dir(std::make_unique<ScopedTempDir>()) {
    const std::string dir = m_dir->Path();
    m_port = ClosedLoopbackPort();
    if (m_port == 0 || !MakeCertificates(dir)) {
        return;
    }
    const std::string accept = "127.0.0.1:" + std::to_string(m_port);
    const std::string cert = dir + "/server.pem";
    const std::string key = dir + "/server.key";
    m_pid = fork();
    if (m_pid == 0) {
        int quiet = open("/dev/null", O_RDWR);
        dup2(quiet, 0);
        dup2(quiet, 1);
        dup2(quiet, 2);
        execlp("openssl", "openssl", "s_server", "-accept", accept.c_str(), "-cert", cert.c_str(),
               "-key", key.c_str(), "-www", "-quiet", static_cast<char*>(nullptr));
        _exit(127);
    }
    m_ready = m_pid > 0 && WaitFor([this] { return Accepts(m_port); });
}

TlsTestServer::~TlsTestServer() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
}

std::string TlsTestServer::Url(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(m_port) + path;
}

std::string TlsTestServer::CaFile() const {
    return m_dir->Path() + "/ca.pem";
}
