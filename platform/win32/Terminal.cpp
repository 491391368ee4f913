#include "platform/Terminal.h"

#include "platform/win32/Wide.h"

namespace {

// The console's own input and output, whatever standard input and output were redirected to.
struct Console {
    HANDLE input = OpenShared(L"CONIN$", GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING, 0);
    HANDLE output = OpenShared(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING, 0);
    ~Console()
    {
        for (HANDLE handle : {input, output})
            if (handle != INVALID_HANDLE_VALUE)
                ::CloseHandle(handle);
    }
    void Show(const std::string& text) const
    {
        const std::wstring wide = Utf8ToWide(text);
        DWORD written = 0;
        ::WriteConsoleW(output, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    }
};

std::string ReadLine(HANDLE input)
{
    std::wstring line;
    wchar_t c = 0;
    DWORD got = 0;
    while (::ReadConsoleW(input, &c, 1, &got, nullptr) && got == 1 && c != L'\n')
        line += c;
    if (!line.empty() && line.back() == L'\r')
        line.pop_back();
    return WideToUtf8(line);
}

}  // namespace

bool StandardErrorIsTerminal()
{
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

std::optional<std::string> ReadHiddenLineFromTerminal(const std::string& prompt)
{
    const Console console;
    DWORD saved = 0;
    if (console.input == INVALID_HANDLE_VALUE || !::GetConsoleMode(console.input, &saved))
        return std::nullopt;
    console.Show(prompt);
    ::SetConsoleMode(console.input, saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    std::string line = ReadLine(console.input);
    ::SetConsoleMode(console.input, saved);
    console.Show("\r\n");  // the line end the hidden echo did not show
    return line;
}
