#include "check/CheckCache.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>

#include "digest/MD5Checksum.h"
#include "platform/AtomicFile.h"
#include "platform/File.h"
#include "platform/Log.h"
#include "platform/Path.h"

namespace {

// The first line names the format: a record in any other is not read.
constexpr std::string_view kFormatLine = "KesuUpdate check cache 1";
constexpr std::string_view kInstallationPrefix = "installation ";
constexpr std::string_view kEndPrefix = "end ";

// Reads the next number and the blank after it from the line.
bool TakeNumber(std::string_view& line, std::uint64_t& value)
{
    auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), value);
    if (error != std::errc() || end == line.data() + line.size() || *end != ' ')
        return false;
    line.remove_prefix(static_cast<std::size_t>(end - line.data()) + 1);
    return true;
}

}  // namespace

CCheckCache::CCheckCache(std::string strPath, std::string strInstallDir, std::chrono::nanoseconds settleTime)
    : m_strPath(std::move(strPath)), m_strInstallDir(std::move(strInstallDir)),
      m_nSettleNs(static_cast<std::uint64_t>(settleTime.count()))
{
    Load();
}

bool CCheckCache::Settled(const FileFacts& facts, std::uint64_t nowNs) const
{
    return std::max(facts.nModifiedNs, facts.nChangedNs) + m_nSettleNs <= nowNs;
}

void CCheckCache::Load()
{
    std::ifstream in(PathFromUtf8(ToNativePath(m_strPath)), std::ios::binary);
    std::string line;
    if (!std::getline(in, line) || line != kFormatLine || !std::getline(in, line) ||
        line != std::string(kInstallationPrefix) + m_strInstallDir)
        return;
    std::unordered_map<std::string, Entry> known;
    std::uint64_t lines = 0;
    while (std::getline(in, line)) {
        std::string_view rest = line;
        if (rest.starts_with(kEndPrefix)) {
            // Only a record that ends where it says it does is used: one cut short is not.
            std::uint64_t count = 0;
            rest.remove_prefix(kEndPrefix.size());
            auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), count);
            if (error == std::errc() && end == rest.data() + rest.size() && count == lines && in.peek() == EOF)
                m_known = std::move(known);
            return;
        }
        Entry entry;
        FileFacts& f = entry.facts;
        if (!TakeNumber(rest, f.nSize) || !TakeNumber(rest, f.nModifiedNs) || !TakeNumber(rest, f.nChangedNs) ||
            !TakeNumber(rest, f.nInode) || !TakeNumber(rest, f.nDevice))
            return;
        const auto blank = rest.find(' ');
        if (blank == std::string_view::npos || blank == 0 || blank + 1 == rest.size())
            return;
        entry.strDigest = rest.substr(0, blank);
        if (!CMD5Checksum::IsHexDigest(entry.strDigest))
            return;
        known[std::string(rest.substr(blank + 1))] = std::move(entry);
        ++lines;
    }
}

std::optional<std::string> CCheckCache::KnownDigest(const std::string& strName, const FileFacts& facts) const
{
    auto known = m_known.find(strName);
    if (known == m_known.end() || !(known->second.facts == facts))
        return std::nullopt;
    return known->second.strDigest;
}

void CCheckCache::Record(const std::string& strName, const FileFacts& facts, const std::string& strDigest)
{
    // One name a line: a name that would break the line is checked each time instead.
    if (strName.find_first_of("\r\n") != std::string::npos || strDigest.find_first_of(" \r\n") != std::string::npos)
        return;
    std::lock_guard lock(m_mutex);
    m_recorded.emplace_back(strName, Entry{facts, strDigest});
}

bool CCheckCache::Save()
{
    std::ostringstream text;
    text << kFormatLine << '\n' << kInstallationPrefix << m_strInstallDir << '\n';
    for (const auto& [name, entry] : m_recorded) {
        const FileFacts& f = entry.facts;
        text << f.nSize << ' ' << f.nModifiedNs << ' ' << f.nChangedNs << ' ' << f.nInode << ' ' << f.nDevice << ' '
             << entry.strDigest << ' ' << name << '\n';
    }
    text << kEndPrefix << m_recorded.size() << '\n';
    const std::string bytes = text.str();
    try {
        CAtomicFile file(ToNativePath(m_strPath));
        file.Write(bytes.data(), bytes.size());
        // Not synced: a record lost in a power cut only costs the next check its reading.
        file.Commit(false);
        return true;
    } catch (const CFileException& e) {
        LogLine("the check cache " + ToNativePath(m_strPath) + " was not written: " + e.GetErrorMessage());
        return false;
    }
}
