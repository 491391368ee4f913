#pragma once
// KesuUpdate.exe run as the lobby runs it: ./KesuUpdate.exe in the installation directory, which
// is its current directory, with the lobby's command line. Every test that runs the program as a
// process of its own starts it through here.

#include <chrono>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

struct UpdaterLaunch {
    std::vector<std::string> arguments{};    // the lobby's command line
    bool display = false;                    // false: without DISPLAY, so the run has no window
    std::vector<std::string> environment{};  // "NAME=value" entries, before ours
    bool asNobody = false;                   // run as the user nobody, who owns no installation
};

// Starts the program in the installation and returns at once; -1 when it cannot be started. Its
// standard output and error go to the file `output` (made anew), or where ours go when it is
// empty; its standard input is empty.
pid_t StartUpdater(const std::filesystem::path& installation, const UpdaterLaunch& launch = {},
                   const std::filesystem::path& output = {});

struct UpdaterOutput {
    bool ended = false;  // false: still running at the limit, and killed
    int status = -1;     // the exit code; -1 when it did not exit normally
    // Its standard output and error together, and those of the programs it started (the lobby).
    std::string output{};
};

// Runs the program to the end of its output, so that whatever it started has ended too; killed
// when that takes longer than `limit`. Throws std::runtime_error when it cannot be started.
UpdaterOutput RunUpdater(const std::filesystem::path& installation, const UpdaterLaunch& launch = {},
                         std::chrono::seconds limit = std::chrono::seconds(60));
