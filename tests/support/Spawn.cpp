#include "tests/support/Spawn.h"

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

pid_t SpawnIn(const std::string& directory, const std::string& program, const std::vector<std::string>& arguments,
              bool keepDisplay, const std::string& errors, const std::vector<std::string>& extraEnvironment)
{
    std::vector<std::string> argumentCopies{program};
    argumentCopies.insert(argumentCopies.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& argument : argumentCopies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment = extraEnvironment;  // first, so that a lookup finds them
    for (char** entry = environ; *entry; ++entry)
        if (keepDisplay || !std::string(*entry).starts_with("DISPLAY="))
            environment.push_back(*entry);
    std::vector<char*> envp;
    for (auto& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    if (!errors.empty())
        posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    if (::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}
