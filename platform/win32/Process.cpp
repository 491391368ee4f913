#include "platform/Process.h"

#include "platform/win32/Wide.h"

// Windows passes one command line, which the program splits by the C runtime's rules; it holds
// at most 32767 characters. No handle is inherited: the program outlives us and must not hold
// our connections and files open.
bool StartProgram(const std::string& path, const std::vector<std::string>& arguments)
{
    const std::wstring program = WidePath(path);
    std::wstring commandLine = QuotedArgument(Utf8ToWide(path));
    for (const std::string& argument : arguments)
        commandLine += L" " + QuotedArgument(Utf8ToWide(argument));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_NEW_PROCESS_GROUP,
                          nullptr, nullptr, &startup, &process))
        return FailWithLastError();
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return true;
}

void KillThisProcess()
{
    ::TerminateProcess(::GetCurrentProcess(), 137);  // 137: what a shell reports for SIGKILL
    __builtin_unreachable();
}

unsigned long CurrentProcessId()
{
    return ::GetCurrentProcessId();
}
