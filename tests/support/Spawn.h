#pragma once
// Starting a program the tests run and watch — the program under test or a tool — as a process
// of its own, with the signals' default actions that a fresh process has.

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

struct SpawnRequest {
    std::filesystem::path directory{};  // its current directory; empty: ours
    std::string program{};              // looked up in PATH when it names no directory
    std::vector<std::string> argv{};    // argv[0] included
    // "NAME=value" entries, before our environment so that a lookup finds them first.
    std::vector<std::string> environment{};
    bool display = true;  // false: without DISPLAY
    // Descriptors for its standard input, output and error; -1: ours.
    int input = -1, output = -1, errors = -1;
    bool ownSession = false;  // a session of its own, so without a controlling terminal
};

// The process's id; -1 when it cannot be started.
pid_t Spawn(const SpawnRequest& request);
