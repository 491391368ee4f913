#include "tests/support/Wine.h"

#include <csignal>
#include <functional>
#include <sys/wait.h>
#include <thread>

#include "tests/support/Spawn.h"

namespace {

std::vector<std::string> WineEnvironment(const WineRun& run)
{
    std::vector<std::string> environment = run.environment;
    environment.insert(environment.end(), {"WINEPREFIX=" + (WindowsBuild() / "wine").string(), "WINEDEBUG=-all",
                                           "WINEDLLOVERRIDES=mscoree,mshtml=", "DISPLAY=" + run.display});
    return environment;
}

std::vector<std::string> WineLine(const WineRun& run)
{
    std::vector<std::string> line{run.program.string()};
    line.insert(line.end(), run.arguments.begin(), run.arguments.end());
    return line;
}

}  // namespace

std::filesystem::path WindowsBuild()
{
    return KESU_WINDOWS_BUILD;
}

std::optional<std::string> WindowsBuildMissing()
{
    for (const char* program : {"KesuUpdate.exe", "kesu-publish.exe"})
        if (!std::filesystem::exists(WindowsBuild() / program))
            return "the Windows build is not there (bash tools/windows.sh makes it)";
    if (RunTool(".", "sh", {"-c", "command -v wine"}).status != 0)
        return "Wine is not installed";
    return std::nullopt;
}

ToolRun RunUnderWine(const WineRun& run)
{
    return RunTool(run.directory, "wine", WineLine(run), "", WineEnvironment(run));
}

bool RunUnderWineUntil(const WineRun& run, const std::function<bool()>& done, std::chrono::seconds limit)
{
    std::vector<std::string> argv = WineLine(run);
    argv.insert(argv.begin(), "wine");
    const pid_t pid = Spawn({.directory = run.directory, .program = "wine", .argv = argv, .environment = WineEnvironment(run)});
    if (pid < 0)
        return false;
    const auto until = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (done() || std::chrono::steady_clock::now() > until) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // another process: its files are the only sign
    }
    return true;
}
