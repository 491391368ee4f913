#include "tests/support/RunTool.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/Spawn.h"

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

ToolRun RunTool(const std::filesystem::path& directory, const std::string& program,
                const std::vector<std::string>& arguments, const std::string& input,
                const std::vector<std::string>& extraEnvironment)
{
    // A tool that exits without reading its input must not end the test with SIGPIPE (the tool
    // itself gets the default back).
    std::signal(SIGPIPE, SIG_IGN);
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot make pipes for " + program);
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    // A session of its own has no controlling terminal: a tool that would ask there reads its
    // standard input or fails, and never waits on the terminal of whoever runs the tests.
    const pid_t pid = Spawn({.directory = directory, .program = program, .argv = argv, .environment = extraEnvironment,
                             .input = in[0], .output = out[1], .errors = out[1], .ownSession = true});
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
