#include "tests/support/UpdaterProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/Spawn.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// Starts the program with its standard output and error on `output` (-1: ours).
pid_t Launch(const fs::path& installation, const UpdaterLaunch& launch, int output)
{
    std::vector<std::string> argv{"./KesuUpdate.exe"};
    argv.insert(argv.end(), launch.arguments.begin(), launch.arguments.end());
    std::string program = fs::absolute(installation / "KesuUpdate.exe");
    if (launch.asNobody) {  // setpriv gives up root, then runs the program from the installation
        argv.insert(argv.begin(), {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"});
        program = "setpriv";
    }
    const int nothing = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t pid = Spawn({.directory = installation, .program = program,
                             .argv = argv, .environment = launch.environment, .display = launch.display,
                             .input = nothing, .output = output, .errors = output});
    ::close(nothing);
    return pid;
}

// Appends what comes on `fd` to `text` until its end; false when the end did not come in time.
bool ReadToEnd(int fd, Clock::time_point deadline, std::string& text)
{
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd readable{fd, POLLIN, 0};
        const int ready = left.count() > 0 ? ::poll(&readable, 1, static_cast<int>(left.count())) : 0;
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return true;
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

}  // namespace

pid_t StartUpdater(const fs::path& installation, const UpdaterLaunch& launch, const fs::path& output)
{
    if (output.empty())
        return Launch(installation, launch, -1);
    const int file = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const pid_t pid = file < 0 ? -1 : Launch(installation, launch, file);
    ::close(file);
    return pid;
}

UpdaterOutput RunUpdater(const fs::path& installation, const UpdaterLaunch& launch, std::chrono::seconds limit)
{
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0)
        throw std::runtime_error("no pipe");
    const pid_t pid = Launch(installation, launch, pipe[1]);
    ::close(pipe[1]);
    if (pid < 0) {
        ::close(pipe[0]);
        throw std::runtime_error("cannot start " + (installation / "KesuUpdate.exe").string());
    }
    UpdaterOutput run;
    run.ended = ReadToEnd(pipe[0], Clock::now() + limit, run.output);
    ::close(pipe[0]);
    if (!run.ended)
        ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}
