// A whole run through UpdateRun against a server on 127.0.0.1: what its views are told.

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "delta/MakePatch.h"
#include "platform/FileSystem.h"
#include "tests/run/RunFixture.h"
#include "tests/support/ZipBuilder.h"

using namespace std::chrono_literals;

namespace {

TEST_F(UpdateRunTest, AManifestUpdateShowsEveryStepAndHandsBackToTheLobby)
{
    const std::string contents(300000, 'a');
    Publish(contents, [&](httplib::Response& res) { res.set_content(contents, "application/octet-stream"); });
    // What an earlier run fetched of a file no longer listed, and a file of the player's.
    install.Write("tmp/gone.dat.dtm", "part of an old download");
    install.Write("tmp/gone.dat.dtm.resume", "its note");
    install.Write("tmp/notes.txt", "not a download");
    const std::vector<std::string> expected = {"splash", "panel 300000", "file 300000", "done", "installing", "close"};
    EXPECT_EQ(RunToTheEnd(Values(server.Url("/update/"))), expected);
    EXPECT_FALSE(PathFileExists(install.Dir() + "tmp/gone.dat.dtm"));
    EXPECT_FALSE(PathFileExists(install.Dir() + "tmp/gone.dat.dtm.resume"));
    EXPECT_TRUE(PathFileExists(install.Dir() + "tmp/notes.txt"));
    EXPECT_EQ(view.lastFile, "a.dat");
    EXPECT_EQ(view.lastProgress.nFileDone, 300000u);
    EXPECT_EQ(view.lastProgress.nFileSize, 300000u);
    EXPECT_EQ(view.lastProgress.nTotalDone, 300000u);
    EXPECT_EQ(view.lastProgress.nTotalSize, 300000u);
    EXPECT_EQ(handBacks, 1);
    EXPECT_EQ(ReadWholeFile(install.Path() / "a.dat"), contents);
}

TEST_F(UpdateRunTest, AnInstallationThatIsUpToDateIsSaidSoAndHandsBack)
{
    install.Write("a.dat", "same");
    Publish("same", [](httplib::Response& res) { res.status = 500; });
    const std::vector<std::string> expected = {"splash", "up to date", "close"};
    EXPECT_EQ(RunToTheEnd(Values(server.Url("/update/"))), expected);
    EXPECT_EQ(handBacks, 1);
}

TEST_F(UpdateRunTest, AManifestThatCannotBeReadIsToldAndTheRunStillHandsBack)
{
    ClosedPort closed;
    const std::vector<std::string> expected = {"splash", "message: Error line:493\n", "close"};
    EXPECT_EQ(RunToTheEnd(Values(closed.Url("/update/"))), expected);
    EXPECT_EQ(handBacks, 1);
}

TEST_F(UpdateRunTest, ATemporaryDirectoryOutsideTheInstallationIsToldBeforeTheServerIsAsked)
{
    std::atomic<int> requests{0};
    server.Http().set_logger([&](const httplib::Request&, const httplib::Response&) { ++requests; });
    Publish("x", [](httplib::Response& res) { res.set_content("x", "application/octet-stream"); });
    RunValues values = Values(server.Url("/update/"));
    values.strTempDirSetting = "../elsewhere";
    values.strTempDir = install.Dir() + "../elsewhere";
    const std::vector<std::string> expected = {"splash", "message: 临时目录 ../elsewhere 不在安装目录之内，已停止更新。", "close"};
    EXPECT_EQ(RunToTheEnd(values), expected);
    EXPECT_EQ(requests, 0);
    EXPECT_EQ(handBacks, 1);
}

TEST_F(UpdateRunTest, AFailedDownloadShowsTheCauseAndWhereToGetTheGameAndDoesNotHandBack)
{
    Publish("contents", [](httplib::Response& res) { res.status = 404; });
    const std::vector<std::string> steps = RunToTheEnd(Values(server.Url("/update/")));
    ASSERT_GE(steps.size(), 2u);
    EXPECT_EQ(steps[steps.size() - 2], std::string("failure: 下载 a.dat 文件失败 | ") + kWhereToGetTheGame);
    EXPECT_EQ(handBacks, 0);
    EXPECT_FALSE(PathFileExists(install.Dir() + "a.dat"));
}

TEST_F(UpdateRunTest, AMirrorTakesOverWhatAServerCannotServeAndOnlyAllFailingFailsTheRun)
{
    const std::string contents = "from the mirror";
    std::atomic<int> firstServerFiles{0};
    Publish(contents, [&](httplib::Response& res) {
        ++firstServerFiles;
        res.status = 404;
    });
    TestServer mirror;
    std::atomic<bool> mirrorHasTheFile{true};
    mirror.Http().Get("/update/update.xml", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content("<manifest><filelist><file filename=\"a.dat\" filesize=\"" + std::to_string(contents.size()) +
                            "\" fileversion=\"1\" md5=\"" + Md5(contents) + "\"/></filelist></manifest>",
                        "text/xml");
    });
    mirror.Http().Get("/update/a.dat", [&](const httplib::Request&, httplib::Response& res) {
        if (mirrorHasTheFile)
            res.set_content(contents, "application/octet-stream");
        else
            res.status = 404;
    });
    mirror.Start();
    ClosedPort closed;

    // The first server fails the file: the mirror takes over.
    RunValues values = Values(server.Url("/update/"));
    values.mirrorBaseURLs = {mirror.Url("/update/")};
    std::vector<std::string> steps = RunToTheEnd(values);
    EXPECT_EQ(steps.back(), "close");
    EXPECT_EQ(ReadWholeFile(install.Path() / "a.dat"), contents);
    EXPECT_EQ(firstServerFiles, 1);
    EXPECT_EQ(handBacks, 1);

    // The first server cannot be reached: the manifest and the file come from the next that can.
    std::filesystem::remove(install.Path() / "a.dat");
    RecordingView second;
    values.strBaseURL = closed.Url("/update/");
    values.mirrorBaseURLs = {mirror.Url("/update/")};
    {
        UpdateRun run(values, [this] { ++handBacks; });
        run.AddView(second);
        run.Start();
        ASSERT_TRUE(second.WaitForClose());
    }
    EXPECT_EQ(ReadWholeFile(install.Path() / "a.dat"), contents);
    EXPECT_EQ(handBacks, 2);

    // Every server fails the file: only then is the player told where to get the game.
    std::filesystem::remove(install.Path() / "a.dat");
    mirrorHasTheFile = false;
    RecordingView failed;
    values = Values(server.Url("/update/"));
    values.mirrorBaseURLs = {mirror.Url("/update/")};
    {
        UpdateRun run(values, [this] { ++handBacks; });
        run.AddView(failed);
        run.Start();
        ASSERT_TRUE(failed.WaitForClose());
    }
    steps = failed.Steps();
    EXPECT_EQ(std::count_if(steps.begin(), steps.end(), [](const std::string& step) { return step.starts_with("failure: "); }), 1);
    EXPECT_EQ(steps[steps.size() - 2], std::string("failure: 下载 a.dat 文件失败 | ") + kWhereToGetTheGame);
    EXPECT_EQ(handBacks, 2);
}

TEST_F(UpdateRunTest, AChangedFileComesAsAPatchForTheInstalledVersionOrWholeWhenThePatchFails)
{
    std::string old(400000, '\0');
    for (std::size_t i = 0; i < old.size(); ++i)
        old[i] = static_cast<char>((i * 7919) >> 5);
    std::string current = old;
    current.replace(1000, 50, std::string(50, 'x'));
    current.replace(300000, 50, std::string(50, 'y'));
    const std::string patch = MakePatch(old, current);
    std::string served;  // what the server sends for the patch
    std::vector<std::string> asked;
    server.Http().Get("/update/update.xml", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content("<manifest><filelist><file filename=\"a.dat\" filesize=\"" + std::to_string(current.size()) +
                            "\" fileversion=\"2\" md5=\"" + Md5(current) + "\">" + "<patch from=\"" + Md5(old) +
                            "\" filename=\"patches/p1.zst\" filesize=\"" + std::to_string(patch.size()) + "\" md5=\"" +
                            Md5(patch) + "\"/></file></filelist></manifest>",
                        "text/xml");
    });
    server.Http().Get(R"(/update/(a\.dat|patches/p1\.zst))", [&](const httplib::Request& req, httplib::Response& res) {
        asked.push_back(req.matches[1]);
        res.set_content(req.matches[1] == "a.dat" ? current : served, "application/octet-stream");
    });
    server.Start();

    for (const std::string& sent : {patch, patch.substr(0, patch.size() / 2) + std::string(patch.size() - patch.size() / 2, 'z')}) {
        install.Write("a.dat", old);
        asked.clear();
        served = sent;
        RecordingView run;
        {
            UpdateRun update(Values(server.Url("/update/")), [this] { ++handBacks; });
            update.AddView(run);
            update.Start();
            ASSERT_TRUE(run.WaitForClose());
        }
        EXPECT_TRUE(ReadWholeFile(install.Path() / "a.dat") == current);
        if (sent == patch) {
            EXPECT_EQ(run.Steps()[1], "panel " + std::to_string(patch.size()));  // what is fetched
            EXPECT_EQ(asked, std::vector<std::string>{"patches/p1.zst"});
        } else {
            EXPECT_EQ(asked, (std::vector<std::string>{"patches/p1.zst", "a.dat"}));  // the damaged patch, then the file
        }
        EXPECT_FALSE(PathFileExists(install.Dir() + "tmp/a.dat.dtm.patch"));
    }
    EXPECT_EQ(handBacks, 2);
}

TEST_F(UpdateRunTest, CancelOrCloseDuringADownloadStopsTheWorkerWithoutHandingBack)
{
    Publish(std::string(100000, 'x'), [this](httplib::Response& res) {
        res.set_content_provider(100000, "application/octet-stream", [this](size_t, size_t, httplib::DataSink& sink) {
            sink.write("partial", 7);
            server.Stall(60s);
            return false;
        });
    });
    int downloads = 0;  // the server goes on stalling each one after the run dropped it
    for (bool cancel : {true, false}) {
        RecordingView stopped;
        UpdateRun run(Values(server.Url("/update/")), [this] { ++handBacks; });
        run.AddView(stopped);
        run.Start();
        ASSERT_TRUE(server.WaitUntilStalling(++downloads));
        if (cancel)
            EXPECT_TRUE(run.Cancel());
        else
            run.WindowClosed();
        EXPECT_TRUE(stopped.WaitForClose()) << cancel;
        EXPECT_EQ(run.Downloads().LastEvent(), DOWNLOAD_EVENT_CLOSE);
        EXPECT_EQ(run.Phase(), RunPhase::kCancelled);
    }
    EXPECT_EQ(handBacks, 0);
}

// The run works on a thread of its own: Start returns while the manifest is still on its way,
// and a window closed then, or a cancel (Escape during the splash), ends the run as a cancel of
// the downloads does, without a box or a hand-back.
TEST_F(UpdateRunTest, AWindowClosedOrACancelBeforeTheDownloadsEndsTheRunWithoutABox)
{
    server.Http().Get("/update/update.xml", [this](const httplib::Request&, httplib::Response& res) {
        server.Stall(60s);
        res.set_content("<manifest><filelist/></manifest>", "text/xml");
    });
    server.Start();
    int manifests = 0;  // the server goes on stalling each one after the run dropped it
    for (const bool cancel : {false, true}) {
        RecordingView stopped;
        UpdateRun run(Values(server.Url("/update/")), [this] { ++handBacks; });
        run.AddView(stopped);
        run.Start();
        ASSERT_TRUE(server.WaitUntilStalling(++manifests));
        if (cancel)
            run.Cancel();
        else
            run.WindowClosed();
        ASSERT_TRUE(stopped.WaitForClose()) << cancel;
        EXPECT_EQ(stopped.Steps(), (std::vector<std::string>{"splash", "close"})) << cancel;
        EXPECT_EQ(run.Phase(), RunPhase::kCancelled);
    }
    EXPECT_EQ(handBacks, 0);
}

TEST_F(UpdateRunTest, OnceInstallingCancelIsRefusedAndCloseLetsTheInstallationFinish)
{
    const std::string contents = "new contents";
    Publish(contents, [&](httplib::Response& res) { res.set_content(contents, "application/octet-stream"); });
    UpdateRun run(Values(server.Url("/update/")), [this] { ++handBacks; });
    bool refused = false;
    view.onInstalling = [&] {
        refused = !run.Cancel();
        run.WindowClosed();
    };
    run.AddView(view);
    run.Start();
    ASSERT_TRUE(view.WaitForClose());
    EXPECT_TRUE(refused);
    EXPECT_FALSE(run.Downloads().CancelRequested());
    EXPECT_EQ(run.Phase(), RunPhase::kDone);
    EXPECT_EQ(ReadWholeFile(install.Path() / "a.dat"), contents);
    EXPECT_EQ(handBacks, 1);
}

// A tmpfs of the size given, mounted for as long as the object lives; nothing where mounting is
// not allowed.
class SmallFileSystem {
public:
    SmallFileSystem(const std::filesystem::path& at, const std::string& size) : m_at(at)
    {
        std::filesystem::create_directories(at);
        m_bMounted = ::mount("tmpfs", at.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
    }
    ~SmallFileSystem()
    {
        if (m_bMounted)
            ::umount2(m_at.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return m_bMounted; }

private:
    std::filesystem::path m_at;
    bool m_bMounted = false;
};

TEST_F(UpdateRunTest, AnUpdateThatDoesNotFitIsSaidBeforeAByteIsFetched)
{
    std::atomic<int> fileRequests{0};
    Publish(std::string(3 << 20, 'x'), [&](httplib::Response& res) {
        ++fileRequests;
        res.set_content(std::string(3 << 20, 'x'), "application/octet-stream");
    });
    // The temporary directory too small for the download.
    {
        SmallFileSystem small(install.Path() / "tmp", "1m");
        if (!small.Mounted())
            GTEST_SKIP() << "mounting a tmpfs is not allowed here";
        // (the log and its first lines take a little of the megabyte)
        const std::vector<std::string> steps = RunToTheEnd(Values(server.Url("/update/")));
        ASSERT_EQ(steps.size(), 3u);
        EXPECT_TRUE(steps[1].starts_with("message: 磁盘空间不足：更新需要 3.0 MB，" + install.Dir() + "tmp 只有 1")) << steps[1];
        EXPECT_TRUE(steps[1].ends_with(" 可用，已停止更新。")) << steps[1];
        EXPECT_EQ(steps[2], "close");
    }
    // A temporary directory with room, on another file system than an installation without it:
    // the move would be a copy.
    TempDir other;
    SmallFileSystem smallInstall(other.Path() / "game", "1m");
    SmallFileSystem roomyTemp(other.Path() / "game" / "tmp", "8m");
    RunValues values = Values(server.Url("/update/"));
    values.strInstallDir = other.Dir() + "game/";
    values.strTempDir = values.strInstallDir + "tmp";
    RecordingView second;
    UpdateRun run(values, [this] { ++handBacks; });
    run.AddView(second);
    run.Start();
    ASSERT_TRUE(second.WaitForClose());
    EXPECT_EQ(second.Steps()[1], "message: 磁盘空间不足：更新需要 3.0 MB，" + values.strInstallDir + " 只有 1.0 MB 可用，已停止更新。");
    EXPECT_EQ(fileRequests, 0);
    EXPECT_EQ(handBacks, 2);
}

TEST_F(UpdateRunTest, APackageThatUnpacksBeyondTheFreeSpaceIsRefusedBeforeItIsFetched)
{
    // Twenty megabytes of zeros pack into a few kilobytes: only the archive's directory tells.
    TempDir site;
    WriteZip(site.Dir() + "update.zip", {ZipItem("zeros.dat", std::string(20 << 20, '\0'))});
    const std::string package = ReadWholeFile(site.Path() / "update.zip");
    std::atomic<int> wholeRequests{0};
    server.Http().Get("/update/update.zip", [&](const httplib::Request& req, httplib::Response& res) {
        if (req.method == "GET" && !req.has_header("Range"))
            ++wholeRequests;
        res.set_content(package, "application/zip");  // the server answers a range with its part
    });
    server.Start();
    SmallFileSystem small(install.Path() / "tmp", "8m");
    if (!small.Mounted())
        GTEST_SKIP() << "mounting a tmpfs is not allowed here";
    TempDir other;
    SmallFileSystem smallInstall(other.Path() / "game", "8m");
    RunValues values = Values(server.Url("/update/"));
    values.bManifestMode = false;
    values.strInstallDir = other.Dir() + "game/";
    values.strTempDir = values.strInstallDir + "tmp";
    const std::vector<std::string> steps = RunToTheEnd(values);
    ASSERT_EQ(steps.size(), 3u);
    EXPECT_TRUE(steps[1].starts_with("message: 磁盘空间不足：更新需要 20.0 MB，" + values.strInstallDir + "tmp 只有 ")) << steps[1];
    EXPECT_EQ(wholeRequests, 0);
}

// A probe answer that tells no length (here a compressed one, as some servers answer HEAD) leaves
// the update's size to the package download's own answer: the overall bar still moves.
TEST_F(UpdateRunTest, APackageWhoseProbeToldNoLengthTakesItFromItsDownload)
{
    TempDir site;
    WriteZip(site.Dir() + "update.zip", {ZipItem("map.dat", std::string(300000, 'm'))});
    const std::string package = ReadWholeFile(site.Path() / "update.zip");
    server.Http().Get("/update/update.zip", [&](const httplib::Request& req, httplib::Response& res) {
        if (req.method == "HEAD")
            res.set_header("Content-Encoding", "gzip");
        res.set_content(package, "application/zip");
    });
    server.Start();
    RunValues values = Values(server.Url("/update/"));
    values.bManifestMode = false;
    const std::vector<std::string> steps = RunToTheEnd(values);
    EXPECT_NE(std::find(steps.begin(), steps.end(), "panel 0"), steps.end());
    EXPECT_NE(std::find(steps.begin(), steps.end(), "total " + std::to_string(package.size())), steps.end());
    EXPECT_EQ(view.lastProgress.nTotalSize, package.size());
    EXPECT_EQ(view.lastProgress.nTotalDone, package.size());
    EXPECT_EQ(ReadWholeFile(install.Path() / "map.dat"), std::string(300000, 'm'));
}

}  // namespace
