// KesuUpdate.exe with a display: the lobby's window is told, a closed window stops the run, and
// a second updater leaves the first alone.

#include <gtest/gtest.h>

#include "tests/ui/UpdaterOnXvfb.h"

#include <optional>
#include <random>
#include <sys/stat.h>

#include "digest/MD5Checksum.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using X11ProgramTest = UpdaterOnXvfb;

// The lobby's window: the message the updater posts to it, when one comes.
std::optional<XClientMessageEvent> AwaitLobbyMessage(Display* display)
{
    Atom kesuMessage = XInternAtom(display, "KESU_MESSAGE", False);
    for (int i = 0; i < 100; ++i) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == ClientMessage && event.xclient.message_type == kesuMessage)
                return event.xclient;
        }
        std::this_thread::sleep_for(10ms);
    }
    return std::nullopt;
}

TEST_F(X11ProgramTest, ANamedUpdateTellsTheLobbyWindowWithItsTwoNumbers)
{
    Serve("<manifest><filelist/></manifest>");  // nothing to update: the run ends at once
    Window lobby = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 10, 10, 0, 0, 0);
    XClassHint hint{const_cast<char*>("lobby"), const_cast<char*>("ZRMaravel")};
    XSetClassHint(display, lobby, &hint);
    XMapWindow(display, lobby);
    XSync(display, False);

    EXPECT_EQ(WaitFor(Start({"Game7.dat", "12", "34"}), 10s), 0);
    std::optional<XClientMessageEvent> message = AwaitLobbyMessage(display);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->window, lobby);
    EXPECT_EQ(message->data.l[0], 1124);
    EXPECT_EQ(message->data.l[1], 12);
    EXPECT_EQ(message->data.l[2], 34);

    EXPECT_EQ(WaitFor(Start({"Game7.dat", "12"}), 10s), 0);  // one number only
    message = AwaitLobbyMessage(display);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->data.l[1], 12);
    EXPECT_EQ(message->data.l[2], -1);
}

TEST_F(X11ProgramTest, CancelByEscapeOrByTheButtonEndsTheRunAndKeepsThePartialDownload)
{
    server.Http().Get("/update/big.dat", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(10'000'000, "application/octet-stream", [&](size_t, size_t, httplib::DataSink& sink) {
            sink.write(std::string(8192, 'b').data(), 8192);
            return server.Stall(std::chrono::milliseconds(20));
        });
    });
    Serve("<manifest><filelist><file filename='big.dat' filesize='10000000' fileversion='1' md5='x'/></filelist></manifest>");
    for (const std::string& how : {std::string("key Escape"), std::string("click 1")}) {
        pid_t pid = Start();
        Window window = AwaitUpdaterWindow();
        ASSERT_NE(window, 0u);
        ASSERT_TRUE(Await([&] { return fs::exists(install.Path() / "big.dat.dtm"); })) << how;  // downloading
        Window child;
        int x = 0, y = 0;
        XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &x, &y, &child);
        // Over the cancel button: without a window manager the keyboard follows the pointer.
        std::string command = "xdotool mousemove " + std::to_string(x + 282 + 30) + " " + std::to_string(y + 65 + 10) +
                              " sleep 0.1 " + how;
        EXPECT_EQ(std::system(command.c_str()), 0);
        EXPECT_EQ(WaitFor(pid, 10s), 0) << how;
        EXPECT_FALSE(fs::exists(install.Path() / "big.dat")) << how;
        EXPECT_TRUE(fs::exists(install.Path() / "big.dat.dtm")) << how;
        fs::remove(install.Path() / "big.dat.dtm");
        ASSERT_TRUE(Await([&] { return CountUpdaterWindows() == 0; }));  // gone before the next run looks for one
    }
}

TEST_F(X11ProgramTest, ClosingTheWindowDuringADownloadEndsTheRunWithNothingInstalled)
{
    server.Http().Get("/update/big.dat", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(10'000'000, "application/octet-stream", [&](size_t, size_t, httplib::DataSink& sink) {
            sink.write(std::string(8192, 'b').data(), 8192);
            return server.Stall(std::chrono::milliseconds(50));
        });
    });
    Serve("<manifest><filelist><file filename='big.dat' filesize='10000000' fileversion='1' md5='x'/></filelist></manifest>");
    pid_t pid = Start();
    Window window = AwaitUpdaterWindow();
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(Await([&] { return fs::exists(install.Path() / "big.dat.dtm"); }));  // downloading
    EXPECT_EQ(WaitFor(pid, 0ms), -1);

    CloseWindow(display, window);
    EXPECT_EQ(WaitFor(pid, 10s), 0);
    EXPECT_FALSE(fs::exists(install.Path() / "big.dat"));
}

// Whether the window is the topmost of the screen's top-level windows.
bool OnTop(Display* display, Window window)
{
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    bool top = XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count) && count > 0 &&
               children[count - 1] == window;
    if (children)
        XFree(children);
    return top;
}

TEST_F(X11ProgramTest, ASecondUpdaterRaisesTheFirstAndEndsWithoutAWindow)
{
    server.Http().Get("/update/slow.dat", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(10'000'000, "application/octet-stream", [&](size_t, size_t, httplib::DataSink& sink) {
            sink.write(std::string(8192, 's').data(), 8192);
            return server.Stall(std::chrono::milliseconds(50));
        });
    });
    Serve("<manifest><filelist><file filename='slow.dat' filesize='10000000' fileversion='1' md5='x'/></filelist></manifest>");
    pid_t first = Start();
    Window window = AwaitUpdaterWindow();
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(Await([&] { return fs::exists(install.Path() / "slow.dat.dtm"); }));  // shown and downloading
    // Another program's window covers the first updater.
    Window cover = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1024, 768, 0, 0, 0);
    XMapRaised(display, cover);
    XSync(display, False);
    ASSERT_FALSE(OnTop(display, window));

    // The second updater belongs to another installation: only the first's window can stop it.
    TempDir other;
    fs::copy_file(install.Path() / "KesuUpdate.exe", other.Path() / "KesuUpdate.exe");
    fs::copy_file(install.Path() / "pirvex.dll", other.Path() / "pirvex.dll");
    pid_t second = StartUpdater(other.Path(), {.display = true});
    started.push_back(second);
    EXPECT_EQ(WaitFor(second, 5s), 0);
    EXPECT_TRUE(Await([&] { return OnTop(display, window); }));  // the first came to the front
    EXPECT_EQ(CountUpdaterWindows(), 1);
    EXPECT_FALSE(fs::exists(other.Path() / "slow.dat.dtm"));  // the second fetched nothing
    EXPECT_EQ(WaitFor(first, 0ms), -1);  // the first goes on
}

TEST_F(X11ProgramTest, CancelAtRandomMomentsInstallsNothingAndTheNextRunCompletes)
{
    // Five files of 100 KB, sent 8 KB at a time: the download lasts most of a second, even with
    // every file on a connection of its own.
    std::string entries;
    for (int i = 0; i < 5; ++i) {
        std::string body(100000, static_cast<char>('a' + i));
        CMD5Checksum md5;
        md5.Update(body.data(), body.size());
        entries += "<file filename='f" + std::to_string(i) + ".dat' filesize='100000' fileversion='1' md5='" +
                   CMD5Checksum::ToHex(md5.Final()) + "'/>";
        server.Http().Get("/update/f" + std::to_string(i) + ".dat", [this, body](const httplib::Request&, httplib::Response& res) {
            res.set_content_provider(body.size(), "application/octet-stream",
                                     [this, body](size_t offset, size_t, httplib::DataSink& sink) {
                                         sink.write(body.data() + offset, std::min<size_t>(8192, body.size() - offset));
                                         return server.Stall(std::chrono::milliseconds(60));
                                     });
        });
    }
    Serve("<manifest><filelist>" + entries + "</filelist></manifest>");
    std::mt19937 random(2026);
    for (int round = 0; round < 20; ++round) {
        pid_t pid = Start();
        Window window = AwaitUpdaterWindow();
        ASSERT_NE(window, 0u) << round;
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 400));
        CloseWindow(display, window);
        ASSERT_EQ(WaitFor(pid, 5s), 0) << round;
        for (int i = 0; i < 5; ++i)
            EXPECT_FALSE(fs::exists(install.Path() / ("f" + std::to_string(i) + ".dat"))) << round;
    }
    EXPECT_EQ(WaitFor(Start(), 10s), 0);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(ReadWholeFile(install.Path() / ("f" + std::to_string(i) + ".dat")),
                  std::string(100000, static_cast<char>('a' + i)));
}

}  // namespace
