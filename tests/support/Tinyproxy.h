#pragma once
// tinyproxy, a forward proxy, on 127.0.0.1 with a free port: plain requests in a URL's full form
// and tunnels (CONNECT) for HTTPS, with its configuration and log in a scratch directory. The
// constructor returns once it accepts connections; it is stopped when the object goes.

#include <string>
#include <sys/types.h>

#include "tests/support/TempDir.h"

class Tinyproxy {
public:
    // Throws std::runtime_error when tinyproxy is missing or does not come up.
    Tinyproxy();
    ~Tinyproxy();
    Tinyproxy(const Tinyproxy&) = delete;
    Tinyproxy& operator=(const Tinyproxy&) = delete;

    // As the proxy variables name it: http://127.0.0.1:PORT
    std::string Url() const;
    // The tunnels clients opened through it so far (one a connection to an HTTPS server).
    int TunnelCount() const;

private:
    // Starts it on m_nPort and waits until it accepts connections: false when the port was taken.
    bool Launch(const std::string& binary);
    void Stop();

    TempDir m_dir;
    int m_nPort = 0;
    pid_t m_pid = -1;
};

// Where tinyproxy is, or an empty text when it is not installed.
std::string TinyproxyBinary();
