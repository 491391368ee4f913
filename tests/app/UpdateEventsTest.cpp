// What the update window shows of a run's steps, and what it passes on of cancel and close.

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "app/AutoUpdateDlg.h"
#include "window/MessageBox.h"

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

class RecordingCommands : public IUpdateCommands {
public:
    bool Cancel() override
    {
        ++cancels;
        return downloading;
    }
    void WindowClosed() override { ++closes; }

    bool downloading = true;
    int cancels = 0;
    int closes = 0;
};

class UpdateEventsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dlg.Create(&commands));
        dlg.ShowSplash();
        dlg.ShowPanel(10 * kMiB);
    }
    // After the start the run's steps come from the worker thread.
    static void FromWorker(const std::function<void()>& step) { std::thread(step).join(); }
    int Pos(const CWnd& bar) const { return static_cast<int>(SendMessage(bar.m_hWnd, PBM_GETPOS)); }
    int High(const CWnd& bar) const { return static_cast<int>(SendMessage(bar.m_hWnd, PBM_GETRANGE, 0)); }

    RecordingCommands commands;
    CAutoUpdateDlg dlg;
};

TEST_F(UpdateEventsTest, ProgressShowsTheFileAndTheSizesInWholeKilobytes)
{
    EXPECT_EQ(GetWindowText(dlg.m_hWnd), "KesuUpdate");
    FromWorker([&] { dlg.ShowFileStart(5 * kMiB); });
    EXPECT_EQ(High(dlg.m_progressFile), 5120);
    EXPECT_EQ(Pos(dlg.m_progressFile), 0);
    FromWorker([&] { dlg.ShowProgress({"data\\a.bin", 3 * kMiB, 5 * kMiB, 3 * kMiB + 4096, 10 * kMiB}); });
    EXPECT_EQ(dlg.m_staticStatus.GetWindowText(), "正在下载 data\\a.bin ");
    EXPECT_EQ(dlg.m_staticDetail.GetWindowText(), "大小 5120 KB  已下载 3072 KB");
    EXPECT_EQ(Pos(dlg.m_progressFile), 3072);
    EXPECT_EQ(Pos(dlg.m_progressTotal), 3076);

    FromWorker([&] { dlg.ShowFileStart(2047); });
    EXPECT_EQ(High(dlg.m_progressFile), 1);
    FromWorker([&] { dlg.ShowProgress({"small.txt", 2047, 2047, 3 * kMiB + 6143, 10 * kMiB}); });
    EXPECT_EQ(dlg.m_staticDetail.GetWindowText(), "大小 1 KB  已下载 1 KB");

    // Another file's bytes, arriving in between on another connection: its range comes with them.
    FromWorker([&] { dlg.ShowProgress({"data\\b.bin", 1 * kMiB, 2 * kMiB, 4 * kMiB, 10 * kMiB}); });
    EXPECT_EQ(High(dlg.m_progressFile), 2048);
    EXPECT_EQ(Pos(dlg.m_progressFile), 1024);

    // Past 4 GiB the sizes are still the file's.
    FromWorker([&] { dlg.ShowProgress({"big.pak", 4608 * kMiB, 5120 * kMiB, 4608 * kMiB, 5130 * kMiB}); });
    EXPECT_EQ(dlg.m_staticDetail.GetWindowText(), "大小 5242880 KB  已下载 4718592 KB");
    UpdateWindow(dlg.m_hWnd);  // the window thread paints what the worker changed
}

TEST_F(UpdateEventsTest, InstallingDisablesCancel)
{
    EXPECT_EQ(dlg.m_staticStatus.GetWindowText(), "准备下载...");
    EXPECT_TRUE(IsWindowEnabled(dlg.m_btnCancel.m_hWnd));
    FromWorker([&] { dlg.ShowInstalling(); });
    EXPECT_FALSE(IsWindowEnabled(dlg.m_btnCancel.m_hWnd));
    EXPECT_TRUE(IsWindow(dlg.m_hWnd));
}

TEST_F(UpdateEventsTest, CancelDuringTheDownloadAsksTheRunAndAfterItClosesAtOnce)
{
    DeliverKey(dlg.m_hWnd, VK_ESCAPE);  // Escape is the cancel command
    EXPECT_EQ(commands.cancels, 1);
    EXPECT_FALSE(IsWindowEnabled(dlg.m_btnCancel.m_hWnd));
    EXPECT_TRUE(IsWindow(dlg.m_hWnd));

    commands.downloading = false;  // installing, or failed: nothing is left to stop
    SendMessage(dlg.m_hWnd, WM_COMMAND, IDCANCEL, 0);
    EXPECT_FALSE(IsWindow(dlg.m_hWnd));
}

TEST_F(UpdateEventsTest, CloseGoesThroughTheQueueAndTellsTheRun)
{
    FromWorker([&] { dlg.Close(); });
    EXPECT_TRUE(IsWindow(dlg.m_hWnd));
    PumpMessages();
    EXPECT_FALSE(IsWindow(dlg.m_hWnd));
    EXPECT_EQ(commands.closes, 1);
}

TEST_F(UpdateEventsTest, AFailureShowsTheCauseThenWhereToGetTheGameAndAMessageOneBox)
{
    ::testing::internal::CaptureStderr();
    FromWorker([&] { dlg.ShowFailure("下载 data\\a.bin 文件失败", "更新失败，请到https://www.kesu.example.com/download/下载最新版本"); });
    dlg.ShowMessage("Error line:493\n");
    std::string shown = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(shown, "提示: 下载 data\\a.bin 文件失败\n提示: 更新失败，请到https://www.kesu.example.com/download/下载最新版本\n"
                     "提示: Error line:493\n");
}

TEST(UpdateWindowLookTest, WithoutARunCancelClosesTheWindow)
{
    CAutoUpdateDlg dlg;
    ASSERT_TRUE(dlg.Create());
    EXPECT_EQ(GetWindowText(dlg.m_hWnd), "");
    SendMessage(dlg.m_hWnd, WM_COMMAND, IDCANCEL, 0);
    EXPECT_FALSE(IsWindow(dlg.m_hWnd));
}

}  // namespace
