#pragma once
// The check of a download against what the manifest says it is. The digests are taken while the
// bytes arrive, so that verifying costs no second read of the file.

#include <cstdint>
#include <optional>
#include <string>

#include "download/DownloadTask.h"
#include "digest/MD5Checksum.h"
#include "digest/Blake2b.h"
#include "digest/Sha256.h"

class CFile;

class CDownloadDigests {
public:
    // Takes the digests the task needs: MD5 and SHA-256 for a described file, BLAKE2b-512 for a
    // file that has a last check.
    explicit CDownloadDigests(const tagDownloadTask& task);
    // The digests come in two halves that may run on two threads side by side, each seeing every
    // byte once and in order: SHA-256, and the others.
    void UpdateSha256(const void* pData, std::size_t nLength);
    void UpdateOthers(const void* pData, std::size_t nLength);
    // Both halves, over the open file's next nBytes bytes; throws CFileException when it has fewer.
    void UpdateFromFile(CFile& file, std::uint64_t nBytes);
    // Why the complete download is not the file described (for the log), or nothing when it is.
    std::optional<std::string> Mismatch(const tagExpectedFile& expected, std::uint64_t nReceived);
    const Blake2b512Digest& Blake2b();

private:
    bool m_bMd5 = false, m_bSha256 = false, m_bBlake2b = false;
    CMD5Checksum m_md5;
    CSha256 m_sha256;
    CBlake2b512 m_blake2b;
    std::optional<Blake2b512Digest> m_blake2bDigest;
};

