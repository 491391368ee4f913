#pragma once
// Running a command-line tool, the program's own or another, as the tests' subject or witness.

#include <filesystem>
#include <string>
#include <vector>

struct ToolRun {
    int status = -1;     // the exit status; -1 when it did not exit normally
    std::string output;  // standard output and standard error together
};

// Runs `program` (looked up in PATH when it names no directory) with the arguments in
// `directory`, with `input` on its standard input and in a session of its own, so without a
// terminal. The "NAME=value" entries of `extraEnvironment` come before our environment.
ToolRun RunTool(const std::filesystem::path& directory, const std::string& program,
                const std::vector<std::string>& arguments, const std::string& input = "",
                const std::vector<std::string>& extraEnvironment = {});
