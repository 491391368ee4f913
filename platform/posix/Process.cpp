#include "platform/Process.h"

#include <csignal>
#include <cstdlib>
#include <spawn.h>
#include <unistd.h>
#include <sys/wait.h>

#include "platform/Path.h"

extern char** environ;

bool StartProgram(const std::string& path, const std::vector<std::string>& arguments)
{
    const std::string program = ToNativePath(path);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    // The program outlives us: it must not hold our connections and files open.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    pid_t pid = -1;
    bool started = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return started;
}

void KillThisProcess()
{
    std::raise(SIGKILL);
    std::abort();  // never reached: SIGKILL cannot be caught
}

unsigned long CurrentProcessId()
{
    return static_cast<unsigned long>(::getpid());
}
