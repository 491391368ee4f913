#include "tests/support/Nginx.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tests/support/Spawn.h"
#include "tests/support/TestServer.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string NginxBinary()
{
    for (const char* path : {"/usr/sbin/nginx", "/usr/bin/nginx"})
        if (::access(path, X_OK) == 0)
            return path;
    return {};
}

Nginx::Nginx(const std::string& strRoot, const std::string& strExtraConfig, int port, std::optional<NginxTls> tls)
    : m_tls(std::move(tls))
{
    const std::string binary = NginxBinary();
    if (binary.empty())
        throw std::runtime_error("nginx is not installed");
    // nginx binds its port itself, so another program can take the port first: a port of our
    // choosing is then chosen anew, and a port asked for (a restart) is tried until it is free.
    const auto deadline = Clock::now() + 20s;
    for (;;) {
        m_nPort = port > 0 ? port : ClosedPort().Port();  // free a moment ago
        WriteConfig(strRoot, strExtraConfig);
        if (Launch(binary))
            return;
        if (Clock::now() > deadline)
            throw std::runtime_error("nginx: port " + std::to_string(m_nPort) + " stays in use");
        std::this_thread::sleep_for(50ms);
    }
}

Nginx::~Nginx()
{
    Stop();
}

void Nginx::WriteConfig(const std::string& strRoot, const std::string& strExtraConfig) const
{
    const std::string prefix = m_prefix.Dir();
    const std::string tls =
        m_tls ? "    ssl_certificate " + m_tls->certificate + ";\n    ssl_certificate_key " + m_tls->key + ";\n" : "";
    std::ofstream(prefix + "nginx.conf")
        << "daemon off;\n"
           "master_process off;\n"
           "worker_processes 1;\n"
           "pid " << prefix << "nginx.pid;\n"
           "error_log " << prefix << "error.log warn;\n"
           "events { worker_connections 1024; }\n"
           "http {\n"
           "  access_log " << prefix << "access.log;\n"
           "  log_format connections '$connection $request_uri';\n"
           "  access_log " << prefix << "connections.log connections;\n"
           "  client_body_temp_path " << prefix << "body;\n"
           "  proxy_temp_path " << prefix << "proxy;\n"
           "  fastcgi_temp_path " << prefix << "fastcgi;\n"
           "  uwsgi_temp_path " << prefix << "uwsgi;\n"
           "  scgi_temp_path " << prefix << "scgi;\n"
           "  types { text/xml xml; application/zip zip; }\n"
           "  default_type application/octet-stream;\n"
           "  sendfile on;\n"
           "  tcp_nopush on;\n"
           "  server {\n"
           "    listen 127.0.0.1:" << m_nPort << (m_tls ? " ssl http2" : "") << ";\n"
           << tls <<
           "    root " << strRoot << ";\n"
           << strExtraConfig <<
           "  }\n"
           "}\n";
}

bool Nginx::Launch(const std::string& binary)
{
    Spawn(binary);
    return WaitUntilListening();
}

void Nginx::Spawn(const std::string& binary)
{
    const std::string prefix = m_prefix.Dir(), conf = prefix + "nginx.conf";
    std::filesystem::remove(prefix + "nginx.pid");
    std::filesystem::remove(prefix + "error.log");
    // What nginx says before its error log is open goes to a file of its own, not to the test's output.
    const int errors = ::open((prefix + "stderr.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    m_pid = errors < 0 ? -1
                       : ::Spawn({.program = binary, .argv = {binary, "-p", prefix, "-c", conf}, .errors = errors});
    ::close(errors);
    if (m_pid < 0)
        throw std::runtime_error("cannot start nginx");
}

bool Nginx::WaitUntilListening()
{
    // nginx writes its pid file once it listens; a port in use it logs at its first bind, then
    // goes on trying for seconds.
    const std::string prefix = m_prefix.Dir();
    const auto deadline = Clock::now() + 10s;
    while (std::atoi(ReadWholeFile(prefix + "nginx.pid").c_str()) != m_pid) {
        const std::string log = ReadWholeFile(prefix + "stderr.log") + ReadWholeFile(prefix + "error.log");
        if (log.find("Address already in use") != std::string::npos) {
            Stop();
            return false;
        }
        if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
            m_pid = -1;
            throw std::runtime_error("nginx exited: " + log);
        }
        if (Clock::now() > deadline) {
            Stop();
            throw std::runtime_error("nginx did not start: " + log);
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

void Nginx::Stop()
{
    if (m_pid <= 0)
        return;
    // nginx may hold off a stop while it is still starting up: it is killed when it does not end.
    ::kill(m_pid, SIGTERM);
    const auto deadline = Clock::now() + 5s;
    while (::waitpid(m_pid, nullptr, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(2ms);
    }
    m_pid = -1;
}

std::string Nginx::Url(const std::string& path) const
{
    return (m_tls ? "https" : "http") + std::string("://127.0.0.1:") + std::to_string(m_nPort) + path;
}

int Nginx::RequestCount() const
{
    std::ifstream log(m_prefix.Dir() + "access.log");
    int lines = 0;
    for (std::string line; std::getline(log, line);)
        ++lines;
    return lines;
}

std::uint64_t Nginx::BodyBytesSent() const
{
    // The default log format: ... "GET /path HTTP/1.1" STATUS BYTES "referer" "agent".
    std::ifstream log(m_prefix.Dir() + "access.log");
    std::uint64_t total = 0;
    for (std::string line; std::getline(log, line);) {
        const auto request = line.find('"');
        const auto afterRequest = line.find('"', request + 1);
        if (request == std::string::npos || afterRequest == std::string::npos)
            continue;
        std::istringstream fields(line.substr(afterRequest + 1));
        int status = 0;
        std::uint64_t bytes = 0;
        if (fields >> status >> bytes)
            total += bytes;
    }
    return total;
}

int Nginx::ConnectionCount() const
{
    // Each line: the connection's serial number, the request's URI.
    std::ifstream log(m_prefix.Dir() + "connections.log");
    std::set<std::string> connections;
    for (std::string line; std::getline(log, line);)
        connections.insert(line.substr(0, line.find(' ')));
    return static_cast<int>(connections.size());
}

std::vector<std::string> Nginx::RequestedPaths() const
{
    // The default log format quotes the request line: "GET /path HTTP/1.1".
    std::ifstream log(m_prefix.Dir() + "access.log");
    std::vector<std::string> paths;
    for (std::string line; std::getline(log, line);) {
        const auto method = line.find('"');
        const auto path = line.find(' ', method);
        const auto end = line.find(' ', path + 1);
        if (method != std::string::npos && path != std::string::npos && end != std::string::npos) {
            const std::string target = line.substr(path + 1, end - path - 1);
            paths.push_back(target.substr(0, target.find('?')));  // the query aside
        }
    }
    return paths;
}
