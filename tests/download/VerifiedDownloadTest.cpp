// A download is kept only when it is the file the manifest describes, however the server sends it.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "download/DownloadMgr.h"
#include "digest/MD5Checksum.h"
#include "digest/Blake2b.h"
#include "digest/Sha256.h"
#include "platform/Crypto.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "tests/download/TestDownloadMgr.h"
#include "tests/support/EventLog.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"
#include "tests/support/Gzip.h"

using namespace std::chrono_literals;

namespace {

// Without a step after its downloads, the manager only downloads.
using DownloadOnlyMgr = TestDownloadMgr;

std::string Md5(const std::string& data)
{
    CMD5Checksum md5;
    md5.Update(data.data(), data.size());
    return CMD5Checksum::ToHex(md5.Final());
}

std::string Sha256(const std::string& data)
{
    CSha256 sha;
    sha.Update(data.data(), data.size());
    Sha256Digest digest = sha.Final();
    return ToHex(digest.data(), digest.size());
}

// One manifest download of a.dat from a server of its own.
struct OneDownload {

    void Serve(const std::string& body, const std::string& encoding = "")
    {
        server.Http().Get("/update/a.dat", [body, encoding](const httplib::Request&, httplib::Response& res) {
            if (!encoding.empty())
                res.set_header("Content-Encoding", encoding);
            res.set_content(body, "application/octet-stream");
        });
    }

    // Downloads a.dat, described as given (nothing: a package, which has no description).
    RunEnd Fetch(std::optional<tagExpectedFile> expected, DownloadCheck check = {},
              std::optional<std::uint64_t> limit = std::nullopt)
    {
        server.Start();
        mgr.Initialize(&log, {server.Url("/update/"), install.Dir() + "tmp", install.Dir()});
        mgr.GetSession()->SetLimits({.connectTimeout = 5s, .stallTimeout = 2s});
        mgr.AddTask("a.dat", std::move(expected), std::move(check), limit);
        return mgr.Run();
    }

    std::string Stored() const { return ReadWholeFile(install.Path() / "tmp/a.dat.dtm"); }
    bool AnythingStored() const { return PathFileExists(install.Dir() + "tmp/a.dat.dtm"); }

    // The most bytes of the file that any progress event reported.
    std::uint64_t MostReported() const
    {
        std::uint64_t most = 0;
        for (const RecordedEvent& event : log.Events())
            if (event.nEvent == DOWNLOAD_EVENT_PROGRESS)
                most = std::max(most, event.nParam1);
        return most;
    }

    TestServer server;
    TempDir install;
    EventLog log;
    DownloadOnlyMgr mgr;
};

class VerifiedDownloadTest : public ::testing::Test, public OneDownload {};

TEST_F(VerifiedDownloadTest, AFileIsKeptOnlyWhenItsSizeAndDigestsAreTheManifests)
{
    const std::string body(30000, 'q');
    std::string upper = Md5(body);
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    struct Case {
        const char* what;
        tagExpectedFile expected;
        bool kept;
    } cases[] = {
        {"digests as published", {30000, Md5(body), Sha256(body), {}}, true},
        {"the MD5 in capitals with blanks around it", {30000, " " + upper + "\n", "", {}}, true},
        {"another MD5", {30000, Md5(body + "x"), "", {}}, false},
        {"another SHA-256", {30000, Md5(body), Sha256(body + "x"), {}}, false},
        {"a larger size", {30001, Md5(body), "", {}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OneDownload fresh;
        fresh.Serve(body);
        EXPECT_EQ(fresh.Fetch(c.expected), c.kept ? RunEnd::Done : RunEnd::Failed);
        EXPECT_EQ(fresh.AnythingStored(), c.kept);
        if (!c.kept) {
            EXPECT_EQ(fresh.log.Last(), (RecordedEvent{0, 0, DOWNLOAD_EVENT_ERROR, "下载 a.dat 文件失败"}));
        }
    }
}

TEST_F(VerifiedDownloadTest, ABodyLongerThanTheManifestSaysIsDroppedOneByteBeyondIt)
{
    // An endless body with no length: a file of 1000 bytes never takes more than that on disk.
    server.Http().Get("/update/a.dat", [](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("application/octet-stream", [](size_t, httplib::DataSink& sink) {
            static const std::string chunk(4096, 'z');
            return sink.write(chunk.data(), chunk.size());
        });
    });
    EXPECT_EQ(Fetch(tagExpectedFile{1000, Md5(std::string(1000, 'z')), "", {}}), RunEnd::Failed);
    EXPECT_FALSE(AnythingStored());
    EXPECT_LE(MostReported(), 1000u);
    EXPECT_EQ(log.Last().text, "下载 a.dat 文件失败");
}

TEST_F(VerifiedDownloadTest, AnEndlessPackageStopsAtTheLengthItsProbeWasTold)
{
    server.Http().Get("/update/a.dat", [](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("application/zip", [](size_t, httplib::DataSink& sink) {
            static const std::string chunk(4096, 'z');
            return sink.write(chunk.data(), chunk.size());
        });
    });
    EXPECT_EQ(Fetch(std::nullopt, {}, 100000), RunEnd::Failed);
    EXPECT_FALSE(AnythingStored());
    EXPECT_LE(MostReported(), 100000u);
}

TEST_F(VerifiedDownloadTest, ALongerBodyWithItsLengthIsDroppedToo)
{
    const std::string body(50000, 'l');
    Serve(body);
    EXPECT_EQ(Fetch(tagExpectedFile{20000, Md5(body.substr(0, 20000)), "", {}}), RunEnd::Failed);
    EXPECT_FALSE(AnythingStored());
    EXPECT_LE(MostReported(), 20000u);
}

TEST_F(VerifiedDownloadTest, ARealFileThatStartsLikeAnErrorPageIsTheFile)
{
    const std::string help = "<html><body>How to play: ...</body></html>";
    Serve(help);
    EXPECT_EQ(Fetch(tagExpectedFile{help.size(), Md5(help), "", {}}), RunEnd::Done);
    EXPECT_EQ(Stored(), help);
}

TEST_F(VerifiedDownloadTest, AnErrorPageInPlaceOfAFileStillFails)
{
    Serve("<html><body>Service unavailable</body></html>");
    EXPECT_EQ(Fetch(tagExpectedFile{12, Md5("the real one"), "", {}}), RunEnd::Failed);
    EXPECT_FALSE(AnythingStored());
    EXPECT_EQ(log.Last().text, "下载 a.dat 文件失败");
}

TEST_F(VerifiedDownloadTest, APackageThatStartsLikeAnErrorPageFailsAtTheFirstBlock)
{
    Serve("<html><body>Service unavailable</body></html>");
    EXPECT_EQ(Fetch(std::nullopt), RunEnd::Failed);
    EXPECT_FALSE(AnythingStored());  // never created
    for (int code : log.Codes())
        EXPECT_NE(code, DOWNLOAD_EVENT_TOTAL);
}

TEST_F(VerifiedDownloadTest, ABodyCompressedWithoutBeingAskedIsStoredDecoded)
{
    std::string text;
    for (int i = 0; i < 5000; ++i)
        text += "line " + std::to_string(i) + " of a text that compresses well\n";
    Serve(Gzip(text), "gzip");
    EXPECT_EQ(Fetch(tagExpectedFile{text.size(), Md5(text), Sha256(text), {}}), RunEnd::Done);
    EXPECT_EQ(Stored(), text);
    EXPECT_EQ(log.Events()[1], (RecordedEvent{0, static_cast<std::uint32_t>(text.size()), DOWNLOAD_EVENT_TOTAL, "a.dat"}));
}

// The process's peak resident memory so far.
long PeakKilobytes()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmHWM:"))
            return std::stol(line.substr(6));
    return 0;
}

TEST_F(VerifiedDownloadTest, AHugelyCompressedBodyIsDecodedAsItIsReadInLittleMemory)
{
    const std::string zeros(80 << 20, '\0');  // 80 MB that pack into 80 KB
    Serve(Gzip(zeros), "gzip");
    const long before = PeakKilobytes();
    EXPECT_EQ(Fetch(tagExpectedFile{zeros.size(), Md5(zeros), "", {}}), RunEnd::Done) << log.Last();
    EXPECT_LT(PeakKilobytes() - before, 16 * 1024);
    EXPECT_EQ(std::filesystem::file_size(install.Path() / "tmp/a.dat.dtm"), zeros.size());
}

TEST_F(VerifiedDownloadTest, CompressedBodiesInMembersDamagedOrUnknown)
{
    const std::string text(100000, 'm');
    struct Case {
        const char* what;
        std::string body, encoding;
        bool kept;
    } cases[] = {
        {"two gzip members", Gzip(text.substr(0, 40000)) + Gzip(text.substr(40000)), "gzip", true},
        {"a damaged gzip body", Gzip(text).replace(20, 8, "damaged!"), "gzip", false},
        {"a gzip body cut short", Gzip(text).substr(0, 60), "gzip", false},
        {"an encoding this program cannot read", text, "br", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OneDownload fresh;
        fresh.Serve(c.body, c.encoding);
        EXPECT_EQ(fresh.Fetch(tagExpectedFile{text.size(), Md5(text), "", {}}), c.kept ? RunEnd::Done : RunEnd::Failed);
        EXPECT_EQ(fresh.AnythingStored() && fresh.Stored() == text, c.kept);
    }
}

TEST_F(VerifiedDownloadTest, ALastCheckSeesTheFilesDigestAndItsRefusalDeletesIt)
{
    const std::string package(100000, 'p');
    CBlake2b512 blake;
    blake.Update(package.data(), package.size());
    const Blake2b512Digest expected = blake.Final();
    Serve(package);
    bool sawTheDigest = false;
    EXPECT_EQ(Fetch(std::nullopt,
                  [&](const std::string& path, const Blake2b512Digest& digest) {
                      sawTheDigest = digest == expected && ReadWholeFile(path) == package;
                      return std::optional(Failure{"不是发布者的文件。", "the test's check refuses it"});
                  }),
              RunEnd::Failed);
    EXPECT_TRUE(sawTheDigest);
    EXPECT_FALSE(AnythingStored());
    EXPECT_EQ(log.Last(), (RecordedEvent{0, 0, DOWNLOAD_EVENT_ERROR, "不是发布者的文件。"}));
}

// The check hands its refusal back whole: the download writes its cause to the log, once, and
// tells the player its sentence rather than a failed download's.
TEST_F(VerifiedDownloadTest, ALastChecksRefusalHasItsCauseLoggedOnce)
{
    Serve(std::string(1000, 'p'));
    ::testing::internal::CaptureStderr();
    const RunEnd end = Fetch(std::nullopt, [](const std::string&, const Blake2b512Digest&) {
        return std::optional(Failure{"不是发布者的文件。", "a.dat: signed by a key this test does not trust"});
    });
    const std::string logged = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(end, RunEnd::Failed);
    const std::string cause = "a.dat: signed by a key this test does not trust\n";
    const std::size_t first = logged.find(cause);
    ASSERT_NE(first, std::string::npos) << logged;
    EXPECT_EQ(logged.find(cause, first + cause.size()), std::string::npos) << logged;
    EXPECT_EQ(log.Last(), (RecordedEvent{0, 0, DOWNLOAD_EVENT_ERROR, "不是发布者的文件。"}));
}

// The program as built for another machine: its header's machine field, x86-64 <-> AArch64, in
// an ELF program (Linux) or a PE one (Windows).
std::string ForAnotherMachine(std::string program)
{
    if (program.starts_with("MZ")) {
        std::uint32_t header = 0;
        std::memcpy(&header, program.data() + 0x3C, sizeof header);
        char& machine = program[header + 5];  // the high byte of 0x8664 or 0xAA64
        machine = static_cast<char>(machine == '\x86' ? 0xAA : 0x86);
    } else {
        program[18] = static_cast<char>(program[18] == 0x3E ? 0xB7 : 0x3E);
    }
    return program;
}

// The running program's own name: the test program stands in for the updater.
TEST_F(VerifiedDownloadTest, ANewCopyOfTheRunningProgramMustBeAProgramForThisMachine)
{
    const std::string ownName = PathFindFileName(GetModuleFileName());
    const std::string program = ReadWholeFile(PathFromUtf8(GetModuleFileName()));
    const std::string foreign = ForAnotherMachine(program);
    for (const auto& [body, kept] : {std::pair{program, true}, {std::string("#!/bin/sh\necho hi\n"), false},
                                     {foreign, false}}) {
        TestServer other;
        other.Http().Get("/update/" + ownName, [body = body](const httplib::Request&, httplib::Response& res) {
            res.set_content(body, "application/octet-stream");
        });
        other.Start();
        TempDir dir;
        EventLog events;
        DownloadOnlyMgr downloads;
        downloads.Initialize(&events, {other.Url("/update/"), dir.Dir() + "tmp", dir.Dir()});
        downloads.AddTask(ownName.c_str(), tagExpectedFile{body.size(), Md5(body), "", {}});
        EXPECT_EQ(downloads.Run(), kept ? RunEnd::Done : RunEnd::Failed);
        EXPECT_EQ(PathFileExists(dir.Dir() + "tmp/" + ownName + ".dtm"), kept);
    }
}

}  // namespace
