// KesuUpdate.exe on a hostile desktop: every way of closing it ends the run, other programs'
// windows and messages cannot stop or crash it, and a display that goes away lets the update
// finish without a window.

#include "tests/ui/UpdaterOnXvfb.h"

#include <X11/keysym.h>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>

#include "digest/MD5Checksum.h"
#include "res/Resources.h"
#include "window/Gdi.h"
#include "tools/screenshot/WindowShot.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr const char* kBoxTitle = "提示";

// A slow file of 10 MB for the window to download, and a file the server does not have.
class X11RunEndTest : public UpdaterOnXvfb {
protected:
    void ServeSlowAndMissingFiles()
    {
        server.Http().Get("/update/slow.dat", [this](const httplib::Request&, httplib::Response& res) {
            res.set_content_provider(10'000'000, "application/octet-stream", [this](size_t, size_t, httplib::DataSink& sink) {
                sink.write(std::string(8192, 's').data(), 8192);
                return server.Stall(20ms);
            });
        });
        server.Http().Get("/update/missing.dat", [](const httplib::Request&, httplib::Response& res) {
            res.status = 404;
            res.set_content("<html>not here</html>", "text/html");
        });
        server.Http().Get("/update/update.xml", [this](const httplib::Request&, httplib::Response& res) {
            res.set_content("<manifest><filelist><file filename='" + std::string(failing ? "missing" : "slow") +
                                ".dat' filesize='10000000' fileversion='1' md5='x'/></filelist></manifest>",
                            "text/xml");
        });
        server.Start();
        install.Write("pirvex.dll", "[Download]\nsite1=127.0.0.1:" + std::to_string(server.Port()) + "\n");
    }

    // A viewable message box other than `except`; 0 when none came.
    Window AwaitBox(Window except = 0)
    {
        Window box = 0;
        Await([&] {
            box = FindByName(display, kBoxTitle);
            return box && box != except && IsShown(display, box);
        });
        return box != except ? box : 0;
    }

    // Dismisses every box that shows until the process ends; its exit code, or -1 when it is still
    // running ten seconds after the last box.
    int DismissBoxesUntilTheEnd(pid_t pid)
    {
        auto lastAction = std::chrono::steady_clock::now();
        auto ended = [&](int code) {
            longestEnd = std::max(longestEnd, std::chrono::steady_clock::now() - lastAction);
            return code;
        };
        for (int boxes = 0; boxes <= 2; ++boxes) {
            int code = -1;
            Window box = 0;
            bool gone = Await([&] {
                if ((code = WaitFor(pid, 0ms)) != -1)
                    return true;
                box = FindByName(display, kBoxTitle);
                return box && IsShown(display, box);
            }, 10s);
            if (!gone || code != -1)
                return ended(code);
            CloseWindow(display, box);
            lastAction = std::chrono::steady_clock::now();
            Await([&] { return !IsShown(display, box); });
        }
        return ended(WaitFor(pid, 10s));  // two boxes at most
    }

    std::atomic<bool> failing{false};
    // The longest a process took to end after the last thing the user did.
    std::chrono::steady_clock::duration longestEnd{};
};

TEST_F(X11RunEndTest, EveryWayOfClosingTheWindowEndsTheRun)
{
    ServeSlowAndMissingFiles();
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        // During the download.
        failing = false;
        pid_t pid = Start();
        Window window = AwaitUpdaterWindow();
        ASSERT_NE(window, 0u);
        ASSERT_TRUE(Await([&] { return fs::exists(install.Path() / "slow.dat.dtm"); }));
        CloseWindow(display, window);
        ASSERT_EQ(DismissBoxesUntilTheEnd(pid), 0) << "closed during the download";

        // While the first failure box is open: the box goes with the window.
        failing = true;
        pid = Start();
        window = AwaitUpdaterWindow();
        Window first = AwaitBox();
        ASSERT_NE(first, 0u);
        Window owner = 0;
        EXPECT_TRUE(XGetTransientForHint(display, first, &owner));
        EXPECT_EQ(owner, window);  // the box belongs to the update window
        CloseWindow(display, window);
        ASSERT_EQ(DismissBoxesUntilTheEnd(pid), 0) << "closed during the first box";

        // While the second box is open.
        pid = Start();
        window = AwaitUpdaterWindow();
        first = AwaitBox();
        ASSERT_NE(first, 0u);
        CloseWindow(display, first);
        ASSERT_NE(AwaitBox(first), 0u);
        CloseWindow(display, window);
        ASSERT_EQ(DismissBoxesUntilTheEnd(pid), 0) << "closed during the second box";

        // Escape, again and again, until the failure shows: some land right after it.
        pid = Start();
        window = AwaitUpdaterWindow();
        std::thread presser([&, name = x->Display()] {
            Display* keyboard = XOpenDisplay(name.c_str());
            for (int press = 0; press < 4000 && !FindByName(keyboard, kBoxTitle) && ::kill(pid, 0) == 0; ++press) {
                PressKey(keyboard, window, XK_Escape);
                std::this_thread::sleep_for(500us);
            }
            XCloseDisplay(keyboard);
        });
        const int code = DismissBoxesUntilTheEnd(pid);
        presser.join();
        ASSERT_EQ(code, 0) << "Escape after the failure";
    }
    std::printf("80 runs closed four ways: each ended at most %.0f ms after the last close or box\n",
                std::chrono::duration<double, std::milli>(longestEnd).count());
}

TEST_F(X11RunEndTest, MessagesFromOtherProgramsAreIgnored)
{
    ServeSlowAndMissingFiles();
    pid_t pid = Start();
    Window window = AwaitUpdaterWindow();
    ASSERT_NE(window, 0u);
    // The program's own message type, carrying what would be a pointer in this process.
    for (long message : {0x000CL /* WM_SETTEXT */, 0x0010L /* WM_CLOSE */, 0x0111L /* WM_COMMAND */}) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display, "KESU_MESSAGE", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = message;
        event.xclient.data.l[1] = 2;  // IDCANCEL, for WM_COMMAND
        event.xclient.data.l[2] = 0x41;
        XSendEvent(display, window, False, NoEventMask, &event);
    }
    XSync(display, False);
    // Still downloading: the file grows on.
    auto size = [&] {
        std::error_code missing;
        return fs::file_size(install.Path() / "slow.dat.dtm", missing);
    };
    ASSERT_TRUE(Await([&] { return size() != static_cast<std::uintmax_t>(-1); }));
    const auto before = size();
    EXPECT_TRUE(Await([&] { return size() > before + 100000; }));
    EXPECT_EQ(WaitFor(pid, 0ms), -1);
    CloseWindow(display, window);
    EXPECT_EQ(WaitFor(pid, 10s), 0);
}

TEST_F(X11RunEndTest, WindowsThatComeAndGoWhileTheUpdaterLooksDoNotStopIt)
{
    Serve("<manifest><filelist/></manifest>");  // a named update with nothing to do: the lobby is told
    Window lobby = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 10, 10, 0, 0, 0);
    XClassHint hint{const_cast<char*>("lobby"), const_cast<char*>("ZRMaravel")};
    XSetClassHint(display, lobby, &hint);
    XMapWindow(display, lobby);
    XSelectInput(display, lobby, NoEventMask);
    XSync(display, False);

    // Another program opens and closes windows all the time, each named like the updater.
    std::atomic<bool> churning{true};
    std::thread churn([&, name = x->Display()] {
        Display* other = XOpenDisplay(name.c_str());
        while (churning) {
            std::vector<Window> windows;
            for (int i = 0; i < 40; ++i) {
                windows.push_back(XCreateSimpleWindow(other, DefaultRootWindow(other), 0, 0, 5, 5, 0, 0, 0));
                XStoreName(other, windows.back(), "not the updater");
            }
            XSync(other, False);
            for (Window w : windows)
                XDestroyWindow(other, w);
            XSync(other, False);
        }
        XCloseDisplay(other);
    });
    Atom kesuMessage = XInternAtom(display, "KESU_MESSAGE", False);
    int told = 0;
    for (int run = 0; run < 20; ++run) {
        EXPECT_EQ(WaitFor(Start({"Game7.dat", "1", std::to_string(run)}), 10s), 0) << "run " << run;
        XEvent event;
        while (XCheckTypedWindowEvent(display, lobby, ClientMessage, &event))
            told += event.xclient.message_type == kesuMessage;
    }
    churning = false;
    churn.join();
    EXPECT_EQ(told, 20);  // every run found the lobby and told it
}

TEST_F(X11RunEndTest, ADisplayThatGoesAwayLetsTheUpdateFinishWithoutAWindow)
{
    const std::string contents(2'000'000, 'd');
    server.Http().Get("/update/data.bin", [this, contents](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(contents.size(), "application/octet-stream",
                                 [this, contents](size_t offset, size_t, httplib::DataSink& sink) {
                                     sink.write(contents.data() + offset, std::min<size_t>(65536, contents.size() - offset));
                                     return server.Stall(30ms);
                                 });
    });
    CMD5Checksum md5;
    md5.Update(contents.data(), contents.size());
    Serve("<manifest><filelist><file filename='data.bin' filesize='2000000' fileversion='1' md5='" +
          CMD5Checksum::ToHex(md5.Final()) + "'/></filelist></manifest>");
    const fs::path errors = install.Path() / "errors.txt";
    pid_t pid = StartUpdater(install.Path(), {.display = true}, errors);
    started.push_back(pid);
    ASSERT_NE(AwaitUpdaterWindow(), 0u);
    ASSERT_TRUE(Await([&] { return fs::exists(install.Path() / "data.bin.dtm"); }));
    XCloseDisplay(display);
    display = nullptr;
    x.reset();  // the X server goes away in the middle of the download

    EXPECT_EQ(WaitFor(pid, 20s), 0) << ReadWholeFile(errors);
    EXPECT_EQ(ReadWholeFile(install.Path() / "data.bin"), contents);
    EXPECT_NE(ReadWholeFile(errors).find("the connection to the display was lost"), std::string::npos);
}

TEST_F(X11RunEndTest, ADisplayThatGoesAwayUnderAFailureBoxEndsTheRunWithTheTextsOnStandardError)
{
    failing = true;
    ServeSlowAndMissingFiles();
    const fs::path errors = install.Path() / "errors.txt";
    pid_t pid = StartUpdater(install.Path(), {.display = true}, errors);
    started.push_back(pid);
    ASSERT_NE(AwaitBox(), 0u);
    XCloseDisplay(display);
    display = nullptr;
    x.reset();  // no one can press OK any more

    EXPECT_EQ(WaitFor(pid, 20s), 0);
    const std::string written = ReadWholeFile(errors);
    EXPECT_NE(written.find("提示: 下载 missing.dat 文件失败"), std::string::npos) << written;
    EXPECT_NE(written.find("提示: 更新失败"), std::string::npos) << written;
}

// The pixels the screen shows of a window, compared with a bitmap; the number that differ.
int DifferencesOnScreen(Display* display, Window window, const CBitmap& expected)
{
    const RECT area{0, 0, expected.Width(), expected.Height()};
    CBitmap shot;
    return TakeWindowShot(display, window, area, shot) ? CountDifferences(shot, expected, area) : -1;
}

TEST_F(X11RunEndTest, UnderAWindowManagerTheSplashShowsWhileTheManifestIsSlow)
{
    if (!OpenboxInstalled())
        GTEST_SKIP() << "openbox is not installed";
    Openbox windowManager(display);
    std::atomic<bool> answered{false};
    server.Http().Get("/update/update.xml", [&](const httplib::Request&, httplib::Response& res) {
        server.Stall(4s);
        answered = true;
        res.set_content("<manifest><filelist/></manifest>", "text/xml");
    });
    server.Start();
    install.Write("pirvex.dll", "[Download]\nsite1=127.0.0.1:" + std::to_string(server.Port()) + "\n");
    CBitmap splash;
    LoadBitmap(splash, IDB_SPLASH);

    pid_t pid = Start();
    Window window = AwaitWindow("KesuUpdate", true);
    ASSERT_NE(window, 0u);
    // Mapped by the window manager while the updater waits for its manifest: the splash is there.
    EXPECT_TRUE(Await([&] { return answered || DifferencesOnScreen(display, window, splash) == 0; }, 4s));
    EXPECT_FALSE(answered);
    EXPECT_EQ(WaitFor(pid, 10s), 0);
}

}  // namespace
