#include "trust/TrustState.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "platform/AtomicFile.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "policy/Policy.h"

namespace {

constexpr const char* kHeader = "KesuUpdate accepted signatures 1";

bool ParseLine(const std::string& line, AcceptedTimestamps& timestamps)
{
    const auto tab = line.find('\t');
    if (tab == std::string::npos || tab == 0 || tab + 1 == line.size())
        return false;
    std::uint64_t timestamp = 0;
    auto [end, error] = std::from_chars(line.data(), line.data() + tab, timestamp);
    if (error != std::errc() || end != line.data() + tab)
        return false;
    timestamps[line.substr(tab + 1)] = timestamp;
    return true;
}

bool WriteAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

AcceptedTimestamps ReadAcceptedTimestamps(const std::string& strPath)
{
    // O_NOFOLLOW|O_NONBLOCK: whatever else has the name is no record (and cannot make us wait).
    const int fd = ::open(ToNativePath(strPath).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return {};
    std::string text(kTrustStateLimit + 1, '\0');
    std::size_t size = 0;
    for (ssize_t n; size < text.size() && (n = ::read(fd, text.data() + size, text.size() - size)) != 0;) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        size += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (size > kTrustStateLimit)
        return {};
    text.resize(size);

    std::istringstream lines(text);
    std::string line;
    AcceptedTimestamps timestamps;
    if (!std::getline(lines, line) || line != kHeader)
        return {};
    while (std::getline(lines, line))
        if (!ParseLine(line, timestamps))
            return {};
    return timestamps;
}

bool WriteAcceptedTimestamps(const std::string& strPath, const AcceptedTimestamps& timestamps)
{
    std::string text = std::string(kHeader) + "\n";
    for (const auto& [name, timestamp] : timestamps)
        if (name.find_first_of("\r\n") == std::string::npos)
            text += std::to_string(timestamp) + "\t" + name + "\n";

    const std::string native = ToNativePath(strPath);
    const std::string temporary = SiblingTempPath(native);
    ::unlink(temporary.c_str());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    // No fsync: the rename replaces the record whole or not at all, and a record lost to a crash
    // only means that nothing was accepted yet; a sync would cost every new release's run ~20 ms.
    const bool written = WriteAll(fd, text);
    const int saved = errno;
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), native.c_str()) != 0) {
        const int failure = written ? errno : saved;
        ::unlink(temporary.c_str());
        errno = failure;
        return false;
    }
    return true;
}
