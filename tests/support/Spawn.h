#pragma once
// Starting the program under test as its own process.

#include <string>
#include <sys/types.h>
#include <vector>

// Starts `program` with the arguments in `directory`; -1 when it cannot be started. Without
// `keepDisplay` it gets no DISPLAY; its standard error goes to the file `errors` (empty: ours).
// It inherits our environment, the "NAME=value" entries of `extraEnvironment` before it.
pid_t SpawnIn(const std::string& directory, const std::string& program, const std::vector<std::string>& arguments = {},
              bool keepDisplay = true, const std::string& errors = "",
              const std::vector<std::string>& extraEnvironment = {});
