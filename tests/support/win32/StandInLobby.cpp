// Maravel.exe in the Windows program's tests: a stand-in lobby that adds a line of the arguments
// it was started with, joined by blanks, to "lobby-arguments" beside itself, and ends. The file
// appears whole (written beside, then renamed), so a test that sees it reads all of it; each
// start adds a line, so a test sees how often it was started.

#include <string>

#include "platform/win32/Wide.h"

int wmain(int argc, wchar_t** argv)
{
    wchar_t self[4096];
    const DWORD length = GetModuleFileNameW(nullptr, self, 4096);
    std::wstring directory(self, length);
    directory.erase(directory.find_last_of(L'\\') + 1);
    std::string line;
    for (int i = 1; i < argc; ++i)
        line += (i > 1 ? " " : "") + WideToUtf8(argv[i]);
    line += "\n";
    const std::wstring whole = directory + L"lobby-arguments";
    HANDLE earlier = CreateFileW(whole.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (earlier != INVALID_HANDLE_VALUE) {
        char text[4096];
        DWORD read = 0;
        ReadFile(earlier, text, sizeof text, &read, nullptr);
        line = std::string(text, read) + line;
        CloseHandle(earlier);
    }
    const std::wstring part = directory + L"lobby-arguments.part";
    HANDLE file = CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    const bool ok = file != INVALID_HANDLE_VALUE && WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
    return ok && MoveFileExW(part.c_str(), whole.c_str(), kMoveFileReplaceExisting) ? 0 : 1;
}
