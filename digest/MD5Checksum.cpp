#include "digest/MD5Checksum.h"

#include <cstring>
#include <algorithm>

#include "platform/File.h"

namespace {

// Large reads keep the per-byte cost down; the buffer lives on the stack, so memory stays
// constant and a file costs no allocation.
constexpr std::size_t kReadSize = 64 * 1024;

inline std::uint32_t Rotate(std::uint32_t x, int n)
{
    return (x << n) | (x >> (32 - n));
}

inline std::uint32_t Load(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

// The four auxiliary functions of RFC 1321, in forms with fewer operations but the same values.
inline std::uint32_t F(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return z ^ (x & (y ^ z)); }
// G as a sum of two disjoint masks: only its second term waits for x, the previous step's result.
inline std::uint32_t G(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return (y & ~z) + (x & z); }
inline std::uint32_t H(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return x ^ y ^ z; }
inline std::uint32_t I(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return y ^ (x | ~z); }

#define MD5_STEP(f, a, b, c, d, x, s, ac) a = b + Rotate(a + f(b, c, d) + (x) + (ac), s)

}  // namespace

CMD5Checksum::CMD5Checksum() = default;

void CMD5Checksum::Transform(const std::uint8_t* pBlocks, std::size_t nBlocks)
{
    std::uint32_t a = m_lMD5[0], b = m_lMD5[1], c = m_lMD5[2], d = m_lMD5[3];
    for (; nBlocks > 0; --nBlocks, pBlocks += 64) {
        std::uint32_t x[16];
        for (int i = 0; i < 16; ++i)
            x[i] = Load(pBlocks + 4 * i);
        const std::uint32_t aa = a, bb = b, cc = c, dd = d;

        MD5_STEP(F, a, b, c, d, x[0], 7, 0xd76aa478);   MD5_STEP(F, d, a, b, c, x[1], 12, 0xe8c7b756);
        MD5_STEP(F, c, d, a, b, x[2], 17, 0x242070db);  MD5_STEP(F, b, c, d, a, x[3], 22, 0xc1bdceee);
        MD5_STEP(F, a, b, c, d, x[4], 7, 0xf57c0faf);   MD5_STEP(F, d, a, b, c, x[5], 12, 0x4787c62a);
        MD5_STEP(F, c, d, a, b, x[6], 17, 0xa8304613);  MD5_STEP(F, b, c, d, a, x[7], 22, 0xfd469501);
        MD5_STEP(F, a, b, c, d, x[8], 7, 0x698098d8);   MD5_STEP(F, d, a, b, c, x[9], 12, 0x8b44f7af);
        MD5_STEP(F, c, d, a, b, x[10], 17, 0xffff5bb1); MD5_STEP(F, b, c, d, a, x[11], 22, 0x895cd7be);
        MD5_STEP(F, a, b, c, d, x[12], 7, 0x6b901122);  MD5_STEP(F, d, a, b, c, x[13], 12, 0xfd987193);
        MD5_STEP(F, c, d, a, b, x[14], 17, 0xa679438e); MD5_STEP(F, b, c, d, a, x[15], 22, 0x49b40821);

        MD5_STEP(G, a, b, c, d, x[1], 5, 0xf61e2562);   MD5_STEP(G, d, a, b, c, x[6], 9, 0xc040b340);
        MD5_STEP(G, c, d, a, b, x[11], 14, 0x265e5a51); MD5_STEP(G, b, c, d, a, x[0], 20, 0xe9b6c7aa);
        MD5_STEP(G, a, b, c, d, x[5], 5, 0xd62f105d);   MD5_STEP(G, d, a, b, c, x[10], 9, 0x02441453);
        MD5_STEP(G, c, d, a, b, x[15], 14, 0xd8a1e681); MD5_STEP(G, b, c, d, a, x[4], 20, 0xe7d3fbc8);
        MD5_STEP(G, a, b, c, d, x[9], 5, 0x21e1cde6);   MD5_STEP(G, d, a, b, c, x[14], 9, 0xc33707d6);
        MD5_STEP(G, c, d, a, b, x[3], 14, 0xf4d50d87);  MD5_STEP(G, b, c, d, a, x[8], 20, 0x455a14ed);
        MD5_STEP(G, a, b, c, d, x[13], 5, 0xa9e3e905);  MD5_STEP(G, d, a, b, c, x[2], 9, 0xfcefa3f8);
        MD5_STEP(G, c, d, a, b, x[7], 14, 0x676f02d9);  MD5_STEP(G, b, c, d, a, x[12], 20, 0x8d2a4c8a);

        MD5_STEP(H, a, b, c, d, x[5], 4, 0xfffa3942);   MD5_STEP(H, d, a, b, c, x[8], 11, 0x8771f681);
        MD5_STEP(H, c, d, a, b, x[11], 16, 0x6d9d6122); MD5_STEP(H, b, c, d, a, x[14], 23, 0xfde5380c);
        MD5_STEP(H, a, b, c, d, x[1], 4, 0xa4beea44);   MD5_STEP(H, d, a, b, c, x[4], 11, 0x4bdecfa9);
        MD5_STEP(H, c, d, a, b, x[7], 16, 0xf6bb4b60);  MD5_STEP(H, b, c, d, a, x[10], 23, 0xbebfbc70);
        MD5_STEP(H, a, b, c, d, x[13], 4, 0x289b7ec6);  MD5_STEP(H, d, a, b, c, x[0], 11, 0xeaa127fa);
        MD5_STEP(H, c, d, a, b, x[3], 16, 0xd4ef3085);  MD5_STEP(H, b, c, d, a, x[6], 23, 0x04881d05);
        MD5_STEP(H, a, b, c, d, x[9], 4, 0xd9d4d039);   MD5_STEP(H, d, a, b, c, x[12], 11, 0xe6db99e5);
        MD5_STEP(H, c, d, a, b, x[15], 16, 0x1fa27cf8); MD5_STEP(H, b, c, d, a, x[2], 23, 0xc4ac5665);

        MD5_STEP(I, a, b, c, d, x[0], 6, 0xf4292244);   MD5_STEP(I, d, a, b, c, x[7], 10, 0x432aff97);
        MD5_STEP(I, c, d, a, b, x[14], 15, 0xab9423a7); MD5_STEP(I, b, c, d, a, x[5], 21, 0xfc93a039);
        MD5_STEP(I, a, b, c, d, x[12], 6, 0x655b59c3);  MD5_STEP(I, d, a, b, c, x[3], 10, 0x8f0ccc92);
        MD5_STEP(I, c, d, a, b, x[10], 15, 0xffeff47d); MD5_STEP(I, b, c, d, a, x[1], 21, 0x85845dd1);
        MD5_STEP(I, a, b, c, d, x[8], 6, 0x6fa87e4f);   MD5_STEP(I, d, a, b, c, x[15], 10, 0xfe2ce6e0);
        MD5_STEP(I, c, d, a, b, x[6], 15, 0xa3014314);  MD5_STEP(I, b, c, d, a, x[13], 21, 0x4e0811a1);
        MD5_STEP(I, a, b, c, d, x[4], 6, 0xf7537e82);   MD5_STEP(I, d, a, b, c, x[11], 10, 0xbd3af235);
        MD5_STEP(I, c, d, a, b, x[2], 15, 0x2ad7d2bb);  MD5_STEP(I, b, c, d, a, x[9], 21, 0xeb86d391);

        a += aa;
        b += bb;
        c += cc;
        d += dd;
    }
    m_lMD5[0] = a;
    m_lMD5[1] = b;
    m_lMD5[2] = c;
    m_lMD5[3] = d;
}

void CMD5Checksum::Update(const void* pData, std::size_t nLength)
{
    const auto* input = static_cast<const std::uint8_t*>(pData);
    std::size_t used = (m_nCount[0] >> 3) & 63;
    std::uint64_t bits = (std::uint64_t(m_nCount[1]) << 32 | m_nCount[0]) + (std::uint64_t(nLength) << 3);
    m_nCount[0] = static_cast<std::uint32_t>(bits);
    m_nCount[1] = static_cast<std::uint32_t>(bits >> 32);

    if (used > 0) {
        std::size_t fill = std::min<std::size_t>(64 - used, nLength);
        std::memcpy(m_lpszBuffer + used, input, fill);
        input += fill;
        nLength -= fill;
        if (used + fill < 64)
            return;
        Transform(m_lpszBuffer, 1);
    }
    Transform(input, nLength / 64);
    std::memcpy(m_lpszBuffer, input + (nLength & ~std::size_t(63)), nLength & 63);
}

std::array<std::uint8_t, 16> CMD5Checksum::Final()
{
    std::uint8_t length[8];
    for (int i = 0; i < 4; ++i) {
        length[i] = static_cast<std::uint8_t>(m_nCount[0] >> (8 * i));
        length[4 + i] = static_cast<std::uint8_t>(m_nCount[1] >> (8 * i));
    }
    std::size_t used = (m_nCount[0] >> 3) & 63;
    static const std::uint8_t padding[64] = {0x80};
    Update(padding, used < 56 ? 56 - used : 120 - used);
    Update(length, 8);

    std::array<std::uint8_t, 16> digest;
    for (int i = 0; i < 16; ++i)
        digest[i] = static_cast<std::uint8_t>(m_lMD5[i / 4] >> (8 * (i % 4)));
    return digest;
}

std::string CMD5Checksum::ToHex(const std::array<std::uint8_t, 16>& digest)
{
    static const char digits[] = "0123456789abcdef";
    std::string text(32, '0');
    for (int i = 0; i < 16; ++i) {
        text[2 * i] = digits[digest[i] >> 4];
        text[2 * i + 1] = digits[digest[i] & 15];
    }
    return text;
}

std::string CMD5Checksum::HashOpenFile(CFile& file)
{
    return *HashRest(file, nullptr);
}

std::optional<std::string> CMD5Checksum::HashRest(CFile& file, const std::atomic<bool>* pStop)
{
    CMD5Checksum md5;
    std::uint8_t buffer[kReadSize];
    while (std::size_t n = file.Read(buffer, kReadSize)) {
        if (pStop && *pStop)
            return std::nullopt;
        md5.Update(buffer, n);
    }
    return ToHex(md5.Final());
}

bool CMD5Checksum::IsHexDigest(std::string_view text)
{
    return text.size() == 32 && text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

std::optional<std::string> CMD5Checksum::HashFileUnlessStopped(const std::string& strFilePath, const std::atomic<bool>* pStop)
{
    CFile file(strFilePath, CFile::modeRead);
    std::optional<std::string> digest = HashRest(file, pStop);
    file.Close();
    return digest;
}

std::string CMD5Checksum::HashFile(const std::string& strFilePath)
{
    return *HashFileUnlessStopped(strFilePath, nullptr);
}
