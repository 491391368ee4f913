#pragma once

#include <string>
#include <vector>

// Starts a program with the arguments given (no shell, no length limit); false when it cannot
// be started. The program goes on by itself.
bool StartProgram(const std::string& path, const std::vector<std::string>& arguments);
