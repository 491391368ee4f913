#include "tests/support/Spawn.h"

#include <csignal>
#include <spawn.h>
#include <unistd.h>

namespace {

std::vector<char*> Pointers(std::vector<std::string>& strings)
{
    std::vector<char*> pointers;
    for (std::string& each : strings)
        pointers.push_back(each.data());
    pointers.push_back(nullptr);
    return pointers;
}

std::vector<std::string> Environment(const SpawnRequest& request)
{
    std::vector<std::string> environment = request.environment;
    for (char** entry = environ; *entry; ++entry)
        if (request.display || !std::string(*entry).starts_with("DISPLAY="))
            environment.emplace_back(*entry);
    return environment;
}

}  // namespace

pid_t Spawn(const SpawnRequest& request)
{
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A test may ignore SIGPIPE (RunTool does); the program it starts must not inherit that.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &pipeSignal);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | (request.ownSession ? POSIX_SPAWN_SETSID : 0));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!request.directory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, request.directory.c_str());
    for (auto [from, to] : {std::pair{request.input, 0}, std::pair{request.output, 1}, std::pair{request.errors, 2}})
        if (from >= 0)
            posix_spawn_file_actions_adddup2(&actions, from, to);
    std::vector<std::string> argv = request.argv, environment = Environment(request);
    pid_t pid = -1;
    if (::posix_spawnp(&pid, request.program.c_str(), &actions, &attributes, Pointers(argv).data(),
                       Pointers(environment).data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return pid;
}
