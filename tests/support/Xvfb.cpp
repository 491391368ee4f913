#include "tests/support/Xvfb.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>


namespace {

pid_t Spawn(const std::vector<std::string>& arguments, const posix_spawn_file_actions_t* actions = nullptr)
{
    std::vector<char*> argv;
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawnp(&pid, argv[0], actions, nullptr, argv.data(), environ) != 0)
        return -1;
    return pid;
}

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
    int fds[2];
    if (::pipe(fds) != 0)
        throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    m_server = Spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
                     &actions);
    posix_spawn_file_actions_destroy(&actions);
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
