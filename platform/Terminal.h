#pragma once
// The terminal (the console on Windows) a person runs the program from: whether standard error
// shows on it, and a line typed there that is not shown, for a passphrase. The terminal itself
// is read, not standard input, which may carry something else.
//
// Threads: the main thread. Errors: none thrown; without a terminal there is nothing to read.

#include <optional>
#include <string>

bool StandardErrorIsTerminal();

// Shows the prompt on the terminal and reads one line typed there with its echo off (the line
// without its end); nothing when there is no terminal.
std::optional<std::string> ReadHiddenLineFromTerminal(const std::string& prompt);
