#include "platform/Process.h"

#include "platform/win32/Wide.h"

namespace {

// One argument as the C runtime's parser reads it back: in quotes when it has a blank or a quote
// (or is empty); a quote escaped with a backslash, and the backslashes before a quote or the
// closing quote doubled. Other backslashes stand for themselves.
std::wstring QuotedArgument(const std::wstring& argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return argument;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        quoted += c;
        backslashes = 0;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

}  // namespace

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
