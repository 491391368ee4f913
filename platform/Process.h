#pragma once

#include <string>
#include <vector>

// Starts a program with the arguments given (no shell, no length limit); false when it cannot
// be started. The program goes on by itself, with nothing open but standard input, output and
// error.
bool StartProgram(const std::string& path, const std::vector<std::string>& arguments);

// The system's number for this process, unique among those running.
unsigned long CurrentProcessId();

// Ends this process at once, as a power cut or a killed process would: nothing runs on the way
// out and nothing buffered is written. For the fault injection that tests recovery.
[[noreturn]] void KillThisProcess();
