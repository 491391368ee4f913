#pragma once
// A record of the installed files whose MD5 digests a check took, with the facts that tell
// whether a file changed since (size, modification and change times, inode, device): a file
// whose facts are all as recorded is not read again. The record lives in the temporary
// directory. One that is damaged, cut short, of another format or of another installation counts
// as empty; the next save writes it afresh, whole or not at all.

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/FileSystem.h"

class CCheckCache {
public:
    // A file changed this recently may change again within the same tick of the file system's
    // clock (two seconds on the coarsest) without its times showing it: its digest is not kept.
    static constexpr std::chrono::seconds kSettleTime{2};

    // Reads the record at the path, if there is a usable one for this installation.
    CCheckCache(std::string strPath, std::string strInstallDir,
                std::chrono::nanoseconds settleTime = kSettleTime);

    // Whether a digest taken at `nowNs` of a file with these facts may be kept.
    bool Settled(const FileFacts& facts, std::uint64_t nowNs) const;

    // The digest recorded for the name, when the file's facts are still the recorded ones.
    std::optional<std::string> KnownDigest(const std::string& strName, const FileFacts& facts) const;
    // Keeps the name's facts and digest for the save; any thread may record.
    void Record(const std::string& strName, const FileFacts& facts, const std::string& strDigest);
    // Writes what was recorded, and only that. False, after logging why, when it could not.
    bool Save();

    std::size_t KnownCount() const { return m_known.size(); }

private:
    struct Entry {
        FileFacts facts;
        std::string strDigest;
    };
    void Load();

    std::string m_strPath;
    std::string m_strInstallDir;
    std::uint64_t m_nSettleNs;
    std::unordered_map<std::string, Entry> m_known;
    std::mutex m_mutex;
    std::vector<std::pair<std::string, Entry>> m_recorded;
};
