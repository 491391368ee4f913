#include "tests/support/Tinyproxy.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tests/support/Spawn.h"
#include "tests/support/TestServer.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

bool Accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

}  // namespace

std::string TinyproxyBinary()
{
    for (const char* path : {"/usr/bin/tinyproxy", "/usr/sbin/tinyproxy"})
        if (::access(path, X_OK) == 0)
            return path;
    return {};
}

Tinyproxy::Tinyproxy()
{
    const std::string binary = TinyproxyBinary();
    if (binary.empty())
        throw std::runtime_error("tinyproxy is not installed");
    // tinyproxy binds its port itself, so another program may take it first: it is chosen anew.
    const auto deadline = Clock::now() + 20s;
    while (!Launch(binary))
        if (Clock::now() > deadline)
            throw std::runtime_error("tinyproxy finds no free port");
}

Tinyproxy::~Tinyproxy()
{
    Stop();
}

bool Tinyproxy::Launch(const std::string& binary)
{
    m_nPort = ClosedPort().Port();  // free a moment ago
    const std::string conf = m_dir.Dir() + "tinyproxy.conf";
    // Every client connection and request is logged ("LogLevel Connect"); CONNECT goes to any port.
    std::ofstream(conf) << "Port " << m_nPort << "\nListen 127.0.0.1\nTimeout 60\nMaxClients 100\n"
                        << "LogLevel Connect\nLogFile \"" << m_dir.Dir() << "tinyproxy.log\"\n";
    const int output = ::open((m_dir.Dir() + "output.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    m_pid = output < 0 ? -1 : Spawn({.program = binary, .argv = {binary, "-d", "-c", conf}, .output = output, .errors = output});
    ::close(output);
    if (m_pid < 0)
        throw std::runtime_error("cannot start tinyproxy");
    const auto deadline = Clock::now() + 10s;
    while (!Accepts(m_nPort)) {
        if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
            m_pid = -1;
            return false;  // it could not listen: the port was taken
        }
        if (Clock::now() > deadline) {
            Stop();
            throw std::runtime_error("tinyproxy did not start: " + ReadWholeFile(m_dir.Dir() + "output.log"));
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

void Tinyproxy::Stop()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

std::string Tinyproxy::Url() const
{
    return "http://127.0.0.1:" + std::to_string(m_nPort);
}

int Tinyproxy::TunnelCount() const
{
    std::ifstream log(m_dir.Dir() + "tinyproxy.log");
    int tunnels = 0;
    for (std::string line; std::getline(log, line);)
        tunnels += line.find("]: Request (file descriptor") != std::string::npos && line.find("): CONNECT ") != std::string::npos;
    return tunnels;
}
