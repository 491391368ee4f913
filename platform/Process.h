#pragma once

#include <string>
#include <vector>

// Starts a program with the arguments given (no shell, no length limit); false when it cannot
// be started. The program goes on by itself, with nothing open but standard input, output and
// error.
bool StartProgram(const std::string& path, const std::vector<std::string>& arguments);
