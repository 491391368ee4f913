#pragma once
// Reading zip archives, over minizip: entries described with cleaned names, Windows attributes
// and times, and extracted one at a time to files or directories.
//
// Every operation returns a ZipResult (archive/ZipResult.h). A file entry is written
// under a temporary name beside its target and renamed over the target only when its data are
// complete and their CRC-32 matches, so a failed entry never replaces what was there. Only
// stored and deflated entries can be extracted; the others are described all the same.
//
// Errors: every call returns a ZipResult; nothing throws and nothing is shown. The caller decides
// what a result means for the run (ZipResultText words it for the log).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

#include "archive/ZipEntry.h"
#include "archive/ZipResult.h"


class CZipReader {
public:
    // Records the current directory as the base of relative targets and opens the archive;
    // nothing when it is missing, unreadable or no zip archive.
    static std::unique_ptr<CZipReader> Open(const std::string& strZipFile);
    ~CZipReader();
    CZipReader(const CZipReader&) = delete;
    CZipReader& operator=(const CZipReader&) = delete;

    // Describes entry nIndex (0 to count-1), or with -1 the archive.
    ZipResult GetEntry(int nIndex, tagZipEntry& entry);
    // Writes entry nIndex to the file strTarget, or creates the directory strTarget for a
    // directory entry, or makes the link strTarget for a link entry whose target stays inside
    // the archive's tree (others are refused with ZipResult::NoFile). Relative targets lie under the base
    // directory. Modes from the archive are masked by the process's umask.
    ZipResult ExtractEntry(int nIndex, const std::string& strTarget);
    // The first nMax bytes of entry nIndex's data (all of them when it is shorter).
    ZipResult ReadEntryData(int nIndex, std::string& data, std::size_t nMax);
    std::uint64_t ArchiveSize() const { return m_nArchiveSize; }
    void Close();

    const std::string& BaseDir() const { return m_strBaseDir; }

private:
    CZipReader() = default;
    ZipResult GoTo(int nIndex);
    ZipResult Describe(tagZipEntry& entry);
    ZipResult WriteFileEntry(const tagZipEntry& entry, const std::string& strPath);
    ZipResult WriteLinkEntry(int nIndex, const tagZipEntry& entry, const std::string& strPath);
    ZipResult ForEachDataBlock(const tagZipEntry& entry, const std::function<bool(const char*, std::size_t)>& sink);

    void* m_hZip = nullptr;  // minizip's unzFile
    int m_nFd = -1;          // the archive, for what minizip cannot read (Zip64 entries)
    int m_nEntries = 0;
    int m_nCurrent = 0;      // the entry minizip stands on
    bool m_bEntryOpen = false;
    int m_nCachedIndex = -1;
    tagZipEntry m_cached;
    std::vector<char> m_buffer;  // allocated by the first extraction
    std::vector<char> m_nameBuffer;            // for describing entries
    std::vector<unsigned char> m_extraBuffer;
    std::string m_strBaseDir;
    std::uint64_t m_nArchiveSize = 0;
    mode_t m_creationMask = 0;
    std::string m_strLastDir;  // the directory the previous file entry was written to
};

// What a result code means, for the log.
const char* ZipResultText(ZipResult nResult);

// Creates strBase (when given) and every missing directory of strPath under it.
void CreatePathDirectories(const std::string& strBase, const std::string& strPath);
