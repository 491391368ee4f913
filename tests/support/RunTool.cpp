#include "tests/support/RunTool.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void WriteAll(int fd, const std::string& text)
{
    for (std::size_t at = 0; at < text.size();) {
        ssize_t n = ::write(fd, text.data() + at, text.size() - at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return;  // the tool closed its input: its exit status tells the rest
        at += static_cast<std::size_t>(n);
    }
}

std::string ReadAll(int fd)
{
    std::string text;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return text;
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

std::vector<char*> Pointers(std::vector<std::string>& strings)
{
    std::vector<char*> pointers;
    for (std::string& each : strings)
        pointers.push_back(each.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Starts the program with `input` as its standard input and `output` as its standard output and
// error; -1 when it cannot be started.
pid_t Start(const std::filesystem::path& directory, std::vector<std::string> argv, std::vector<std::string> environment,
            int input, int output)
{
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &pipeSignal);
    // A session of its own has no controlling terminal: a tool that would ask there reads its
    // standard input or fails, and never waits on the terminal of whoever runs the tests.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    posix_spawn_file_actions_adddup2(&actions, input, 0);
    posix_spawn_file_actions_adddup2(&actions, output, 1);
    posix_spawn_file_actions_adddup2(&actions, output, 2);
    pid_t pid = -1;
    if (::posix_spawnp(&pid, argv[0].c_str(), &actions, &attributes, Pointers(argv).data(),
                       Pointers(environment).data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return pid;
}

}  // namespace

ToolRun RunTool(const std::filesystem::path& directory, const std::string& program,
                const std::vector<std::string>& arguments, const std::string& input,
                const std::vector<std::string>& extraEnvironment)
{
    // A tool that exits without reading its input must not end the test with SIGPIPE (the tool
    // itself gets the default back).
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environment = extraEnvironment;  // first, so that a lookup finds them
    for (char** entry = environ; *entry; ++entry)
        environment.emplace_back(*entry);

    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot make pipes for " + program);
    const pid_t pid = Start(directory, argv, environment, in[0], out[1]);
    ::close(in[0]);
    ::close(out[1]);
    ToolRun run;
    // Small inputs fit in the pipe, so writing all before reading cannot block both sides.
    WriteAll(in[1], pid > 0 ? input : "");
    ::close(in[1]);
    run.output = ReadAll(out[0]);
    ::close(out[0]);
    int status = 0;
    while (pid > 0 && ::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.status = pid > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (pid <= 0)
        run.output = program + " cannot be started";
    return run;
}
