#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "download/DownloadMgr.h"
#include "download/UpdateSession.h"
#include "platform/FileSystem.h"
#include "tests/support/TempDir.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

class NullSink : public IDownloadSink {
public:
    void OnDownloadEvent(const DownloadEvent&) override {}
};

// A manager whose download result is set by the test.
class ScriptedMgr : public CDownloadMgr {
public:
    ~ScriptedMgr() override { Join(); }  // the worker calls into this class

    RunEnd Run() override
    {
        ++runs;
        tasksSeenByRun = GetTasks().size();
        return runResult;
    }

    // Starts the worker and waits for its result.
    std::optional<RunEnd> StartAndWait()
    {
        EXPECT_TRUE(Start());
        return WaitForWorker(5s);
    }

    RunEnd runResult = RunEnd::Done;
    int runs = 0;
    std::size_t tasksSeenByRun = 0;
};

class DownloadMgrTest : public ::testing::Test {
protected:
    void Initialize(const std::string& baseURL = "http://example.invalid/update")
    {
        ASSERT_TRUE(mgr.Initialize(&sink, {baseURL, dir.Dir() + "tmp", dir.Dir()}));
    }

    TempDir dir;
    NullSink sink;
    ScriptedMgr mgr;
};

TEST_F(DownloadMgrTest, TaskNamesSplitAtTheLastSeparator)
{
    struct Case {
        const char* name;
        const char* dir;
        const char* file;
    } cases[] = {
        {"update.ini", "", "update.ini"},
        {"data\\map\\town.dat", "data\\map", "town.dat"},
        {"data/map\\town.dat", "data/map", "town.dat"},
        {"data\\map/town.dat", "data\\map", "town.dat"},
        {"data\\", "data", ""},
        {"", "", ""},
        {"地图\\城镇.dat", "地图", "城镇.dat"},
    };
    for (const auto& c : cases)
        ASSERT_TRUE(mgr.AddTask(c.name));
    ASSERT_EQ(mgr.GetTasks().size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& task = *mgr.GetTasks()[i];
        EXPECT_EQ(task.szName, cases[i].name);
        EXPECT_EQ(task.szDir, cases[i].dir) << cases[i].name;
        EXPECT_EQ(task.szFile, cases[i].file) << cases[i].name;
        EXPECT_FALSE(task.bDownloaded);
    }
}

TEST_F(DownloadMgrTest, LongNamesAreKeptWhole)
{
    std::string dir(300, 'd'), file(200, 'f');
    ASSERT_TRUE(mgr.AddTask((dir + "\\" + file).c_str()));
    EXPECT_EQ(mgr.GetTasks()[0]->szDir, dir);
    EXPECT_EQ(mgr.GetTasks()[0]->szFile, file);
}

TEST_F(DownloadMgrTest, TaskNumbersAreNeverReusedAndNullNamesAreRefused)
{
    EXPECT_FALSE(mgr.AddTask(nullptr));
    mgr.AddTask("a");
    mgr.AddTask("a");  // no de-duplication
    mgr.AddTask("b");
    ASSERT_EQ(mgr.GetTasks().size(), 3u);
    EXPECT_EQ(mgr.GetTasks()[0]->nID, 1);
    EXPECT_EQ(mgr.GetTasks()[1]->nID, 2);
    EXPECT_EQ(mgr.GetTasks()[2]->nID, 3);
    mgr.RemoveAllTasks();
    EXPECT_TRUE(mgr.GetTasks().empty());
    mgr.AddTask("c");
    EXPECT_EQ(mgr.GetTasks()[0]->nID, 4);
}

TEST_F(DownloadMgrTest, InitializeWithoutSinkChangesNothing)
{
    EXPECT_FALSE(mgr.Initialize(nullptr, {"http://x/update/", dir.Dir() + "tmp", dir.Dir()}));
    EXPECT_TRUE(mgr.GetSetup().strBaseURL.empty());
    EXPECT_EQ(mgr.GetSession(), nullptr);
    EXPECT_FALSE(PathFileExists(dir.Dir() + "tmp"));
}

TEST_F(DownloadMgrTest, InitializeStoresItsValuesAndUsesTheRunsSessionWithoutOpeningOne)
{
    Initialize();
    EXPECT_EQ(mgr.GetSetup().strBaseURL, "http://example.invalid/update/");
    EXPECT_EQ(mgr.GetSetup().strTempDir, dir.Dir() + "tmp");
    EXPECT_EQ(mgr.GetSetup().strInstallDir, dir.Dir());
    EXPECT_TRUE(PathIsDirectory(dir.Dir() + "tmp"));
    EXPECT_EQ(mgr.GetSession(), nullptr);

    CInternetSession runs({.strAgent = "test"});
    ScriptedMgr other;
    ASSERT_TRUE(other.Initialize(&sink, {"http://a/", dir.Dir(), dir.Dir(), true, &runs}));
    EXPECT_EQ(other.GetSession(), &runs);
}

TEST(UpdateSessionTest, TheRunsSessionWaitsAsTheProgramDoesUnlessTheRunBringsLimitsOfItsOwn)
{
    const std::unique_ptr<CInternetSession> session = OpenUpdateSession();
    EXPECT_EQ(session->GetSettings().limits.connectTimeout, 30s);
    EXPECT_EQ(session->GetSettings().limits.stallTimeout, 30s);
    EXPECT_EQ(session->GetSettings().limits.deadline, 600s);

    CInternetSession::Limits shorter = UpdateSessionLimits();
    shorter.stallTimeout = 2s;
    shorter.deadline = 3s;
    CInternetSession::Settings settings = UpdateSessionSettings();
    settings.limits = shorter;
    EXPECT_EQ(OpenUpdateSession(settings)->GetSettings().limits.stallTimeout, 2s);
    EXPECT_EQ(OpenUpdateSession(settings)->GetSettings().limits.deadline, 3s);

    // The requests before the downloads heed a Retry-After for 5 s at most, and never longer
    // than the downloads do.
    EXPECT_EQ(StartRetries().retryAfterLimit, 5s);
    // A connection refused or reset there is asked again once, within a second.
    EXPECT_EQ(StartRetries().nLostConnectionRetries, 1u);
    EXPECT_EQ(StartRetries().longestLostConnectionPause, 1s);
    RetryPolicy quick = UpdateRetries();
    quick.retryAfterLimit = 100ms;
    EXPECT_EQ(StartRetries(quick).retryAfterLimit, 100ms);
    EXPECT_EQ(StartRetries(quick).pauses, UpdateRetries().pauses);
}

TEST_F(DownloadMgrTest, BaseUrlGetsExactlyOneTrailingSlash)
{
    Initialize("http://a/update/");
    EXPECT_EQ(mgr.GetSetup().strBaseURL, "http://a/update/");
    ScriptedMgr other;
    other.Initialize(&sink, {"http://a/update", dir.Dir(), dir.Dir()});
    EXPECT_EQ(other.GetSetup().strBaseURL, "http://a/update/");
}

TEST_F(DownloadMgrTest, TemporaryDirectoryIsCreatedOneLevelAndAnExistingOneIsLeftAlone)
{
    dir.Write("tmp/keep.dtm", "partial");
    Initialize();
    EXPECT_TRUE(PathFileExists(dir.Dir() + "tmp/keep.dtm"));

    ScriptedMgr deeper;
    deeper.Initialize(&sink, {"http://a/", dir.Dir() + "x\\y", dir.Dir()});
    EXPECT_FALSE(PathFileExists(dir.Dir() + "x"));
}

TEST_F(DownloadMgrTest, TheWorkerStartsOnceAndRunsOnTheQueuedTasks)
{
    Initialize();
    EXPECT_FALSE(mgr.Downloading());
    EXPECT_EQ(mgr.WaitForWorker(0ms), std::nullopt);
    mgr.AddTask("a");
    EXPECT_EQ(mgr.StartAndWait(), RunEnd::Done);
    EXPECT_FALSE(mgr.Start());
    EXPECT_EQ(mgr.runs, 1);
    EXPECT_EQ(mgr.tasksSeenByRun, 1u);
}

TEST_F(DownloadMgrTest, TheWorkersEndIsTheRunsResultAndTheTasksStayForTheOwner)
{
    for (RunEnd runResult : {RunEnd::Done, RunEnd::Failed, RunEnd::Cancelled}) {
        ScriptedMgr m;
        m.Initialize(&sink, {"http://a/", dir.Dir(), dir.Dir()});
        m.AddTask("a");
        m.AddTask("b");
        m.runResult = runResult;
        EXPECT_EQ(m.StartAndWait(), runResult);
        EXPECT_EQ(m.WaitForEnd(), runResult);
        EXPECT_EQ(m.GetTasks().size(), 2u);  // the owner installs them, or names them in its failure
    }
}

TEST(CreateDirectoryTreeTest, EveryLevelAtEachSeparator)
{
    TempDir dir;
    EXPECT_TRUE(CreateDirectoryTree(dir.Dir() + "\\a\\b\\c"));
    EXPECT_TRUE(fs::is_directory(dir.Path() / "a/b/c"));
    EXPECT_FALSE(CreateDirectoryTree(dir.Dir() + "\\a\\b"));  // already there
    // A forward slash separates levels as a backslash does.
    EXPECT_TRUE(CreateDirectoryTree(dir.Dir() + "\\x/y\\z"));
    EXPECT_TRUE(fs::is_directory(dir.Path() / "x/y/z"));
}

}  // namespace
