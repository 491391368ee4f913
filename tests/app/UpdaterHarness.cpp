#include "tests/app/UpdaterHarness.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "digest/MD5Checksum.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Runs a tool found on PATH with its output thrown away; its exit code, -1 when it did not run.
int RunTool(const std::vector<std::string>& command)
{
    std::vector<char*> argv;
    for (const auto& argument : command)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int failed = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed)
        return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

bool UpdaterRun::Told(const std::string& text) const
{
    return errors.find("提示: " + text + "\n") != std::string::npos;
}

bool UpdaterRun::LobbyStarted() const
{
    return errors.find("lobby started: -KesuUpdate_old.exe\n") != std::string::npos;
}

Installation::Installation()
{
    fs::copy_file(KESU_EXE, Path() / "KesuUpdate.exe");
    Write("Maravel.exe", "#!/bin/sh\necho \"lobby started: $*\" >&2\n");
    ::chmod((Path() / "Maravel.exe").c_str(), 0755);
}

void Installation::Configure(int port, const std::string& extra, const std::string& tempDir)
{
    Write("pirvex.dll", "[Download]\nsite1=127.0.0.1:" + std::to_string(port) + "\n[Setup]\nTempDir=" + tempDir + "\n" + extra);
}

bool Installation::Has(const std::string& name) const
{
    std::error_code ignored;
    return fs::symlink_status(Path() / name, ignored).type() != fs::file_type::not_found;
}

UpdaterRun Installation::Run(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                             std::chrono::seconds limit) const
{
    int errorPipe[2];
    if (::pipe2(errorPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("no pipe");
    const std::string program = (Path() / "KesuUpdate.exe").string();
    std::vector<std::string> argumentCopies{"./KesuUpdate.exe"};
    argumentCopies.insert(argumentCopies.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& argument : argumentCopies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    // No display: the program writes its message boxes to standard error.
    std::vector<std::string> variables = environment;
    for (char** entry = environ; *entry; ++entry)
        if (!std::string(*entry).starts_with("DISPLAY="))
            variables.push_back(*entry);
    std::vector<char*> envp;
    for (auto& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, Path().c_str());
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, errorPipe[1], 2);
    pid_t pid = -1;
    const int failed = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(errorPipe[1]);
    if (failed) {
        ::close(errorPipe[0]);
        throw std::runtime_error("cannot start " + program);
    }

    // The end of standard error: the updater and the lobby it started have both ended.
    UpdaterRun run;
    const auto deadline = Clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd readable{errorPipe[0], POLLIN, 0};
        const int ready = left.count() > 0 ? ::poll(&readable, 1, static_cast<int>(left.count())) : 0;
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        char buffer[4096];
        const ssize_t n = ::read(errorPipe[0], buffer, sizeof buffer);
        if (n <= 0) {
            run.ended = true;
            break;
        }
        run.errors.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(errorPipe[0]);
    if (!run.ended)
        ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return run;
}

std::string Sentence(const char* format, const std::string& name)
{
    std::string text = format;
    if (const auto at = text.find("%s"); at != std::string::npos)
        text.replace(at, 2, name);
    return text;
}

bool MinisignInstalled()
{
    return RunTool({"minisign", "-v"}) == 0;
}

MinisignKey MakeMinisignKey(const fs::path& directory, const std::string& name)
{
    const fs::path pub = directory / (name + ".pub"), key = directory / (name + ".key");
    if (RunTool({"minisign", "-G", "-W", "-f", "-p", pub.string(), "-s", key.string()}) != 0)
        throw std::runtime_error("minisign could not make the key " + name);
    // The .pub file: an untrusted comment, then the key's line.
    const std::string text = ReadWholeFile(pub);
    const auto start = text.find('\n') + 1;
    return {text.substr(start, text.find('\n', start) - start), key};
}

void MinisignSign(const MinisignKey& key, const fs::path& file, const fs::path& signature, const std::string& trustedComment)
{
    std::vector<std::string> command{"minisign", "-S", "-s", key.secretKey.string(), "-m", file.string(),
                                     "-x", signature.string()};
    if (!trustedComment.empty())
        command.insert(command.end(), {"-t", trustedComment});
    if (RunTool(command) != 0)
        throw std::runtime_error("minisign could not sign " + file.string());
}

std::string TrustedComment(std::uint64_t timestamp, const std::string& file, std::optional<std::uint64_t> expires)
{
    std::string text = "timestamp:" + std::to_string(timestamp) + "\tfile:" + file;
    if (expires)
        text += "\texpires:" + std::to_string(*expires);
    return text;
}

std::uint64_t Now()
{
    return static_cast<std::uint64_t>(std::time(nullptr));
}

std::string Md5Hex(const std::string& contents)
{
    CMD5Checksum md5;
    md5.Update(contents.data(), contents.size());
    return CMD5Checksum::ToHex(md5.Final());
}

std::string Sha256Hex(const std::string& contents)
{
    TempDir scratch;
    const std::string path = scratch.Write("contents", contents);
    FILE* pipe = ::popen(("sha256sum '" + path + "'").c_str(), "r");
    char digest[65] = {};
    const std::size_t n = std::fread(digest, 1, 64, pipe);
    ::pclose(pipe);
    if (n != 64)
        throw std::runtime_error("sha256sum gave no digest");
    return digest;
}

std::string ManifestEntry(const std::string& name, const std::string& contents, const std::string& extra)
{
    return "<file filename=\"" + name + "\" filesize=\"" + std::to_string(contents.size()) +
           "\" fileversion=\"1\" md5=\"" + Md5Hex(contents) + "\"" + (extra.empty() ? "" : " " + extra) + "/>";
}
