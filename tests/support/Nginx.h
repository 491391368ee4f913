#pragma once
// nginx serving a directory on 127.0.0.1 with a free port, over HTTP or HTTPS (HTTP/2 there), started with its
// own configuration, logs and temporary paths in a scratch directory, and stopped when the object
// goes. The constructor returns once nginx listens.

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "tests/support/TempDir.h"

// A server certificate and its key (PEM files): nginx then speaks HTTPS.
struct NginxTls {
    std::string certificate;
    std::string key;
};

class Nginx {
public:
    // Throws std::runtime_error when nginx is missing or does not come up. Port 0: a free one;
    // a port given is waited for while another program holds it (a restart on the same port).
    explicit Nginx(const std::string& strRoot, const std::string& strExtraConfig = "", int port = 0,
                   std::optional<NginxTls> tls = std::nullopt);
    ~Nginx();
    Nginx(const Nginx&) = delete;
    Nginx& operator=(const Nginx&) = delete;

    int Port() const { return m_nPort; }
    std::string Url(const std::string& path) const;
    // Requests served so far, from the access log.
    int RequestCount() const;
    // The paths asked for so far (without their queries), in the order nginx finished them (from
    // the access log).
    std::vector<std::string> RequestedPaths() const;
    // How many connections the requests served so far came over (from a log of their serials).
    int ConnectionCount() const;
    // The body bytes nginx sent over all requests so far, as its log counts them.
    std::uint64_t BodyBytesSent() const;

private:
    void WriteConfig(const std::string& strRoot, const std::string& strExtraConfig) const;
    // Starts nginx on m_nPort and waits until it listens: true then, false when the port is taken.
    bool Launch(const std::string& binary);
    void Spawn(const std::string& binary);
    bool WaitUntilListening();
    void Stop();

    TempDir m_prefix;
    std::optional<NginxTls> m_tls;
    int m_nPort = 0;
    pid_t m_pid = -1;
};

// Where nginx is, or an empty text when it is not installed.
std::string NginxBinary();
