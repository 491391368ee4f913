#pragma once
// The Windows build (tools/windows.sh) run from the Linux tests under Wine, in the build's own
// Wine prefix, on an X server the test names.

#include <chrono>
#include <functional>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/RunTool.h"

// build-windows/, beside the Linux build.
std::filesystem::path WindowsBuild();
// Why the Windows build cannot be run here (it was not built, or Wine is missing); nothing when it can.
std::optional<std::string> WindowsBuildMissing();

struct WineRun {
    std::filesystem::path directory;       // its current directory
    std::filesystem::path program;         // a Windows program
    std::vector<std::string> arguments{};
    std::string display;                   // DISPLAY, an X server of the test's
    std::vector<std::string> environment{};  // "NAME=value" entries, before ours
};

// Runs the program to its end.
ToolRun RunUnderWine(const WineRun& run);
// Runs the program until it ends or `done` says what it has written is enough (a message box it
// waits on is then not answered: the program is ended), looking every 50 ms up to `limit`.
// Whether it ended by itself.
bool RunUnderWineUntil(const WineRun& run, const std::function<bool()>& done, std::chrono::seconds limit);
