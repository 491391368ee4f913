#include "tests/support/Nginx.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tests/support/TestServer.h"

namespace {

bool Accepts(int port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

std::string NginxBinary()
{
    for (const char* path : {"/usr/sbin/nginx", "/usr/bin/nginx"})
        if (::access(path, X_OK) == 0)
            return path;
    return {};
}

Nginx::Nginx(const std::string& strRoot, const std::string& strExtraConfig, int port)
{
    std::string binary = NginxBinary();
    if (binary.empty())
        throw std::runtime_error("nginx is not installed");
    m_nPort = port > 0 ? port : UnusedPort();
    const std::string prefix = m_prefix.Dir();
    std::ofstream(prefix + "nginx.conf")
        << "daemon off;\n"
           "master_process off;\n"
           "worker_processes 1;\n"
           "pid " << prefix << "nginx.pid;\n"
           "error_log " << prefix << "error.log warn;\n"
           "events { worker_connections 1024; }\n"
           "http {\n"
           "  access_log " << prefix << "access.log;\n"
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
           "    listen 127.0.0.1:" << m_nPort << ";\n"
           "    root " << strRoot << ";\n"
           << strExtraConfig <<
           "  }\n"
           "}\n";
    std::string conf = prefix + "nginx.conf";
    const char* argv[] = {binary.c_str(), "-p", prefix.c_str(), "-c", conf.c_str(), nullptr};
    if (::posix_spawn(&m_pid, binary.c_str(), nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
        throw std::runtime_error("cannot start nginx");
    for (int i = 0; i < 500 && !Accepts(m_nPort); ++i) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            throw std::runtime_error("nginx exited: " + ReadWholeFile(prefix + "error.log"));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

Nginx::~Nginx()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
    }
}

std::string Nginx::Url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(m_nPort) + path;
}

int Nginx::RequestCount() const
{
    std::ifstream log(m_prefix.Dir() + "access.log");
    int lines = 0;
    for (std::string line; std::getline(log, line);)
        ++lines;
    return lines;
}
