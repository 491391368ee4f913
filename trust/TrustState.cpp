#include "trust/TrustState.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/AtomicFile.h"
#include "platform/Descriptor.h"
#include "platform/File.h"
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

}  // namespace

AcceptedTimestamps ReadAcceptedTimestamps(const std::string& strPath)
{
    // Whatever else has the name (a link, a pipe) is no record, and cannot make us wait.
    const int fd = OpenForReading(strPath, true);
    if (fd < 0)
        return {};
    std::string text(kTrustStateLimit + 1, '\0');
    std::size_t size = 0;
    for (std::int64_t n; size < text.size() && (n = ReadDescriptor(fd, text.data() + size, text.size() - size)) > 0;)
        size += static_cast<std::size_t>(n);
    CloseDescriptor(fd);
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

    // Not durable: the rename replaces the record whole or not at all, and a record lost to a
    // crash only means that nothing was accepted yet; a sync would cost every new release's run
    // ~20 ms.
    try {
        CAtomicFile file(ToNativePath(strPath), 0644);
        file.Write(text.data(), text.size());
        file.Commit(false);
        return true;
    } catch (const CFileException& failure) {
        errno = failure.GetErrno();
        return false;
    }
}
