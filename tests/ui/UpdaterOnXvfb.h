#pragma once
// KesuUpdate.exe as a process on an X server of its own (Xvfb), with a test server on loopback
// and a connection of the test's own to watch the screen.

#include <gtest/gtest.h>

// httplib first: Xlib's macros (Success, None) would break it.
#include "tests/support/TestServer.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <sys/wait.h>
#include <thread>

#include "tests/support/TempDir.h"
#include "tests/support/UpdaterProcess.h"
#include "tests/support/X11Desktop.h"
#include "tests/support/Xvfb.h"

class UpdaterOnXvfb : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!XvfbInstalled())
            GTEST_SKIP() << "Xvfb is not installed";
        x = std::make_unique<Xvfb>();
        display = XOpenDisplay(x->Display().c_str());
        ASSERT_NE(display, nullptr);
        TolerateVanishingWindows();
        std::filesystem::copy_file(KESU_EXE, install.Path() / "KesuUpdate.exe");
    }
    void TearDown() override
    {
        for (pid_t pid : started) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        if (display)
            XCloseDisplay(display);
        server.Stop();
        x.reset();
    }
    void Serve(const std::string& manifest)
    {
        server.Http().Get("/update/update.xml", [manifest](const httplib::Request&, httplib::Response& res) {
            res.set_content(manifest, "text/xml");
        });
        server.Http().Get("/update/Game7.xml", [manifest](const httplib::Request&, httplib::Response& res) {
            res.set_content(manifest, "text/xml");
        });
        server.Start();
        install.Write("pirvex.dll", "[Download]\nsite1=127.0.0.1:" + std::to_string(server.Port()) + "\n");
    }
    pid_t Start(const std::vector<std::string>& arguments = {})
    {
        pid_t pid = StartUpdater(install.Path(), {.arguments = arguments, .display = true});
        EXPECT_GT(pid, 0);
        started.push_back(pid);
        return pid;
    }
    // The process's exit code (-2 for a signal), or -1 when it is still running after the time
    // given (0: is it running now?).
    int WaitFor(pid_t pid, std::chrono::milliseconds limit)
    {
        int status = 0;
        if (!Await([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, limit))
            return -1;
        std::erase(started, pid);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
    }
    // Top-level windows titled KesuUpdate on the screen.
    int CountUpdaterWindows()
    {
        Window root, parent, *children = nullptr;
        unsigned count = 0;
        int found = 0;
        XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count);
        for (unsigned i = 0; i < count; ++i) {
            char* name = nullptr;
            if (XFetchName(display, children[i], &name) && name && std::string(name) == "KesuUpdate")
                found += IsShown(display, children[i]);
            if (name)
                XFree(name);
        }
        if (children)
            XFree(children);
        return found;
    }
    // Waits until the condition holds; false when it still does not after the time given.
    template <typename Condition>
    static bool Await(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(5))
    {
        for (auto end = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < end;) {
            if (condition())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return condition();
    }
    // The window of that name once it exists (viewable, if asked); 0 when none came.
    Window AwaitWindow(const std::string& name, bool viewable = false)
    {
        Window window = 0;
        Await([&] {
            window = FindByName(display, name);
            return window && (!viewable || IsShown(display, window));
        });
        return window;
    }
    Window AwaitUpdaterWindow() { return AwaitWindow("KesuUpdate"); }

    std::unique_ptr<Xvfb> x;
    Display* display = nullptr;
    TestServer server;
    TempDir install;
    std::vector<pid_t> started;
};
