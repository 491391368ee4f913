#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "download/DownloadMgr.h"
#include "download/Globals.h"
#include "platform/FileSystem.h"
#include "tests/support/TempDir.h"

using namespace std::chrono_literals;

namespace {

class NullSink : public IDownloadSink {
public:
    void OnDownloadEvent(std::uint32_t, std::uint32_t, int, const char*) override {}
};

// A manager whose download and installation results are set by the test.
class ScriptedMgr : public CDownloadMgr {
public:
    ~ScriptedMgr() { m_hThread.reset(); }  // the worker calls into this class

    int Run() override
    {
        ++runs;
        tasksSeenByRun = m_arrTasks.size();
        return runResult;
    }
    int Install() override
    {
        ++installs;
        return installResult;
    }

    // The owner's start protocol: worker created and stored, then the start event.
    void StartWorker(bool signalFirst = false)
    {
        if (signalFirst)
            m_hStartEvent->Set();
        m_hThread = std::make_unique<CThread>([this] { return DownloadThreadProc(this); });
        if (!signalFirst)
            m_hStartEvent->Set();
    }

    int runResult = 0;
    int installResult = 0;
    int runs = 0;
    int installs = 0;
    std::size_t tasksSeenByRun = 0;
};

class DownloadMgrTest : public ::testing::Test {
protected:
    void Initialize(const std::string& baseURL = "http://example.invalid/update")
    {
        ASSERT_TRUE(mgr.Initialize(&sink, baseURL, dir.Dir() + "tmp", dir.Dir()));
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
    ASSERT_EQ(mgr.m_arrTasks.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& task = *mgr.m_arrTasks[i];
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
    EXPECT_EQ(mgr.m_arrTasks[0]->szDir, dir);
    EXPECT_EQ(mgr.m_arrTasks[0]->szFile, file);
}

TEST_F(DownloadMgrTest, TaskNumbersAreNeverReusedAndNullNamesAreRefused)
{
    EXPECT_FALSE(mgr.AddTask(nullptr));
    mgr.AddTask("a");
    mgr.AddTask("a");  // no de-duplication
    mgr.AddTask("b");
    ASSERT_EQ(mgr.m_arrTasks.size(), 3u);
    EXPECT_EQ(mgr.m_arrTasks[0]->nID, 1);
    EXPECT_EQ(mgr.m_arrTasks[1]->nID, 2);
    EXPECT_EQ(mgr.m_arrTasks[2]->nID, 3);
    mgr.RemoveAllTasks();
    EXPECT_TRUE(mgr.m_arrTasks.empty());
    mgr.AddTask("c");
    EXPECT_EQ(mgr.m_arrTasks[0]->nID, 4);
}

TEST_F(DownloadMgrTest, InitializeWithoutSinkChangesNothing)
{
    g_strOldExeName.clear();
    EXPECT_FALSE(mgr.Initialize(nullptr, "http://x/update/", dir.Dir() + "tmp", dir.Dir()));
    EXPECT_EQ(mgr.m_pSink, nullptr);
    EXPECT_TRUE(mgr.m_strBaseURL.empty());
    EXPECT_EQ(mgr.m_hStartEvent, nullptr);
    EXPECT_EQ(mgr.m_pSession, nullptr);
    EXPECT_TRUE(g_strOldExeName.empty());
    EXPECT_FALSE(PathFileExists(dir.Dir() + "tmp"));
}

TEST_F(DownloadMgrTest, InitializeStoresItsValuesAndBuildsTheSetAsideNames)
{
    Initialize();
    EXPECT_EQ(mgr.m_pSink, &sink);
    EXPECT_EQ(mgr.m_strBaseURL, "http://example.invalid/update/");
    EXPECT_EQ(mgr.m_strTempDir, dir.Dir() + "tmp");
    EXPECT_EQ(mgr.m_strInstallDir, dir.Dir());
    EXPECT_TRUE(PathIsDirectory(dir.Dir() + "tmp"));
    EXPECT_NE(mgr.m_pSession, nullptr);
    ASSERT_NE(mgr.m_hStartEvent, nullptr);
    EXPECT_FALSE(mgr.m_hStartEvent->IsSet());
    EXPECT_EQ(g_strOldExeName, "KesuUpdate_old.exe");
    EXPECT_EQ(g_strOldExePath, dir.Dir() + "KesuUpdate_old.exe");
}

TEST_F(DownloadMgrTest, TheSessionGivesUpAfterThirtySecondsWithoutAConnectionOrWithoutAByte)
{
    Initialize();
    ASSERT_NE(mgr.m_pSession, nullptr);
    EXPECT_EQ(mgr.m_pSession->GetLimits().connectTimeout, 30s);
    EXPECT_EQ(mgr.m_pSession->GetLimits().stallTimeout, 30s);
}

TEST_F(DownloadMgrTest, BaseUrlGetsExactlyOneTrailingSlash)
{
    Initialize("http://a/update/");
    EXPECT_EQ(mgr.m_strBaseURL, "http://a/update/");
    ScriptedMgr other;
    other.Initialize(&sink, "http://a/update", dir.Dir(), dir.Dir());
    EXPECT_EQ(other.m_strBaseURL, "http://a/update/");
}

TEST_F(DownloadMgrTest, TemporaryDirectoryIsCreatedOneLevelAndAnExistingOneIsLeftAlone)
{
    dir.Write("tmp/keep.dtm", "partial");
    Initialize();
    EXPECT_TRUE(PathFileExists(dir.Dir() + "tmp/keep.dtm"));

    ScriptedMgr deeper;
    deeper.Initialize(&sink, "http://a/", dir.Dir() + "x\\y", dir.Dir());
    EXPECT_FALSE(PathFileExists(dir.Dir() + "x"));
}

TEST_F(DownloadMgrTest, WorkerWaitsForTheStartEventWhicheverComesFirst)
{
    for (bool signalFirst : {false, true}) {
        ScriptedMgr m;
        ASSERT_TRUE(m.Initialize(&sink, "http://a/", dir.Dir(), dir.Dir()));
        m.AddTask("a");
        m.StartWorker(signalFirst);
        ASSERT_TRUE(m.m_hThread->WaitFor(5s));
        EXPECT_EQ(m.m_hThread->GetExitCode(), 0u);
        EXPECT_EQ(m.runs, 1);
        EXPECT_EQ(m.tasksSeenByRun, 1u);
    }
}

TEST_F(DownloadMgrTest, WorkerDoesNothingBeforeTheStartEvent)
{
    Initialize();
    mgr.m_hThread = std::make_unique<CThread>([this] { return DownloadThreadProc(&mgr); });
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(mgr.runs, 0);
    EXPECT_FALSE(mgr.m_hThread->GetExitCode());
    mgr.m_hStartEvent->Set();
    ASSERT_TRUE(mgr.m_hThread->WaitFor(5s));
    EXPECT_EQ(mgr.runs, 1);
}

TEST_F(DownloadMgrTest, ExitCodeIsTheRunResultAndOnlyACompleteRunInstalls)
{
    for (int runResult : {1, 2}) {
        ScriptedMgr m;
        m.Initialize(&sink, "http://a/", dir.Dir(), dir.Dir());
        m.AddTask("a");
        m.AddTask("b");
        m.runResult = runResult;
        m.StartWorker();
        ASSERT_TRUE(m.m_hThread->WaitFor(5s));
        EXPECT_EQ(m.m_hThread->GetExitCode(), static_cast<std::uint32_t>(runResult));
        EXPECT_EQ(m.installs, 0);
        EXPECT_EQ(m.m_arrTasks.size(), 2u);  // kept for the failure message and the next run
    }

    Initialize();
    mgr.AddTask("a");
    mgr.StartWorker();
    ASSERT_TRUE(mgr.m_hThread->WaitFor(5s));
    EXPECT_EQ(mgr.m_hThread->GetExitCode(), 0u);
    EXPECT_EQ(mgr.installs, 1);
    EXPECT_TRUE(mgr.m_arrTasks.empty());
}

TEST_F(DownloadMgrTest, AFailedInstallKeepsTheTaskList)
{
    Initialize();
    mgr.AddTask("a");
    mgr.installResult = 5;
    mgr.StartWorker();
    ASSERT_TRUE(mgr.m_hThread->WaitFor(5s));
    EXPECT_EQ(mgr.m_hThread->GetExitCode(), 5u);
    EXPECT_EQ(mgr.m_arrTasks.size(), 1u);
}

}  // namespace
