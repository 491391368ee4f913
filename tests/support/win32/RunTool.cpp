// RunTool for the Windows tests, which run under Wine: the tools they call as witnesses (zip,
// bsdtar, openssl, minisign, md5sum ...) are the Linux machine's own. Wine's CreateProcess starts
// a Linux program given its Unix path, but gives back neither a handle to wait on nor the
// program's output, so the tool runs under /bin/sh with its input, output and exit status in files
// of a scratch directory, and the test waits until the status file is there. An argument that is
// an absolute Windows path, or an option's value that is one, reaches the tool as the Unix path
// Wine maps it to. A Windows program (a name that ends in .exe: the build's own) is started as
// Windows starts one, with its arguments as they are, and waited for.

#include "tests/support/RunTool.h"

#include "platform/win32/Wide.h"

#include <cctype>
#include <cstring>
#include <cwchar>
#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/TempDir.h"

namespace {

// Wine's own export: the Unix name of a Windows path.
std::string UnixPath(const std::wstring& path)
{
    using Convert = char* (*)(const wchar_t*);
    static const auto convert = reinterpret_cast<Convert>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    if (!convert)
        throw std::runtime_error("the tests' tools run only under Wine");
    char* unix = convert(path.c_str());
    if (!unix)
        throw std::runtime_error("no Unix name for a Windows path");
    std::string result(unix);
    ::HeapFree(::GetProcessHeap(), 0, unix);
    return result;
}

bool IsWindowsAbsolute(const std::string& text)
{
    return text.size() > 2 && std::isalpha(static_cast<unsigned char>(text[0])) && text[1] == ':' &&
           (text[2] == '\\' || text[2] == '/');
}

// The word with the absolute Windows path it is, or that follows its '=' (--option=C:\\...), as
// the Unix path Wine maps it to.
std::string WithUnixPath(const std::string& word)
{
    if (IsWindowsAbsolute(word))
        return UnixPath(Utf8ToWide(word));
    const std::size_t equals = word.find('=');
    if (equals != std::string::npos && word.starts_with("--") && IsWindowsAbsolute(word.substr(equals + 1)))
        return word.substr(0, equals + 1) + UnixPath(Utf8ToWide(word.substr(equals + 1)));
    return word;
}

// The text as one word of the shell, whatever it holds.
std::string ShellWord(const std::string& text)
{
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    out += '\'';
    return out;
}

// The shell's words, in order; a path of Windows' as Wine's Unix name for it.
std::string Script(const std::filesystem::path& directory, const std::string& program,
                   const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                   const std::string& scratch)
{
    const std::wstring cwd = directory.empty() ? std::filesystem::current_path().wstring() : directory.wstring();
    std::string script = "PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin; export PATH; cd ";
    script.append(ShellWord(UnixPath(cwd))).append(" && env");
    const auto add = [&script](const std::string& word) { script.append(" ").append(ShellWord(WithUnixPath(word))); };
    for (const std::string& entry : environment)
        add(entry);
    add(program);
    for (const std::string& argument : arguments)
        add(argument);
    for (const char* part : {" < ", "/in > ", "/out 2>&1; echo $? > ", "/status.part && mv ", "/status.part "})
        script.append(part).append(scratch);
    return script.append("/status");
}

bool IsWindowsProgram(const std::string& program)
{
    return program.size() > 4 && _stricmp(program.c_str() + program.size() - 4, ".exe") == 0;
}

// A handle to the file that the started program inherits.
HANDLE InheritedFile(const std::filesystem::path& path, DWORD access, DWORD disposition)
{
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    return ::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, disposition,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

// This process's environment with the entries given before it, as CreateProcess takes one.
std::wstring EnvironmentBlock(const std::vector<std::string>& extraEnvironment)
{
    std::wstring block;
    for (const std::string& entry : extraEnvironment)
        block.append(Utf8ToWide(entry)).push_back(L'\0');
    wchar_t* ours = ::GetEnvironmentStringsW();
    for (const wchar_t* entry = ours; *entry; entry += std::wcslen(entry) + 1)
        block.append(entry).push_back(L'\0');
    ::FreeEnvironmentStringsW(ours);
    block.push_back(L'\0');
    return block;
}

ToolRun RunWindowsProgram(const std::filesystem::path& directory, const std::string& program,
                          const std::vector<std::string>& arguments, const std::string& input,
                          const std::vector<std::string>& extraEnvironment)
{
    TempDir scratchDir;
    scratchDir.Write("in", input);
    std::wstring commandLine = QuotedArgument(Utf8ToWide(program));
    for (const std::string& argument : arguments)
        commandLine.append(L" ").append(QuotedArgument(Utf8ToWide(argument)));
    std::wstring environment = EnvironmentBlock(extraEnvironment);
    const HANDLE in = InheritedFile(scratchDir.Path() / "in", GENERIC_READ, OPEN_EXISTING);
    const HANDLE out = InheritedFile(scratchDir.Path() / "out", GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = out;
    PROCESS_INFORMATION process{};
    // Without a console, as a program in a session of its own is without a terminal: one with a
    // hidden console would wait there for a passphrase no one can type.
    const std::wstring cwd = directory.empty() ? std::filesystem::current_path().wstring() : directory.wstring();
    const bool started = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                                          CREATE_UNICODE_ENVIRONMENT | DETACHED_PROCESS, environment.data(), cwd.c_str(),
                                          &startup, &process);
    ::CloseHandle(in);
    ::CloseHandle(out);
    ToolRun run;
    if (!started) {
        run.output = program + " cannot be started";
        return run;
    }
    DWORD status = 0;
    if (::WaitForSingleObject(process.hProcess, 5 * 60 * 1000) == WAIT_OBJECT_0 && ::GetExitCodeProcess(process.hProcess, &status))
        run.status = static_cast<int>(status);
    ::CloseHandle(process.hProcess);
    ::CloseHandle(process.hThread);
    // Its lines end in CR LF, as Windows' text output's do; the tests compare them as lines.
    for (const char c : ReadWholeFile(scratchDir.Path() / "out"))
        if (c != '\r')
            run.output += c;
    return run;
}

}  // namespace

ToolRun RunTool(const std::filesystem::path& directory, const std::string& program,
                const std::vector<std::string>& arguments, const std::string& input,
                const std::vector<std::string>& extraEnvironment)
{
    if (IsWindowsProgram(program))
        return RunWindowsProgram(directory, program, arguments, input, extraEnvironment);
    TempDir scratchDir;
    scratchDir.Write("in", input);
    const std::string scratch = ShellWord(UnixPath(scratchDir.Path().wstring()));
    std::wstring commandLine =
        L"/bin/sh -c " + QuotedArgument(Utf8ToWide(Script(directory, program, arguments, extraEnvironment, scratch)));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ToolRun run;
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
        run.output = program + " cannot be started";
        return run;
    }
    if (process.hProcess)
        ::CloseHandle(process.hProcess);
    if (process.hThread)
        ::CloseHandle(process.hThread);
    // The shell renames the status file into place only once the tool has ended.
    const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    const std::filesystem::path status = scratchDir.Path() / "status";
    while (!std::filesystem::exists(status)) {
        if (std::chrono::steady_clock::now() > until) {
            run.output = program + " did not end";
            return run;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    run.status = std::stoi(ReadWholeFile(status));
    run.output = ReadWholeFile(scratchDir.Path() / "out");
    return run;
}
