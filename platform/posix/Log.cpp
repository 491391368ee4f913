#include "platform/Log.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <unistd.h>

#include "platform/AtomicFile.h"
#include "platform/File.h"
#include "platform/Path.h"

namespace {

std::mutex g_logMutex;
int g_logFd = -1;

// "2026-12-08 12:20:14.123 +0100 "
std::string TimeStamp()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char date[32], zone[8];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
    std::strftime(zone, sizeof zone, "%z", &local);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%s.%03d %s ", date, static_cast<int>(millis), zone);
    return stamp;
}

void WriteToFile(const std::string& strText)
{
    std::lock_guard lock(g_logMutex);
    if (g_logFd < 0)
        return;
    // One write a line: with O_APPEND, lines from several threads or runs never interleave. A
    // text that ends its own line ("Error line:493\n") is not given an empty one after it.
    const std::string line = TimeStamp() + strText.substr(0, strText.find_last_not_of("\r\n") + 1) + "\n";
    if (::write(g_logFd, line.data(), line.size()) < 0) {
        // A log that cannot be written is not worth failing a run for; the causes still reach
        // standard error.
    }
}

// Keeps the newer half of a file beyond the limit, from the first line that starts in it.
void KeepNewerHalf(const std::string& nativePath, std::uintmax_t nLimit)
{
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(nativePath, error);
    if (error || size <= nLimit)
        return;
    std::ifstream in(nativePath, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(size / 2));
    std::string skipped;
    std::getline(in, skipped);
    const std::string kept{std::istreambuf_iterator<char>(in), {}};
    try {
        CAtomicFile file(nativePath);
        file.Write(kept.data(), kept.size());
        file.Commit(false);
    } catch (const CFileException&) {
        // left whole: the next run tries again
    }
}

}  // namespace

void LogLine(const std::string& strText)
{
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, strText.c_str());
    std::fflush(stderr);
    WriteToFile(strText);
}

void LogNote(const std::string& strText)
{
    WriteToFile(strText);
}

bool OpenLogFile(const std::string& strPath, std::uintmax_t nLimit)
{
    const std::string native = ToNativePath(strPath);
    KeepNewerHalf(native, nLimit);
    const int fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    std::lock_guard lock(g_logMutex);
    if (g_logFd >= 0)
        ::close(g_logFd);
    g_logFd = fd;
    return fd >= 0;
}

void CloseLogFile()
{
    std::lock_guard lock(g_logMutex);
    if (g_logFd >= 0)
        ::close(g_logFd);
    g_logFd = -1;
}
