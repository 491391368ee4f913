// Writes that go straight to the disk: whatever their alignment and whatever the file system,
// the file holds exactly what was written, and it can be read and continued.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/File.h"
#include "platform/FileSystem.h"
#include "tests/support/SmallFileSystem.h"
#include "tests/support/TempDir.h"

namespace {

struct AlignedFree {
    void operator()(char* p) const { ::operator delete[](p, std::align_val_t{CFile::kDirectAlignment}); }
};

// Writes the pieces one after the other, each from an aligned buffer (offset by `skew` bytes),
// then reads the file back whole.
std::string WriteAndRead(const std::string& path, const std::vector<std::string>& pieces, std::size_t skew)
{
    std::unique_ptr<char[], AlignedFree> buffer(
        static_cast<char*>(::operator new[](1 << 20, std::align_val_t{CFile::kDirectAlignment})));
    CFile file(path, CFile::modeCreate | CFile::modeReadWrite | CFile::modeDirect);
    for (const std::string& piece : pieces) {
        piece.copy(buffer.get() + skew, piece.size());
        file.Write(buffer.get() + skew, piece.size());
    }
    file.Close();
    return ReadWholeFile(path);
}

std::string Bytes(std::size_t size, char seed)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(seed + i * 7 + i / 4096);
    return bytes;
}

void ExpectWholeFiles(const std::string& dir)
{
    const std::string block = Bytes(256 * 1024, 'a'), tail = Bytes(1234, 'z'), odd = Bytes(5000, 'q');
    struct Case {
        const char* what;
        std::vector<std::string> pieces;
        std::size_t skew;
    } cases[] = {
        {"aligned blocks", {block, block}, 0},
        {"aligned blocks, then a tail", {block, block, tail}, 0},
        {"a tail first, then blocks", {tail, block, block}, 0},
        {"blocks of an odd length", {odd, odd, odd}, 0},
        {"blocks from an unaligned buffer", {block, block}, 3},
    };
    for (const Case& c : cases) {
        std::string expected;
        for (const std::string& piece : c.pieces)
            expected += piece;
        EXPECT_TRUE(WriteAndRead(dir + "/f.bin", c.pieces, c.skew) == expected) << c.what << " in " << dir;
    }
    // Read back and continued, as a resumed download does.
    CFile file(dir + "/f.bin", CFile::modeReadWrite | CFile::modeKeep | CFile::modeDirect);
    std::string head(1000, '\0');
    ASSERT_EQ(file.Read(head.data(), head.size()), head.size());
    file.KeepFirst(1000);
    file.Write(tail.data(), tail.size());
    file.Close();
    EXPECT_TRUE(ReadWholeFile(dir + "/f.bin") == block.substr(0, 1000) + tail);
}

TEST(DirectWriteTest, TheFileHoldsWhatWasWrittenOnADiskAndOnAFileSystemWithoutDirectWrites)
{
    TempDir dir;
    ExpectWholeFiles(dir.Dir().substr(0, dir.Dir().size() - 1));
    CreateDirectory(dir.Dir() + "tmpfs");
    SmallFileSystem tmpfs(dir.Path() / "tmpfs", "8m");
    if (tmpfs.Mounted())
        ExpectWholeFiles(dir.Dir() + "tmpfs");
}

}  // namespace
