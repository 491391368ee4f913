#include <gtest/gtest.h>

#include <cstdio>
#include <sys/stat.h>

#include "digest/MD5Checksum.h"
#include "platform/File.h"
#include "tests/support/TempDir.h"
#include "tests/support/Unprivileged.h"

namespace {

std::string Digest(const std::string& text)
{
    CMD5Checksum md5;
    md5.Update(text.data(), text.size());
    return CMD5Checksum::ToHex(md5.Final());
}

std::string Md5sum(const std::string& path)
{
    std::string command = "md5sum '" + path + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    char digest[33] = {};
    EXPECT_EQ(std::fread(digest, 1, 32, pipe), 32u);
    ::pclose(pipe);
    return digest;
}

TEST(MD5ChecksumTest, RfcTestSuite)
{
    EXPECT_EQ(Digest(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Digest("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(Digest("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Digest("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(Digest("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(Digest("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(Digest("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(MD5ChecksumTest, PiecesOfAnySizeGiveTheSameDigest)
{
    std::string text;
    for (int i = 0; i < 1000; ++i)
        text += static_cast<char>(i * 7);
    const std::string whole = Digest(text);
    for (std::size_t piece : {1u, 3u, 55u, 56u, 63u, 64u, 65u, 127u, 999u}) {
        CMD5Checksum md5;
        for (std::size_t at = 0; at < text.size(); at += piece)
            md5.Update(text.data() + at, std::min(piece, text.size() - at));
        EXPECT_EQ(CMD5Checksum::ToHex(md5.Final()), whole) << piece;
    }
}

TEST(MD5ChecksumTest, FilesHashLikeMd5sum)
{
    TempDir dir;
    std::string big(5 * 1024 * 1024 + 333, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i ^ (i >> 9));
    for (std::size_t size : {std::size_t(0), std::size_t(1), std::size_t(1023), std::size_t(1024),
                             std::size_t(1025), std::size_t(65536), big.size()}) {
        std::string path = dir.Write("f" + std::to_string(size), big.substr(0, size));
        std::string digest = CMD5Checksum::HashFile(path);
        EXPECT_EQ(digest, Md5sum(path)) << size;
        EXPECT_EQ(digest.find_first_not_of("0123456789abcdef"), std::string::npos);
    }
}

TEST(MD5ChecksumTest, HashOpenFileStartsAtTheCurrentPosition)
{
    TempDir dir;
    CFile file(dir.Write("f", "xxabc"), CFile::modeRead);
    char skip[2];
    file.Read(skip, 2);
    EXPECT_EQ(CMD5Checksum::HashOpenFile(file), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(MD5ChecksumTest, FilesThatCannotBeReadRaiseTheException)
{
    TempDir dir;
    EXPECT_THROW(CMD5Checksum::HashFile(dir.Dir() + "missing"), CFileException);
    EXPECT_THROW(CMD5Checksum::HashFile(dir.Dir()), CFileException);
    // Opens, then fails on the first read.
    EXPECT_THROW(CMD5Checksum::HashFile("/proc/self/mem"), CFileException);
}

TEST(MD5ChecksumTest, FileWithoutReadPermissionRaisesTheException)
{
    TempDir dir;
    std::string path = dir.Write("secret", "abc");
    ::chmod(path.c_str(), 0);
    ::chmod(dir.Path().c_str(), 0755);
    int result = RunUnprivileged([&] {
        try {
            CMD5Checksum::HashFile(path);
        } catch (const CFileException& e) {
            return e.GetErrno() == EACCES ? 0 : 2;
        }
        return 1;
    });
    EXPECT_EQ(result, 0);
}

}  // namespace
