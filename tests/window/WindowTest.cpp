// Windows and messages on the offscreen screen.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <optional>
#include <thread>

#include "window/MessageBox.h"
#include "window/Window.h"
#include "window/WindowStyles.h"

using namespace std::chrono_literals;

namespace {

// Records the messages a window receives (by name, for the ones tests look at) and hands
// everything to default processing unless told otherwise.
class Recorder : public IWindowProc {
public:
    LRESULT WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_NCPAINT || message == WM_ERASEBKGND || message == WM_PAINT || message == WM_COMMAND ||
            message == WM_MOUSELEAVE || message == WM_REFLECT_DRAWITEM || message == WM_NCCALCSIZE || message == WM_SIZE) {
            log->push_back(name + ":" + Name(message));
            threads.push_back(std::this_thread::get_id());
        }
        if (message == WM_COMMAND)
            lastCommand = wParam;
        if (message == WM_REFLECT_DRAWITEM)
            lastItemState = reinterpret_cast<DRAWITEMSTRUCT*>(lParam)->itemState;
        if (message == WM_NCCALCSIZE && keepWholeWindow && wParam) {
            auto* params = reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam);
            params->rgrc[2] = params->rgrc[0];
            return 0;
        }
        if (message == WM_PAINT && fill) {
            std::unique_ptr<CDC> dc = BeginPaint(hWnd);
            dc->FillSolidRect(GetClientRect(hWnd), *fill);
            return 0;
        }
        return DefWindowProc(hWnd, message, wParam, lParam);
    }

    static std::string Name(UINT message)
    {
        switch (message) {
        case WM_NCPAINT: return "ncpaint";
        case WM_ERASEBKGND: return "erase";
        case WM_PAINT: return "paint";
        case WM_COMMAND: return "command";
        case WM_MOUSELEAVE: return "leave";
        case WM_REFLECT_DRAWITEM: return "drawitem";
        case WM_NCCALCSIZE: return "nccalcsize";
        case WM_SIZE: return "size";
        default: return "?";
        }
    }

    std::string name;
    std::vector<std::string>* log = nullptr;
    std::vector<std::thread::id> threads;
    std::optional<COLORREF> fill;
    bool keepWholeWindow = false;
    WPARAM lastCommand = 0;
    UINT lastItemState = 0;
};

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        top = CreateWindowEx(0, "Dialog", "", WS_POPUP | WS_CLIPCHILDREN, {100, 100, 300, 200}, nullptr, 0);
        Attach(top, topProc, "top");
    }
    void TearDown() override
    {
        DestroyWindow(top);
        PumpMessages();
    }
    void Attach(HWND hWnd, Recorder& proc, const std::string& name)
    {
        proc.name = name;
        proc.log = &log;
        SetWindowProc(hWnd, &proc);
    }
    HWND Child(const std::string& className, std::uint32_t style, const RECT& rect, int id)
    {
        return CreateWindowEx(0, className, "", WS_CHILD | style, rect, top, id);
    }
    void Paint()
    {
        UpdateWindow(top);
    }
    // A recorder that lives as long as the windows, which are destroyed after the test body.
    Recorder& Make()
    {
        return recorders.emplace_back();
    }

    std::deque<Recorder> recorders;
    std::vector<std::string> log;
    Recorder topProc;
    HWND top = nullptr;
};

TEST_F(WindowTest, PaintingGoesFrameEraseClientThenChildren)
{
    Recorder& a = Make();
    Recorder& b = Make();
    HWND first = Child("Plain", WS_VISIBLE, {10, 10, 50, 30}, 1);
    HWND second = Child("Plain", WS_VISIBLE | WS_BORDER, {60, 10, 100, 30}, 2);
    Attach(first, a, "a");
    Attach(second, b, "b");
    ShowWindow(top, SW_SHOW);
    Paint();
    EXPECT_EQ(log, (std::vector<std::string>{"top:ncpaint", "top:erase", "top:paint", "b:ncpaint", "b:erase", "b:paint",
                                             "a:ncpaint", "a:erase", "a:paint"}));

    log.clear();
    InvalidateRect(first, nullptr, false);  // without erasing
    Paint();
    EXPECT_EQ(log, std::vector<std::string>{"a:paint"});
    log.clear();
    Paint();
    EXPECT_TRUE(log.empty());  // nothing left to paint
}

TEST_F(WindowTest, PaintLandsInTheTopLevelSurfaceAtTheChildsPlace)
{
    Recorder& proc = Make();
    proc.fill = RGB(10, 200, 30);
    topProc.fill = RGB(0, 0, 0);
    HWND child = Child("Plain", WS_VISIBLE | WS_BORDER, {20, 30, 60, 50}, 1);
    Attach(child, proc, "c");
    ShowWindow(top, SW_SHOW);
    Paint();
    const CBitmap* surface = GetWindowSurface(top);
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(surface->GetPixel(21, 31), RGB(10, 200, 30));  // inside the 1-pixel border
    EXPECT_EQ(surface->GetPixel(58, 48), RGB(10, 200, 30));
    EXPECT_NE(surface->GetPixel(20, 30), RGB(10, 200, 30));  // the border
    EXPECT_EQ(surface->GetPixel(61, 30), RGB(0, 0, 0));

    RECT client = GetClientRect(child);
    EXPECT_EQ(client.Width(), 38);
    RECT screen = GetWindowRect(child);
    EXPECT_EQ(screen.left, 120);
    EXPECT_EQ(screen.top, 130);
    POINT local = ScreenToClient(top, {screen.left, screen.top});
    EXPECT_EQ(local.x, 20);
    EXPECT_EQ(local.y, 30);
}

TEST_F(WindowTest, FrameChangeAsksTheWindowForItsClientArea)
{
    Recorder& keeper = Make();
    Recorder& plain = Make();
    keeper.keepWholeWindow = true;
    HWND bar = Child("msctls_progress32", WS_BORDER, {0, 0, 336, 14}, 1000);
    HWND other = Child("msctls_progress32", WS_BORDER, {0, 20, 336, 34}, 1003);
    Attach(bar, keeper, "bar");
    Attach(other, plain, "other");
    EXPECT_EQ(GetClientRect(bar).Width(), 334);
    SetWindowPos(bar, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_FRAMECHANGED);
    SetWindowPos(other, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_FRAMECHANGED);
    EXPECT_EQ(GetClientRect(bar).Width(), 336);
    EXPECT_EQ(GetClientRect(bar).Height(), 14);
    EXPECT_EQ(GetClientRect(other).Width(), 334);
    EXPECT_EQ(std::count(log.begin(), log.end(), "bar:nccalcsize"), 1);
}

TEST_F(WindowTest, ProgressRangeAndPositionAreClampedAndRepaintWithErasing)
{
    HWND bar = Child("msctls_progress32", WS_VISIBLE, {0, 0, 100, 10}, 1000);
    int low, high, pos;
    ASSERT_TRUE(GetProgressState(bar, low, high, pos));
    EXPECT_EQ(low, 0);
    EXPECT_EQ(high, 100);
    EXPECT_EQ(pos, 0);
    SendMessage(bar, PBM_SETRANGE32, 0, 2048);
    EXPECT_EQ(SendMessage(bar, PBM_SETPOS, 5000), 0);
    EXPECT_EQ(SendMessage(bar, PBM_GETPOS), 2048);
    SendMessage(bar, PBM_SETPOS, static_cast<WPARAM>(-7));
    EXPECT_EQ(SendMessage(bar, PBM_GETPOS), 0);
    EXPECT_EQ(SendMessage(bar, PBM_GETRANGE, 0), 2048);
    EXPECT_EQ(SendMessage(bar, PBM_GETRANGE, 1), 0);
    SendMessage(bar, PBM_SETRANGE32, 0, 10);
    SendMessage(bar, PBM_SETPOS, 7);
    SendMessage(bar, PBM_SETRANGE32, 0, 5);
    EXPECT_EQ(SendMessage(bar, PBM_GETPOS), 5);  // a narrower range takes the position along
    EXPECT_FALSE(GetProgressState(top, low, high, pos));
}

TEST_F(WindowTest, SettingWhatIsAlreadySetPaintsNothing)
{
    Recorder& label = Make();
    Recorder& progress = Make();
    HWND text = Child("Static", WS_VISIBLE, {0, 0, 200, 12}, 1001);
    HWND bar = Child("msctls_progress32", WS_VISIBLE, {0, 20, 200, 34}, 1000);
    Attach(text, label, "text");
    Attach(bar, progress, "bar");
    SetWindowText(text, "正在下载 a.bin");
    SendMessage(bar, PBM_SETRANGE32, 0, 2048);
    SendMessage(bar, PBM_SETPOS, 40);
    ShowWindow(top, SW_SHOW);
    Paint();
    ASSERT_EQ(std::count(log.begin(), log.end(), "text:paint"), 1);
    ASSERT_EQ(std::count(log.begin(), log.end(), "bar:paint"), 1);

    log.clear();
    SetWindowText(text, "正在下载 a.bin");
    SendMessage(bar, PBM_SETRANGE32, 0, 2048);
    SendMessage(bar, PBM_SETPOS, 40);
    Paint();
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(GetWindowText(text), "正在下载 a.bin");
    EXPECT_EQ(SendMessage(bar, PBM_GETPOS), 40);

    // What does change is painted again, each window once.
    log.clear();
    SetWindowText(text, "正在下载 b.bin");
    SendMessage(bar, PBM_SETPOS, 41);
    SendMessage(bar, PBM_SETRANGE32, 0, 1024);
    Paint();
    EXPECT_EQ(std::count(log.begin(), log.end(), "text:paint"), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), "bar:paint"), 1);
    EXPECT_EQ(SendMessage(bar, PBM_GETRANGE, 0), 1024);
}

TEST_F(WindowTest, OwnerDrawnButtonIsDrawnThroughItsParentAndClicks)
{
    Recorder& button = Make();
    HWND hButton = Child("Button", WS_VISIBLE | BS_OWNERDRAW, {10, 10, 79, 31}, IDCANCEL);
    Attach(hButton, button, "button");
    ShowWindow(top, SW_SHOW);
    Paint();
    EXPECT_NE(std::find(log.begin(), log.end(), "button:drawitem"), log.end());
    EXPECT_EQ(button.lastItemState, 0u);

    DeliverMouse(top, WM_LBUTTONDOWN, 20, 15);
    Paint();
    EXPECT_EQ(button.lastItemState, ODS_SELECTED);
    DeliverMouse(top, WM_MOUSEMOVE, 200, 15);  // held, but outside: not pressed
    Paint();
    EXPECT_EQ(button.lastItemState, 0u);
    DeliverMouse(top, WM_LBUTTONUP, 200, 15);
    EXPECT_EQ(topProc.lastCommand, 0u);  // released outside: no click

    DeliverMouse(top, WM_LBUTTONDOWN, 20, 15);
    DeliverMouse(top, WM_LBUTTONUP, 21, 16);
    EXPECT_EQ(topProc.lastCommand, MAKEWPARAM(IDCANCEL, BN_CLICKED));

    EnableWindow(hButton, false);
    Paint();
    EXPECT_EQ(button.lastItemState, ODS_DISABLED);
    topProc.lastCommand = 0;
    DeliverMouse(top, WM_LBUTTONDOWN, 20, 15);
    DeliverMouse(top, WM_LBUTTONUP, 20, 15);
    EXPECT_EQ(topProc.lastCommand, 0u);  // a disabled button never clicks
}

TEST_F(WindowTest, LeavingATrackedWindowSendsOneLeave)
{
    Recorder& a = Make();
    HWND hA = Child("Plain", WS_VISIBLE, {0, 0, 50, 50}, 1);
    Attach(hA, a, "a");
    ShowWindow(top, SW_SHOW);
    EXPECT_TRUE(TrackMouseLeave(hA));
    DeliverMouse(top, WM_MOUSEMOVE, 10, 10);
    DeliverMouse(top, WM_MOUSEMOVE, 100, 100);
    DeliverMouse(top, WM_MOUSEMOVE, 120, 100);
    EXPECT_EQ(std::count(log.begin(), log.end(), "a:leave"), 1);
    TrackMouseLeave(hA);
    DeliverMouse(top, WM_MOUSELEAVE, 0, 0);  // the mouse left the whole window
    EXPECT_EQ(std::count(log.begin(), log.end(), "a:leave"), 2);
}

TEST_F(WindowTest, EscapeIsTheCancelCommand)
{
    DeliverKey(top, VK_ESCAPE);
    EXPECT_EQ(topProc.lastCommand, MAKEWPARAM(IDCANCEL, BN_CLICKED));
}

TEST_F(WindowTest, PropertiesZOrderAndVisibility)
{
    HWND a = Child("Plain", 0, {0, 0, 10, 10}, 1);
    HWND b = Child("Plain", WS_VISIBLE, {0, 0, 10, 10}, 2);
    EXPECT_EQ(GetTopWindow(top), a);
    EXPECT_EQ(GetNextWindow(a), b);
    EXPECT_EQ(GetNextWindow(b), nullptr);
    BringWindowToTop(b);
    EXPECT_EQ(GetTopWindow(top), b);
    EXPECT_EQ(GetDlgItem(top, 1), a);
    EXPECT_EQ(GetDlgCtrlID(b), 2);

    EXPECT_EQ(GetProp(a, "###tranparentctrl_tag###"), nullptr);
    SetProp(a, "###tranparentctrl_tag###", a);
    EXPECT_EQ(GetProp(a, "###tranparentctrl_tag###"), a);

    EXPECT_FALSE(IsWindowVisible(b));  // its parent is hidden
    ShowWindow(top, SW_SHOW);
    EXPECT_TRUE(IsWindowVisible(b));
    EXPECT_FALSE(IsWindowVisible(a));
    DestroyWindow(a);
    EXPECT_FALSE(IsWindow(a));
    EXPECT_EQ(GetTopWindow(top), b);
}

TEST_F(WindowTest, SendsFromAnotherThreadKeepTheContract)
{
    Recorder& proc = Make();
    HWND bar = Child("msctls_progress32", WS_VISIBLE, {0, 0, 100, 10}, 1000);
    Attach(bar, proc, "bar");
    // State messages are handled at once in the sending thread...
    std::thread([&] {
        SendMessage(bar, PBM_SETRANGE32, 0, 50);
        SendMessage(bar, PBM_SETPOS, 20);
        SetWindowText(bar, "text from the worker");
    }).join();
    EXPECT_EQ(SendMessage(bar, PBM_GETPOS), 20);
    EXPECT_EQ(GetWindowText(bar), "text from the worker");

    // ...anything else waits for the window thread, which handles it.
    std::atomic<bool> done{false};
    std::thread sender([&] {
        SendMessage(top, WM_COMMAND, 77, 0);
        done = true;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(done);
    while (!done)
        PumpMessages();
    sender.join();
    EXPECT_EQ(topProc.lastCommand, 77u);
    EXPECT_EQ(topProc.threads.back(), std::this_thread::get_id());
}

// How fast they arrive is window_bench's to measure.
TEST_F(WindowTest, UpdatesFromAWorkerWhileTheWindowPaintsEndWithTheLastTextAndPosition)
{
    HWND text = Child("Static", WS_VISIBLE | SS_OWNERDRAW, {0, 0, 200, 12}, 1001);
    HWND bar = Child("msctls_progress32", WS_VISIBLE, {0, 20, 200, 34}, 1000);
    SendMessage(bar, PBM_SETRANGE32, 0, 10000);
    ShowWindow(top, SW_SHOW);
    std::atomic<bool> running{true};
    std::thread worker([&] {
        for (int i = 0; i < 10000; ++i) {
            SetWindowText(text, "正在下载 data\\file" + std::to_string(i) + ".dat ");
            SendMessage(bar, PBM_SETPOS, static_cast<WPARAM>(i));
        }
        running = false;
    });
    while (running)
        PumpMessages();  // the window thread goes on painting meanwhile
    worker.join();
    EXPECT_EQ(GetWindowText(text), "正在下载 data\\file9999.dat ");
    EXPECT_EQ(SendMessage(bar, PBM_GETPOS), 9999);
}

TEST_F(WindowTest, PostedMessagesArriveInOrderAndQuitEndsTheLoop)
{
    PostMessage(top, WM_COMMAND, 1, 0);
    PostMessage(top, WM_COMMAND, 2, 0);
    PostQuitMessage(3);
    EXPECT_EQ(RunMessageLoop(), 3);
    EXPECT_EQ(topProc.lastCommand, 2u);
    EXPECT_EQ(std::count(log.begin(), log.end(), "top:command"), 2);
}

}  // namespace

namespace {

TEST_F(WindowTest, OnceTheLoopHasEndedNothingWaitsForTheWindowThread)
{
    PostQuitMessage(0);
    EXPECT_EQ(RunMessageLoop(), 0);
    ASSERT_TRUE(MessageLoopEnded());
    // A worker that asks the window thread for something now is answered at once, with nothing done.
    std::atomic<bool> ran{false};
    std::optional<bool> runResult;
    std::optional<LRESULT> sendResult;
    std::thread worker([&] {
        runResult = RunOnWindowThread([&] { ran = true; });
        sendResult = SendMessage(top, WM_COMMAND, 5, 0);
    });
    worker.join();
    EXPECT_EQ(runResult, false);
    EXPECT_EQ(sendResult, 0);
    EXPECT_FALSE(ran);
    EXPECT_EQ(topProc.lastCommand, 0u);
    // A box that can no longer be shown is written where it can be read.
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBox(top, "下载 a.bin 文件失败", "提示", MB_OK), IDOK);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "提示: 下载 a.bin 文件失败\n");
}

TEST_F(WindowTest, AnOwnedWindowGoesWithItsOwnerAndIsNoChild)
{
    HWND box = CreateWindowEx(0, "#32770", "提示", WS_POPUP | WS_CAPTION, {0, 0, 100, 50}, top, 0);
    EXPECT_EQ(GetWindowOwner(box), top);
    EXPECT_EQ(GetParent(box), nullptr);
    EXPECT_EQ(GetTopWindow(top), nullptr);
    DestroyWindow(top);
    EXPECT_FALSE(IsWindow(box));
}

}  // namespace
