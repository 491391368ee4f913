#include "tests/support/MinisignTool.h"

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

}  // namespace

ToolRun RunMinisign(const std::filesystem::path& directory, const std::vector<std::string>& arguments,
                    const std::string& input)
{
    // A tool that exits without reading its input must not end the test with SIGPIPE; the tool
    // itself gets the default back.
    std::signal(SIGPIPE, SIG_IGN);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &pipeSignal);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot make pipes for minisign");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    std::vector<std::string> copies{"minisign"};
    copies.insert(copies.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : copies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, "minisign", &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(in[0]);
    ::close(out[1]);
    ToolRun run;
    if (spawned == 0) {
        // Small inputs fit in the pipe, so writing all before reading cannot block both sides.
        WriteAll(in[1], input);
        ::close(in[1]);
        run.output = ReadAll(out[0]);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    } else {
        ::close(in[1]);
        run.output = "minisign cannot be started";
    }
    ::close(out[0]);
    return run;
}

MinisignKeyFiles MakeMinisignKeys(const std::filesystem::path& directory, const std::string& name,
                                  const std::optional<std::string>& passphrase)
{
    MinisignKeyFiles files{directory / (name + ".pub"), directory / (name + ".key")};
    std::vector<std::string> arguments{"-G", "-f", "-p", files.publicKey.string(), "-s", files.secretKey.string()};
    if (!passphrase)
        arguments.push_back("-W");
    // Asked twice, to confirm it.
    ToolRun run = RunMinisign(directory, arguments, passphrase ? *passphrase + "\n" + *passphrase + "\n" : "");
    if (run.status != 0)
        throw std::runtime_error("minisign -G failed: " + run.output);
    return files;
}
