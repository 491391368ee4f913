// What the update window does with the worker's events, and with cancel.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/AutoUpdateDlg.h"
#include "platform/MessageBox.h"

namespace {

class UpdateEventsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dlg.Create(false));
        dlg.ShowSplash();
        dlg.ShowDownloadPanel(10 * 1024 * 1024);
    }
    // Events come from the worker thread, as in a run.
    void FromWorker(std::uint32_t p1, std::uint32_t p2, int event, const char* text)
    {
        std::thread([&] { dlg.OnDownloadEvent(p1, p2, event, text); }).join();
    }
    int Pos(const CWnd& bar) const { return static_cast<int>(SendMessage(bar.m_hWnd, PBM_GETPOS)); }
    int High(const CWnd& bar) const { return static_cast<int>(SendMessage(bar.m_hWnd, PBM_GETRANGE, 0)); }

    CAutoUpdateDlg dlg;
};

TEST_F(UpdateEventsTest, ProgressShowsTheFileAndTheSizesInWholeKilobytes)
{
    FromWorker(0, 5 * 1024 * 1024, 3, "data\\a.bin");
    EXPECT_EQ(High(dlg.m_progressFile), 5120);
    EXPECT_EQ(Pos(dlg.m_progressFile), 0);
    FromWorker(3 * 1024 * 1024, 3 * 1024 * 1024 + 4096, 4, "data\\a.bin");
    EXPECT_EQ(dlg.m_staticStatus.GetWindowText(), "正在下载 data\\a.bin ");
    EXPECT_EQ(dlg.m_staticDetail.GetWindowText(), "大小 5120 KB  已下载 3072 KB");
    EXPECT_EQ(Pos(dlg.m_progressFile), 3072);
    EXPECT_EQ(Pos(dlg.m_progressTotal), 3076);
    FromWorker(0, 0, 5, "data\\a.bin");
    EXPECT_EQ(dlg.m_dwFileSize, 0u);
    EXPECT_EQ(dlg.m_staticStatus.GetWindowText(), "正在下载 data\\a.bin ");  // left until the next file

    FromWorker(0, 2047, 3, "small.txt");
    EXPECT_EQ(High(dlg.m_progressFile), 1);
    FromWorker(2047, 2047, 4, "small.txt");
    EXPECT_EQ(dlg.m_staticDetail.GetWindowText(), "大小 1 KB  已下载 1 KB");
    UpdateWindow(dlg.m_hWnd);  // the window thread paints what the worker changed
}

TEST_F(UpdateEventsTest, OtherCodesChangeNothingAndInstallingDisablesCancel)
{
    for (int code : {0, 1, 2, 8, 10, 31, 33, 100})
        FromWorker(1, 2, code, "x");
    EXPECT_EQ(dlg.m_staticStatus.GetWindowText(), "准备下载...");
    EXPECT_TRUE(IsWindowEnabled(dlg.m_btnCancel.m_hWnd));
    FromWorker(0, 0, 6, nullptr);
    EXPECT_FALSE(IsWindowEnabled(dlg.m_btnCancel.m_hWnd));
    EXPECT_TRUE(IsWindow(dlg.m_hWnd));
}

TEST_F(UpdateEventsTest, CancelDuringTheDownloadAsksTheWorkerAndAfterItClosesAtOnce)
{
    DeliverKey(dlg.m_hWnd, VK_ESCAPE);  // Escape is the cancel command
    EXPECT_TRUE(dlg.m_downloadMgr.m_bCancel);
    EXPECT_FALSE(IsWindowEnabled(dlg.m_btnCancel.m_hWnd));
    EXPECT_TRUE(IsWindow(dlg.m_hWnd));

    dlg.m_downloadMgr.m_nLastEvent = DOWNLOAD_EVENT_INSTALLING;
    SendMessage(dlg.m_hWnd, WM_COMMAND, IDCANCEL, 0);
    EXPECT_FALSE(IsWindow(dlg.m_hWnd));
}

TEST_F(UpdateEventsTest, TheCloseEventClosesTheWindowThroughTheQueue)
{
    FromWorker(0, 0, 7, nullptr);
    EXPECT_TRUE(IsWindow(dlg.m_hWnd));
    PumpMessages();
    EXPECT_FALSE(IsWindow(dlg.m_hWnd));
}

TEST_F(UpdateEventsTest, AFailureShowsTheWorkersTextThenWhereToGetTheInstaller)
{
    ::testing::internal::CaptureStderr();
    FromWorker(0, 0, 32, "下载 data\\a.bin 文件失败");
    std::string shown = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(shown, "提示: 下载 data\\a.bin 文件失败\n提示: 更新失败，请到https://www.kesu.example.com/download/下载最新版本\n");
    PumpMessages();
    EXPECT_FALSE(IsWindow(dlg.m_hWnd));
}

TEST(UpdateEndTest, ClosedDuringTheInstallationTheWindowGoesButTheRunWaitsForTheInstallation)
{
    auto dlg = std::make_unique<CAutoUpdateDlg>();
    ASSERT_TRUE(dlg->Create(false));
    std::atomic<bool> installed{false};
    dlg->m_downloadMgr.m_nLastEvent = DOWNLOAD_EVENT_INSTALLING;
    dlg->m_downloadMgr.m_hThread = std::make_unique<CThread>([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // moving files into place
        installed = true;
        return 0u;
    });
    SendMessage(dlg->m_hWnd, WM_CLOSE);
    EXPECT_FALSE(IsWindow(dlg->m_hWnd));  // the window goes at once
    EXPECT_FALSE(dlg->m_downloadMgr.m_bCancel);
    dlg.reset();  // as the application does when the loop ends
    EXPECT_TRUE(installed);
}

TEST(UpdateEndTest, ClosedDuringADownloadTheWorkerIsAskedToStop)
{
    auto dlg = std::make_unique<CAutoUpdateDlg>();
    ASSERT_TRUE(dlg->Create(false));
    std::atomic<bool> stopped{false};
    CDownloadMgr& mgr = dlg->m_downloadMgr;
    mgr.m_nLastEvent = DOWNLOAD_EVENT_PROGRESS;
    mgr.m_hThread = std::make_unique<CThread>([&] {
        while (!mgr.m_bCancel)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        stopped = true;
        return 2u;
    });
    SendMessage(dlg->m_hWnd, WM_CLOSE);
    dlg.reset();
    EXPECT_TRUE(stopped);
}

}  // namespace
