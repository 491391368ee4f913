#include "platform/Log.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/AtomicFile.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/MappedFile.h"
#include "platform/Path.h"
#include "platform/win32/Wide.h"

namespace {

std::mutex g_logMutex;
HANDLE g_logFile = INVALID_HANDLE_VALUE;

// The running program's file name without ".exe", as a person calls it.
const std::string& ProgramName()
{
    static const std::string name = [] {
        std::string file = PathFindFileName(GetModuleFileName());
        if (file.size() > 4 && _stricmp(file.c_str() + file.size() - 4, ".exe") == 0)
            file.resize(file.size() - 4);
        return file;
    }();
    return name;
}

std::int64_t Ticks(const SYSTEMTIME& time)
{
    FILETIME ticks{};
    ::SystemTimeToFileTime(&time, &ticks);
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(ticks.dwHighDateTime) << 32) | ticks.dwLowDateTime);
}

// "2026-12-08 12:20:14.123 +0100 ": the local time and how far it is ahead of UTC, summer time
// included.
std::string TimeStamp()
{
    constexpr std::int64_t kTicksPerMinute = 600000000;  // of 100 ns
    SYSTEMTIME utc{}, local{};
    ::GetSystemTime(&utc);
    ::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
    const long ahead = static_cast<long>((Ticks(local) - Ticks(utc)) / kTicksPerMinute);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u %c%02ld%02ld ", local.wYear, local.wMonth,
                  local.wDay, local.wHour, local.wMinute, local.wSecond, local.wMilliseconds, ahead < 0 ? '-' : '+',
                  std::labs(ahead) / 60, std::labs(ahead) % 60);
    return stamp;
}

void WriteToFile(const std::string& strText)
{
    std::lock_guard lock(g_logMutex);
    if (g_logFile == INVALID_HANDLE_VALUE)
        return;
    // One write a line to a handle that only appends: lines from several threads or runs never
    // interleave. A text that ends its own line is not given an empty one after it.
    const std::string line = TimeStamp() + strText.substr(0, strText.find_last_not_of("\r\n") + 1) + "\n";
    DWORD written = 0;
    // A log that cannot be written is not worth failing a run for; the causes still reach
    // standard error.
    ::WriteFile(g_logFile, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

// Keeps the newer half of a file beyond the limit, from the first line that starts in it.
void KeepNewerHalf(const std::string& strPath, std::uintmax_t nLimit)
{
    const std::optional<FileStatus> status = GetFileStatus(strPath);
    if (!status || status->facts.nSize <= nLimit)
        return;
    try {
        CMappedFile old = CMappedFile::Read(strPath);
        const std::string_view text(old.Data(), old.Size());
        const std::size_t lineEnd = text.find('\n', text.size() / 2);
        const std::string_view kept = lineEnd == std::string_view::npos ? std::string_view() : text.substr(lineEnd + 1);
        CAtomicFile file(ToNativePath(strPath));
        file.Write(kept.data(), kept.size());
        old.Close();  // a mapped file cannot be replaced
        file.Commit(false);
    } catch (const CFileException&) {
        // left whole: the next run tries again
    }
}

}  // namespace

void LogLine(const std::string& strText)
{
    const std::string line = ProgramName() + ": " + strText + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    // A window program has no standard error to read: the system's debug output (which a
    // debugger or DebugView shows) has the causes too, with or without a log file.
    ::OutputDebugStringW(Utf8ToWide(line).c_str());
    WriteToFile(strText);
}

void LogNote(const std::string& strText)
{
    WriteToFile(strText);
}

bool OpenLogFile(const std::string& strPath, std::uintmax_t nLimit)
{
    KeepNewerHalf(strPath, nLimit);
    const HANDLE file = OpenShared(WidePath(strPath), FILE_APPEND_DATA, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL);
    std::lock_guard lock(g_logMutex);
    if (g_logFile != INVALID_HANDLE_VALUE)
        ::CloseHandle(g_logFile);
    g_logFile = file;
    return file != INVALID_HANDLE_VALUE;
}

void CloseLogFile()
{
    std::lock_guard lock(g_logMutex);
    if (g_logFile != INVALID_HANDLE_VALUE)
        ::CloseHandle(g_logFile);
    g_logFile = INVALID_HANDLE_VALUE;
}
