#pragma once
// The MD5 message digest (RFC 1321) of a file, as 32 lower-case hexadecimal digits.
// Throws CFileException when the file cannot be opened or read; memory use does not depend on
// the file's size.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class CFile;

class CMD5Checksum {
public:
    static std::string HashFile(const std::string& strFilePath);
    // The same, but given up between two reads once *pStop is set (null: never): nothing then.
    static std::optional<std::string> HashFileUnlessStopped(const std::string& strFilePath, const std::atomic<bool>* pStop);
    // The digest of the file's contents from its current position to its end.
    static std::string HashOpenFile(CFile& file);

    // The digest of bytes in memory, fed in any number of pieces.
    CMD5Checksum();
    virtual ~CMD5Checksum() = default;
    void Update(const void* pData, std::size_t nLength);
    std::array<std::uint8_t, 16> Final();
    static std::string ToHex(const std::array<std::uint8_t, 16>& digest);
    // Whether the text is a digest as ToHex writes one: 32 lower-case hexadecimal digits.
    static bool IsHexDigest(std::string_view text);

private:
    // The digest of the file's contents from its position on; nothing once *pStop is set (null:
    // never) between two reads.
    static std::optional<std::string> HashRest(CFile& file, const std::atomic<bool>* pStop);
    void Transform(const std::uint8_t* pBlocks, std::size_t nBlocks);

    std::uint8_t m_lpszBuffer[64] = {};
    std::uint32_t m_nCount[2] = {0, 0};  // bits processed, low word first
    std::uint32_t m_lMD5[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
};
