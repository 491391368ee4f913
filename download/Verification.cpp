#include "download/Verification.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "digest/Blake2b.h"
#include "digest/Sha256.h"
#include "platform/Crypto.h"
#include "platform/File.h"

CDownloadDigests::CDownloadDigests(const tagDownloadTask& task)
    : m_bMd5(task.expected.has_value()),
      m_bSha256(task.expected && !task.expected->strSha256.empty()),
      m_bBlake2b(static_cast<bool>(task.fnCheck))
{
}

void CDownloadDigests::UpdateSha256(const void* pData, std::size_t nLength)
{
    if (m_bSha256)
        m_sha256.Update(pData, nLength);
}

void CDownloadDigests::UpdateOthers(const void* pData, std::size_t nLength)
{
    if (m_bMd5)
        m_md5.Update(pData, nLength);
    if (m_bBlake2b)
        m_blake2b.Update(pData, nLength);
}

std::optional<std::string> CDownloadDigests::Mismatch(const tagExpectedFile& expected, std::uint64_t nReceived)
{
    if (nReceived != expected.nSize)
        return std::to_string(nReceived) + " bytes arrived, the manifest says " + std::to_string(expected.nSize);
    const std::string md5 = CMD5Checksum::ToHex(m_md5.Final());
    if (md5 != NormalizedDigest(expected.strMd5))
        return "its MD5 is " + md5 + ", the manifest says " + expected.strMd5;
    if (m_bSha256) {
        const Sha256Digest digest = m_sha256.Final();
        const std::string sha256 = ToHex(digest.data(), digest.size());
        if (sha256 != NormalizedDigest(expected.strSha256))
            return "its SHA-256 is " + sha256 + ", the manifest says " + expected.strSha256;
    }
    return std::nullopt;
}

const Blake2b512Digest& CDownloadDigests::Blake2b()
{
    if (!m_blake2bDigest)
        m_blake2bDigest = m_blake2b.Final();
    return *m_blake2bDigest;
}

void CDownloadDigests::UpdateFromFile(CFile& file, std::uint64_t nBytes)
{
    std::vector<char> buffer(256 * 1024);
    for (std::uint64_t left = nBytes; left > 0;) {
        const std::size_t n = file.Read(buffer.data(), static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size())));
        if (n == 0)
            throw CFileException(ESPIPE, file.GetFilePath());  // shorter than it was a moment ago
        UpdateSha256(buffer.data(), n);
        UpdateOthers(buffer.data(), n);
        left -= n;
    }
}

