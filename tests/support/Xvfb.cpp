#include "tests/support/Xvfb.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tests/support/Spawn.h"

namespace {

void Stop(pid_t pid)
{
    if (pid > 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
}

}  // namespace

bool XvfbInstalled()
{
    return ::access("/usr/bin/Xvfb", X_OK) == 0;
}

Xvfb::Xvfb()
{
    // Xvfb writes its display's number on the pipe's write end, the one end it inherits.
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0 || ::fcntl(fds[1], F_SETFD, 0) != 0)
        throw std::runtime_error("pipe");
    m_server = Spawn({.program = "Xvfb",
                      .argv = {"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1024x768x24", "-nolisten",
                               "tcp"}});
    ::close(fds[1]);
    std::string number;
    char c;
    while (::read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    ::close(fds[0]);
    if (m_server < 0 || number.empty()) {
        Stop(m_server);
        throw std::runtime_error("Xvfb did not start");
    }
    m_display = ":" + number;
    if (const char* previous = std::getenv("DISPLAY"))
        m_previous = previous;
    ::setenv("DISPLAY", m_display.c_str(), 1);
}

Xvfb::~Xvfb()
{
    Stop(m_server);
    if (m_previous.empty())
        ::unsetenv("DISPLAY");
    else
        ::setenv("DISPLAY", m_previous.c_str(), 1);
}
