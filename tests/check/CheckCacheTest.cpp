// The check of the installed files with a check cache: a file unchanged since it was read is not
// opened again, a changed one is, and a record that cannot be trusted whole is not used at all.

#include <gtest/gtest.h>

#ifdef _WIN32
#include <sys/utime.h>
#else
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <fstream>
#include <optional>
#include <set>

#include "check/CheckCache.h"
#include "check/InstalledFiles.h"
#include "manifest/ManifestReader.h"
#include "policy/Policy.h"
#include "tests/support/TempDir.h"

namespace {

constexpr const char* kAbcDigest = "900150983cd24fb0d6963f7d28e17f72";  // of "abc"

#ifdef _WIN32
// Windows tells no other program which files one opens, as it opens them: there the check's opens
// go unwatched, and only what it finds is compared.
class OpenWatch {
public:
    explicit OpenWatch(const std::string&) {}
    std::optional<std::multiset<std::string>> Opened() { return std::nullopt; }
};

void SetModified(const std::filesystem::path& path, std::time_t seconds)
{
    __utimbuf64 times{seconds, seconds};
    ASSERT_EQ(::_wutime64(path.c_str(), &times), 0);
}
#else
// The names of the files opened in one directory, from inotify.
class OpenWatch {
public:
    explicit OpenWatch(const std::string& directory) : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        ::inotify_add_watch(m_fd, directory.c_str(), IN_OPEN);
    }
    ~OpenWatch() { ::close(m_fd); }
    // What was opened since the last call. Events are queued before open() returns, so after
    // the check they are all there.
    std::optional<std::multiset<std::string>> Opened()
    {
        std::multiset<std::string> names;
        alignas(inotify_event) char events[16384];
        for (ssize_t length; (length = ::read(m_fd, events, sizeof events)) > 0;)
            for (ssize_t at = 0; at < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                if (event->len > 0)
                    names.insert(event->name);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        return names;
    }

private:
    int m_fd;
};

// Sets a file's modification time, as `touch -d` would; its change time becomes now.
void SetModified(const std::filesystem::path& path, std::time_t seconds)
{
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}
#endif

class CheckCacheTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"a.dat", "b.dat", "c.dat"}) {
            install.Write(name, "abc");
            SetModified(install.Path() / name, 1600000000);
        }
        watch.Opened();  // the writes above
    }
    // The files the manifest's check finds changed, with a cache that keeps even fresh files.
    std::vector<std::string> Check()
    {
        CCheckCache cache(cachePath, installDir, std::chrono::nanoseconds(0));
        ManifestListing listing = ReadManifest(manifest);
        const InstalledFilesCheck check = CheckInstalledFiles(installDir, "the manifest", listing, &cache);
        std::vector<std::string> names;
        for (const ChangedFile& file : check.files)
            names.push_back(file.strName);
        return names;
    }

    TempDir install;
    TempDir temp;
    std::string installDir = install.Dir();
    std::string cachePath = temp.Dir() + kCheckCacheName;
    std::string manifest = "<manifest><filelist>"
                           "<file filename='a.dat' filesize='3' fileversion='1' md5='900150983cd24fb0d6963f7d28e17f72'/>"
                           "<file filename='b.dat' filesize='3' fileversion='1' md5='900150983cd24fb0d6963f7d28e17f72'/>"
                           "<file filename='c.dat' filesize='3' fileversion='1' md5='900150983cd24fb0d6963f7d28e17f72'/>"
                           "</filelist></manifest>";
    // What the check opened since the last look, where the system tells (see OpenWatch).
    void ExpectOpened(const std::multiset<std::string>& expected, const std::string& trace = "")
    {
        if (const std::optional<std::multiset<std::string>> opened = watch.Opened()) {
            EXPECT_EQ(*opened, expected) << trace;
        }
    }

    OpenWatch watch{install.Dir()};
};

TEST_F(CheckCacheTest, ASecondCheckOpensNothingUnchangedAndReadsAChangedFileAgain)
{
    EXPECT_EQ(Check(), std::vector<std::string>{});
    ExpectOpened((std::multiset<std::string>{"a.dat", "b.dat", "c.dat"}));
    EXPECT_EQ(Check(), std::vector<std::string>{});
    ExpectOpened(std::multiset<std::string>{});

    // Same size, and the old modification time put back: the change time still tells.
    install.Write("b.dat", "abd");
    SetModified(install.Path() / "b.dat", 1600000000);
    EXPECT_EQ(Check(), std::vector<std::string>{"b.dat"});
    ExpectOpened(std::multiset<std::string>{"b.dat"});
    EXPECT_EQ(Check(), std::vector<std::string>{"b.dat"});  // its new digest is kept too
    ExpectOpened(std::multiset<std::string>{});

    // Replaced by another file (another inode), and gone.
    install.Write("c.new", "abc");
    SetModified(install.Path() / "c.new", 1600000000);
    std::filesystem::rename(install.Path() / "c.new", install.Path() / "c.dat");
    std::filesystem::remove(install.Path() / "a.dat");
    watch.Opened();
    EXPECT_EQ(Check(), (std::vector<std::string>{"a.dat", "b.dat"}));
    ExpectOpened(std::multiset<std::string>{"c.dat"});
}

TEST_F(CheckCacheTest, ARecordThatCannotBeTrustedWholeIsNotUsedAndIsWrittenAfresh)
{
    Check();
    std::string good;
    {
        std::ifstream in(cachePath, std::ios::binary);
        good.assign(std::istreambuf_iterator<char>(in), {});
    }
    ASSERT_FALSE(good.empty());
    const std::string damaged[] = {
        good.substr(0, good.size() - 8),                                            // cut short
        good.substr(0, good.find('\n') + 1),                                        // cut after the first line
        "KesuUpdate check cache 2" + good.substr(good.find('\n')),                  // another format
        good.substr(0, good.find('\n') + 1) + "installation /elsewhere/" + good.substr(good.find('\n', good.find('\n') + 1)),
        std::string(good).replace(good.find("\n3 "), 3, "\nx "),                       // a field that is no number
        std::string(good).replace(good.find(" 9001"), 5, " x001"),                  // a digest that is no digest
        good + "3 1 1 1 1 " + kAbcDigest + " d.dat\n",                              // more than it counts
        std::string("\0\1\2", 3),
    };
    for (const std::string& record : damaged) {
        std::ofstream(cachePath, std::ios::binary) << record;
        watch.Opened();
        EXPECT_EQ(Check(), std::vector<std::string>{}) << record;
        ExpectOpened((std::multiset<std::string>{"a.dat", "b.dat", "c.dat"}), record);
        EXPECT_EQ(Check(), std::vector<std::string>{}) << record;  // and the one written since is used
        ExpectOpened(std::multiset<std::string>{}, record);
    }
}

TEST_F(CheckCacheTest, AFileChangedJustBeforeTheCheckIsNotKept)
{
    CCheckCache fresh(cachePath, installDir);  // the real settle time: these files changed just now
    ManifestListing listing = ReadManifest(manifest);
    CheckInstalledFiles(installDir, "the manifest", listing, &fresh);
    CCheckCache next(cachePath, installDir);
    EXPECT_EQ(next.KnownCount(), 0u);
}

}  // namespace
