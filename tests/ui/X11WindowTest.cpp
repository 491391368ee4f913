// The update window on a real X server (Xvfb), seen from a second connection as a window
// manager or a user would see it.

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "app/AutoUpdateApp.h"
#include "app/AutoUpdateDlg.h"
#include "window/MessageBox.h"
#include "window/x11/X11Screen.h"
#include "res/Resources.h"
#include "tests/support/X11Desktop.h"
#include "tests/support/Xvfb.h"
#include "tools/screenshot/WindowShot.h"

namespace {

// The run's side of the window: every cancel asks a download to stop.
class CountingCommands : public IUpdateCommands {
public:
    bool Cancel() override
    {
        ++cancels;
        return true;
    }
    void WindowClosed() override {}

    std::atomic<int> cancels{0};
};

class X11WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!XvfbInstalled())
            GTEST_SKIP() << "Xvfb is not installed";
        server = std::make_unique<Xvfb>();
        SetPlatformIdentity(ProductIdentity());
        SetScreen(OpenX11Screen(server->Display()));
        observer = XOpenDisplay(server->Display().c_str());
        ASSERT_NE(observer, nullptr);
    }
    void TearDown() override
    {
        dlg.reset();
        SetScreen(nullptr);
        if (observer)
            XCloseDisplay(observer);
        server.reset();
    }
    // Lets the window thread work until the condition holds (at most two seconds).
    template <typename Condition>
    bool Await(Condition condition, int rounds = 200)
    {
        for (int i = 0; i < rounds; ++i) {
            PumpMessages();
            GetScreen().WaitForInput(10);
            if (condition())
                return true;
        }
        return false;
    }

    // Shows the window with its splash and returns its X window once it is on the screen.
    Window ShowWindowOnScreen()
    {
        dlg = std::make_unique<CAutoUpdateDlg>();
        EXPECT_TRUE(dlg->Create(&commands));
        SetWindowText(dlg->m_hWnd, "KesuUpdate");
        dlg->ShowSplash();
        Window window = 0;
        Await([&] {
            window = FindByName(observer, "KesuUpdate");
            XWindowAttributes attributes;
            return window && XGetWindowAttributes(observer, window, &attributes) && attributes.map_state == IsViewable;
        });
        return window;
    }
    // Drags with the mouse from one screen point to another, while the window thread works.
    void Drag(int fromX, int fromY, int toX, int toY)
    {
        std::string command = "xdotool mousemove " + std::to_string(fromX) + " " + std::to_string(fromY) +
                              " mousedown 1 sleep 0.3 mousemove " + std::to_string((fromX + toX) / 2) + " " +
                              std::to_string((fromY + toY) / 2) + " sleep 0.3 mousemove " + std::to_string(toX) + " " +
                              std::to_string(toY) + " sleep 0.3 mouseup 1";
        std::atomic<bool> done{false};
        std::thread mouse([&] {
            EXPECT_EQ(std::system(command.c_str()), 0);
            done = true;
        });
        Await([&] { return done.load(); });
        mouse.join();
        Await([] { return false; });  // let the last events arrive
    }

    std::unique_ptr<Xvfb> server;
    Display* observer = nullptr;
    CountingCommands commands;
    std::unique_ptr<CAutoUpdateDlg> dlg;
};


TEST_F(X11WindowTest, TheWindowIsBorderlessCentredTitledAndShowsTheSplash)
{
    dlg = std::make_unique<CAutoUpdateDlg>();
    ASSERT_TRUE(dlg->Create());
    SetWindowText(dlg->m_hWnd, "KesuUpdate");
    dlg->ShowSplash();
    Window window = 0;
    ASSERT_TRUE(Await([&] { return (window = FindByName(observer, "KesuUpdate")) != 0; }));

    XWindowAttributes attributes;
    ASSERT_TRUE(Await([&] {
        XGetWindowAttributes(observer, window, &attributes);
        return attributes.map_state == IsViewable;
    }));
    EXPECT_EQ(attributes.width, 368);
    EXPECT_EQ(attributes.height, 91);
    Window child;
    int x = 0, y = 0;
    XTranslateCoordinates(observer, window, DefaultRootWindow(observer), 0, 0, &x, &y, &child);
    EXPECT_EQ(x, (1024 - 366) / 2);
    EXPECT_EQ(y, (768 - 90) / 2);

    Atom type;
    int format;
    unsigned long count = 0, remaining;
    unsigned char* data = nullptr;
    XGetWindowProperty(observer, window, XInternAtom(observer, "_MOTIF_WM_HINTS", False), 0, 5, False, AnyPropertyType,
                       &type, &format, &count, &remaining, &data);
    ASSERT_EQ(count, 5u);
    EXPECT_EQ(reinterpret_cast<unsigned long*>(data)[2], 0u);  // no decorations
    XFree(data);
    XClassHint classHint;
    ASSERT_TRUE(XGetClassHint(observer, window, &classHint));
    EXPECT_STREQ(classHint.res_class, "KesuUpdate");
    XFree(classHint.res_name);
    XFree(classHint.res_class);

    CBitmap splash;
    LoadBitmap(splash, IDB_SPLASH);
    bool same = Await([&] {
        CBitmap shot;
        if (!TakeWindowShot(observer, window, {0, 0, 368, 91}, shot))
            return false;
        std::filesystem::create_directories(KESU_ARTEFACT_DIR);
        shot.SavePng(std::string(KESU_ARTEFACT_DIR) + "/x11-splash.png");
        return CountDifferences(shot, splash, {0, 0, 368, 91}) == 0;
    });
    EXPECT_TRUE(same);
}

TEST_F(X11WindowTest, DraggingTheBackgroundMovesTheWindowWithoutAWindowManager)
{
    Window window = ShowWindowOnScreen();
    ASSERT_NE(window, 0u);
    auto [x, y] = Position(observer, window);
    Drag(x + 40, y + 30, x + 140, y + 100);
    auto [movedX, movedY] = Position(observer, window);
    EXPECT_EQ(movedX, x + 100);
    EXPECT_EQ(movedY, y + 70);
    RECT rect = GetWindowRect(dlg->m_hWnd);
    EXPECT_EQ(rect.left, x + 100);  // the window knows where it is now
}

TEST_F(X11WindowTest, DraggingUnderAWindowManagerLetsItMoveTheWindow)
{
    if (!OpenboxInstalled())
        GTEST_SKIP() << "openbox is not installed";
    Openbox windowManager(observer);
    Window window = ShowWindowOnScreen();
    ASSERT_NE(window, 0u);
    // Messages to the window manager are sent to the root window, where this connection hears them too.
    XSelectInput(observer, DefaultRootWindow(observer), SubstructureNotifyMask);
    XSync(observer, False);
    auto [x, y] = Position(observer, window);
    Drag(x + 40, y + 30, x + 140, y + 100);
    bool asked = false;
    for (XEvent event; XPending(observer);) {
        XNextEvent(observer, &event);
        if (event.type == ClientMessage && event.xclient.window == window &&
            event.xclient.message_type == XInternAtom(observer, "_NET_WM_MOVERESIZE", False)) {
            asked = true;
            EXPECT_EQ(event.xclient.data.l[0], x + 40);  // where the pointer grabbed the window
            EXPECT_EQ(event.xclient.data.l[1], y + 30);
            EXPECT_EQ(event.xclient.data.l[2], 8);       // a move
        }
    }
    EXPECT_TRUE(asked);
    auto [movedX, movedY] = Position(observer, window);
    EXPECT_EQ(movedX, x + 100);
    EXPECT_EQ(movedY, y + 70);
    EXPECT_TRUE(Await([&] { return GetWindowRect(dlg->m_hWnd).left == x + 100; }));
}

TEST_F(X11WindowTest, TheWorkerGoesOnWhileTheWindowIsDraggedWithoutAWindowManager)
{
    Window window = ShowWindowOnScreen();
    ASSERT_NE(window, 0u);
    dlg->ShowPanel(1024 * 1024);
    std::atomic<bool> running{true};
    std::atomic<int> updates{0};
    std::thread worker([&] {
        while (running) {
            dlg->m_staticDetail.SetWindowText("已下载 " + std::to_string(updates) + " KB");
            dlg->m_progressTotal.SetPos(updates % 1000);
            ++updates;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    auto [x, y] = Position(observer, window);
    std::atomic<bool> heldOn{false}, done{false};
    std::thread mouse([&, x = x, y = y] {
        const std::string at = std::to_string(x + 50) + " " + std::to_string(y + 15);  // the background
        EXPECT_EQ(std::system(("xdotool mousemove " + at + " mousedown 1 mousemove_relative 20 20").c_str()), 0);
        // The button is held: the move is on, and the worker's updates still go through.
        const int before = updates;
        for (int i = 0; i < 500 && updates < before + 50; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        heldOn = updates >= before + 50;
        EXPECT_EQ(std::system("xdotool mouseup 1"), 0);
        done = true;
    });
    Await([&] { return done.load(); }, 1000);
    mouse.join();
    running = false;
    worker.join();
    EXPECT_TRUE(heldOn);
    EXPECT_EQ(Position(observer, window), std::make_pair(x + 20, y + 20));  // and the window moved
}

// Whether the screen shows frame `frame` of the button strip at the button's place.
bool ShowsButtonFrame(Display* display, Window window, const CBitmap& strip, int frame)
{
    CBitmap shot;
    return TakeWindowShot(display, window, {282, 65, 282 + 69, 65 + 21}, shot) &&
           CountDifferences(shot, strip, {10, 2, 60, 19}, frame * 69) == 0;
}

TEST_F(X11WindowTest, TheCancelButtonFollowsTheMouse)
{
    Window window = ShowWindowOnScreen();
    ASSERT_NE(window, 0u);
    dlg->ShowPanel(1024 * 1024);
    CBitmap strip;
    LoadBitmap(strip, IDB_CANCEL_BUTTON);
    auto [x, y] = Position(observer, window);
    auto mouse = [&](const std::string& action) {
        EXPECT_EQ(std::system(("xdotool " + action).c_str()), 0);
    };
    ASSERT_TRUE(Await([&] { return ShowsButtonFrame(observer, window, strip, 0); }));
    mouse("mousemove " + std::to_string(x + 282 + 30) + " " + std::to_string(y + 65 + 10));
    EXPECT_TRUE(Await([&] { return ShowsButtonFrame(observer, window, strip, 1); }));
    mouse("mousedown 1");
    EXPECT_TRUE(Await([&] { return ShowsButtonFrame(observer, window, strip, 2); }));
    mouse("mouseup 1");  // a click: cancel asks the worker to stop and greys the button
    EXPECT_TRUE(Await([&] { return ShowsButtonFrame(observer, window, strip, 3); }));
    EXPECT_EQ(commands.cancels, 1);
    std::filesystem::create_directories(KESU_ARTEFACT_DIR);
    CBitmap shot;
    if (TakeWindowShot(observer, window, {0, 0, 368, 91}, shot))
        shot.SavePng(std::string(KESU_ARTEFACT_DIR) + "/x11-download-panel.png");
}

TEST_F(X11WindowTest, AMessageBoxFromTheWorkerIsModalOverTheWindowUntilDismissed)
{
    Window window = ShowWindowOnScreen();
    ASSERT_NE(window, 0u);
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        EXPECT_EQ(MessageBox(dlg->m_hWnd, "下载 data\\a.bin 文件失败", "提示", MB_OK | MB_ICONINFORMATION), IDOK);
        returned = true;
    });
    // The user, on a thread of their own: the window thread is in the box's loop meanwhile.
    std::atomic<bool> ownerDisabled{false}, returnedEarly{false};
    std::thread user([&] {
        Display* display = XOpenDisplay(server->Display().c_str());
        Window box = 0;
        XWindowAttributes attributes{};
        for (int i = 0; i < 300; ++i) {
            box = FindByName(display, "提示");
            if (box && XGetWindowAttributes(display, box, &attributes) && attributes.map_state == IsViewable)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ownerDisabled = !IsWindowEnabled(dlg->m_hWnd);
        returnedEarly = returned.load();
        if (CBitmap shot; TakeWindowShot(display, box, shot)) {
            std::filesystem::create_directories(KESU_ARTEFACT_DIR);
            shot.SavePng(std::string(KESU_ARTEFACT_DIR) + "/x11-message-box.png");
        }
        auto [x, y] = Position(display, box);
        std::string click = "xdotool mousemove " + std::to_string(x + attributes.width - 60) + " " +
                            std::to_string(y + attributes.height - 23) + " click 1";
        EXPECT_EQ(std::system(click.c_str()), 0);
        XCloseDisplay(display);
    });
    EXPECT_TRUE(Await([&] { return returned.load(); }, 500));
    user.join();
    worker.join();
    EXPECT_TRUE(ownerDisabled);
    EXPECT_FALSE(returnedEarly);
    EXPECT_TRUE(IsWindowEnabled(dlg->m_hWnd));
}

}  // namespace
