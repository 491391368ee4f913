#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>

#include "run/SourceSelection.h"
#include "download/UpdateSession.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"

namespace {

constexpr const char* kAbcDigest = "900150983cd24fb0d6963f7d28e17f72";  // of "abc"

std::string Entry(const std::string& name, const std::string& size = "3", const std::string& md5 = kAbcDigest)
{
    return "<file filename=\"" + name + "\" filesize=\"" + size + "\" fileversion=\"1.0\" md5=\"" + md5 + "\"/>";
}

std::string Manifest(const std::string& entries)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><manifest><filelist>" + entries + "</filelist></manifest>";
}

class ParseManifestTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        server.Http().Get("/update/update.xml", [this](const httplib::Request& req, httplib::Response& res) {
            cacheControl = req.get_header_value("Cache-Control");
            res.status = status;
            res.set_content(body, "text/xml");
        });
        server.Start();
    }

    // Parses `manifest` as served by the server; the standard error it wrote goes to `messages`.
    bool Parse(const std::string& manifest)
    {
        body = manifest;
        ::testing::internal::CaptureStderr();
        findings = FindManifestUpdate(installDir, server.Url("/update/update.xml"), nullptr, session.get());
        messages = ::testing::internal::GetCapturedStderr();
        return findings.bFetch;
    }

    // The files found to fetch, by name.
    std::vector<std::string> Queued() const
    {
        std::vector<std::string> names;
        for (const ChangedFile& file : findings.files)
            names.push_back(file.strName);
        return names;
    }

    TestServer server;
    std::unique_ptr<CInternetSession> session = OpenUpdateSession();
    std::string body;
    int status = 200;
    TempDir install;
    std::string installDir = install.Dir();
    ManifestFindings findings;
    std::string cacheControl;  // of the last request for the manifest
    std::string messages;
};

TEST_F(ParseManifestTest, ChangedAndMissingFilesAreQueuedInDocumentOrder)
{
    install.Write("same.txt", "abc");
    install.Write("changed.txt", "abd");
    install.Write("upper.txt", "abc");
    install.Write("data/map/town.dat", "abc");
    std::string manifest =
        "<?xml version=\"1.0\"?><manifest><filelist>" + Entry("same.txt") + Entry("changed.txt", "10") +
        Entry("missing.txt", "100", "not even a digest") + Entry("Reg.Local", "1000") + Entry("reg.local", "10000") +
        "</filelist><other/><filelist>" + Entry("upper.txt", "100000", "900150983CD24FB0D6963F7D28E17F72") +
        Entry("data\\map\\town.dat") + Entry("changed.txt", "1000000") + "<file filename='x'/></filelist>" +
        "<filelist/></manifest>";
    // The last entry lacks attributes: it ends the parse after all the others, and says so.
    EXPECT_FALSE(Parse(manifest));
    EXPECT_EQ(Queued(), (std::vector<std::string>{"changed.txt", "missing.txt", "reg.local", "upper.txt", "changed.txt"}));
    EXPECT_EQ(findings.nTotalSize, 10u + 100u + 10000u + 100000u + 1000000u);
    EXPECT_EQ(findings.strMessage, "更新清单中的 x 无法使用，已停止更新。");

    EXPECT_TRUE(Parse(Manifest(Entry("same.txt") + Entry("changed.txt", "10") + Entry("same.txt"))));
    EXPECT_EQ(Queued(), std::vector<std::string>{"changed.txt"});
    EXPECT_EQ(findings.nTotalSize, 10u);
}

TEST_F(ParseManifestTest, NothingToDoGivesFalseWithoutMessage)
{
    install.Write("same.txt", "abc");
    for (const std::string& manifest : {Manifest(Entry("same.txt")), Manifest(""), std::string("<manifest/>")}) {
        EXPECT_FALSE(Parse(manifest)) << manifest;
        EXPECT_TRUE(findings.bUpToDate) << manifest;
        EXPECT_FALSE(findings.bServerFailed) << manifest;
        EXPECT_EQ(findings.strMessage, "");
        EXPECT_EQ(messages, "");
    }
}

// A parked domain or a captive portal answers every URL with a page of its own: that server has
// failed, another may serve the manifest, and the player is never told the game is up to date.
TEST_F(ParseManifestTest, AnAnswerThatIsNoManifestFailsTheServerAndSaysSo)
{
    for (const std::string& answer :
         {std::string("not xml at all"), std::string(""), Manifest(Entry("a.txt")).substr(0, 80),  // cut in an entry
          Manifest(Entry("a.txt") + Entry("b.txt")).substr(0, Manifest(Entry("a.txt") + Entry("b.txt")).size() - 12),
          std::string("<manifest><filelist>") + Entry("a.txt") + "</filelist></manifest><trailing/>",
          std::string("<m:manifest xmlns:m='urn:x'><m:filelist>") + Entry("a.txt") + "</m:filelist></m:manifest>",
          std::string("<!DOCTYPE html><html><head><title>This domain is parked</title></head><body>For sale</body></html>"),
          std::string("<html><body><manifest><filelist>") + Entry("a.txt") + "</filelist></manifest></body></html>",
          std::string("<html><body><p>Log in to the hotel network<br></p></body></html>")}) {
        EXPECT_FALSE(Parse(answer)) << answer;
        EXPECT_TRUE(findings.files.empty()) << answer;
        EXPECT_FALSE(findings.bUpToDate) << answer;
        EXPECT_TRUE(findings.bServerFailed) << answer;
        EXPECT_EQ(findings.strMessage, "服务器返回的不是更新清单，已停止更新。") << answer;
        EXPECT_NE(messages.find("so it is no manifest"), std::string::npos) << messages;
    }
}

TEST_F(ParseManifestTest, AnAttributeThatIsMissingOrNotANumberEndsTheParseThere)
{
    struct Case {
        std::string badEntry;
        bool queuedAfterwards;
    } cases[] = {
        {"<file filesize='3' fileversion='1' md5='x'/>", false},
        {"<file filename='b' fileversion='1' md5='x'/>", false},
        {"<file filename='b' filesize='3' md5='x'/>", false},
        {"<file filename='b' filesize='3' fileversion='1'/>", false},
        {Entry("b", "12x"), false},
        {Entry("b", "-1"), false},
        {Entry("b", "4294967296"), false},
        {Entry("b", ""), false},
        {Entry("b", "0x10"), false},
        {Entry("b", " 7"), true},
        {Entry("b", "4294967295"), true},
    };
    for (const auto& c : cases) {
        bool result = Parse(Manifest(Entry("a", "1") + c.badEntry + Entry("c", "1")));
        EXPECT_EQ(result, c.queuedAfterwards) << c.badEntry;
        std::vector<std::string> expected = {"a"};
        if (c.queuedAfterwards) {
            expected = {"a", "b", "c"};
        }
        EXPECT_EQ(Queued(), expected) << c.badEntry;
        if (!c.queuedAfterwards) {
            const std::string name = c.badEntry.find("filename") != std::string::npos ? "b" : "第 2 项";
            EXPECT_EQ(findings.strMessage, "更新清单中的 " + name + " 无法使用，已停止更新。") << c.badEntry;
            EXPECT_NE(messages.find("entry 2"), std::string::npos) << messages;
            EXPECT_FALSE(findings.bServerFailed);
        }
    }
}

TEST_F(ParseManifestTest, NamesThatWouldLeaveTheInstallationDirectoryRejectTheManifest)
{
    for (std::string name : {"..\\evil.dat", "data/../../evil.dat", "data\\..", "..", "\\..\\evil.dat", "C:\\evil.dat",
                             "c:evil.dat", "\\", "/"}) {
        EXPECT_FALSE(Parse(Manifest(Entry("fine.dat") + Entry(name) + Entry("after.dat")))) << name;
        EXPECT_EQ(Queued(), std::vector<std::string>{"fine.dat"}) << name;
        EXPECT_EQ(findings.strMessage, "更新清单中的 " + name + " 无法使用，已停止更新。");
    }
    for (std::string name : {"..data\\x", "a..b\\c", "a\\..b\\c", "data\\.\\x", "地图 文件.dat"}) {
        EXPECT_TRUE(Parse(Manifest(Entry(name)))) << name;
    }
    // Dots that end a component are no "..": they stay inside, and Windows drops them ("x.." is
    // x); a component of dots alone would be nothing, and is refused for that, and said so.
    EXPECT_TRUE(Parse(Manifest(Entry("..data\\x.."))));
    EXPECT_EQ(Queued(), std::vector<std::string>{"..data\\x"});
    EXPECT_FALSE(Parse(Manifest(Entry("a\\...\\b"))));
    EXPECT_EQ(findings.strMessage, "更新清单中的 a\\...\\b 无法使用（名称在 Windows 上不能用作文件名），已停止更新。");
    EXPECT_EQ(messages.find("leads out"), std::string::npos) << messages;
    EXPECT_NE(messages.find("\"...\" is nothing but dots and blanks, which Windows drops"), std::string::npos) << messages;
}

// Windows would hold both as one file, and the manifest describes two: the second ends the list,
// like any entry that cannot be used. The same name twice is as it always was.
TEST_F(ParseManifestTest, TwoNamesThatDifferInLetterCaseAloneRejectTheManifest)
{
    EXPECT_FALSE(Parse(Manifest(Entry("Data\\Town.dat") + Entry("Data/Town.dat") + Entry("data\\town.dat", "4") +
                                Entry("after.dat"))));
    EXPECT_EQ(Queued(), (std::vector<std::string>{"Data\\Town.dat", "Data/Town.dat"}));
    EXPECT_EQ(findings.strMessage, "更新清单中的 data\\town.dat 无法使用（与 Data\\Town.dat 只有大小写不同，在 Windows 上是同一个文件），已停止更新。");
    EXPECT_NE(messages.find("entry 3 (data\\town.dat) cannot be used: its name differs from Data\\Town.dat's in letter "
                            "case alone: one file on Windows"),
              std::string::npos)
        << messages;
}

// The installation directory ends in a separator: a name that begins with one names the same file.
TEST_F(ParseManifestTest, LeadingSeparatorsOfANameAreDropped)
{
    install.Write("data/town.dat", "abc");
    EXPECT_TRUE(Parse(Manifest(Entry("\\data\\town.dat") + Entry("/data/town.dat") + Entry("\\/data\\new.dat") +
                               Entry("//etc/passwd"))));
    EXPECT_EQ(Queued(), (std::vector<std::string>{"data\\new.dat", "etc/passwd"}));
}

TEST_F(ParseManifestTest, TheBodyIsReadInTheEncodingItDeclaresElseUtf8OrGbk)
{
    install.Write("地图.dat", "abc");
    const std::string gbkNewFile = "\xD0\xC2 \xCE\xC4\xBC\xFE.dat";  // 新 文件.dat
    const std::string gbkMap = "\xB5\xD8\xCD\xBC.dat";                 // 地图.dat
    for (const std::string& prolog : {std::string("<?xml version=\"1.0\" encoding=\"GBK\"?>"), std::string()}) {
        EXPECT_TRUE(Parse(prolog + "<manifest><filelist>" + Entry(gbkMap) + Entry(gbkNewFile) + "</filelist></manifest>"));
        EXPECT_EQ(Queued(), std::vector<std::string>{"新 文件.dat"}) << prolog;
    }
    EXPECT_TRUE(Parse("<manifest><filelist>" + Entry("地图.dat") + Entry("新 文件.dat") + "</filelist></manifest>"));
    EXPECT_EQ(Queued(), std::vector<std::string>{"新 文件.dat"});
}

TEST_F(ParseManifestTest, ADirectoryAtAListedNameDiffersSoThatItsInstallationSaysWhatIsInTheWay)
{
    install.Write("dir/inner.txt", "abc");
    EXPECT_TRUE(Parse(Manifest(Entry("a.txt") + Entry("dir") + Entry("b.txt"))));
    EXPECT_EQ(Queued(), (std::vector<std::string>{"a.txt", "dir", "b.txt"}));
}

TEST_F(ParseManifestTest, LocalFileThatCannotBeReadEndsTheParseAndSaysWhich)
{
    // A file whose every read fails, even for root: this process's memory, which has nothing
    // mapped at offset 0. (Dropping root in a child would fork a process whose server threads
    // may hold locks the child then waits for.)
    std::filesystem::create_symlink("/proc/self/mem", install.Path() / "locked.txt");
    const std::string manifest = Manifest(Entry("a.txt") + Entry("locked.txt") + Entry("b.txt"));
    EXPECT_FALSE(Parse(manifest));
    EXPECT_EQ(Queued(), std::vector<std::string>{"a.txt"});
    EXPECT_EQ(findings.strMessage, "已安装的文件 locked.txt 无法读取，已停止更新。");
    EXPECT_NE(messages.find("locked.txt"), std::string::npos) << messages;
}

TEST_F(ParseManifestTest, ServerFailuresShowTheirNumber)
{
    struct Case {
        std::string body;
        int status;
    } cases[] = {
        {"<html><body>\xCE\xDE\xB7\xA8\xD5\xD2\xB5\xBD\xB8\xC3\xD2\xB3</body></html>", 404},
        {"<html><body>无法找到该页</body></html>", 200},
        {Manifest(Entry("a.txt")) + "<!-- 无法找到该页 -->", 200},
    };
    for (const auto& c : cases) {
        status = c.status;
        EXPECT_FALSE(Parse(c.body));
        EXPECT_EQ(findings.strMessage, "Error line:546\n");
        EXPECT_TRUE(findings.files.empty());
    }

    ClosedPort closed;
    ::testing::internal::CaptureStderr();
    findings = FindManifestUpdate(installDir, closed.Url("/update/update.xml"), nullptr, session.get());
    const std::string told = ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(findings.bFetch);
    EXPECT_EQ(findings.strMessage, "Error line:493\n");
    EXPECT_NE(told.find("Couldn't connect"), std::string::npos) << told;
}

// How long they take is manifest_bench's to measure.
TEST_F(ParseManifestTest, AHundredThousandEntriesAreAllQueuedInDocumentOrder)
{
    std::string entries;
    std::vector<std::string> names;
    for (int i = 0; i < 100000; ++i) {
        names.push_back("data\\file" + std::to_string(i) + ".dat");
        entries += Entry(names.back(), "1");
    }
    EXPECT_TRUE(Parse(Manifest(entries)));
    EXPECT_EQ(Queued(), names);
    EXPECT_EQ(findings.nTotalSize, 100000u);
    EXPECT_EQ(messages, "");
}

TEST_F(ParseManifestTest, TheManifestIsAskedForPastAnyCache)
{
    Parse(Manifest(Entry("a.dat")));
    EXPECT_EQ(cacheControl, "no-cache");
}

}  // namespace
