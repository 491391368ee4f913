// The update window on a real X server (Xvfb), seen from a second connection as a window
// manager or a user would see it.

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <chrono>
#include <filesystem>
#include <thread>

#include "app/AutoUpdateDlg.h"
#include "platform/X11Screen.h"
#include "res/Resources.h"
#include "tests/support/Xvfb.h"

namespace {

// Finds a top-level window by its name, looking one level into window-manager frames.
Window FindByName(Display* display, const std::string& name)
{
    Window root = DefaultRootWindow(display), parent, *children = nullptr;
    unsigned count = 0;
    Window found = 0;
    auto matches = [&](Window w) {
        char* title = nullptr;
        bool same = XFetchName(display, w, &title) && title && name == title;
        if (title)
            XFree(title);
        return same;
    };
    if (XQueryTree(display, root, &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count && !found; ++i) {
            if (matches(children[i])) {
                found = children[i];
                break;
            }
            Window *inner = nullptr, r, p;
            unsigned innerCount = 0;
            if (XQueryTree(display, children[i], &r, &p, &inner, &innerCount)) {
                for (unsigned j = 0; j < innerCount && !found; ++j)
                    if (matches(inner[j]))
                        found = inner[j];
                if (inner)
                    XFree(inner);
            }
        }
        if (children)
            XFree(children);
    }
    return found;
}

class X11WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!XvfbInstalled())
            GTEST_SKIP() << "Xvfb is not installed";
        server = std::make_unique<Xvfb>();
        SetScreen(OpenX11Screen());
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
    bool Await(Condition condition)
    {
        for (int i = 0; i < 200; ++i) {
            PumpMessages();
            GetScreen().WaitForInput(10);
            if (condition())
                return true;
        }
        return false;
    }

    std::unique_ptr<Xvfb> server;
    Display* observer = nullptr;
    std::unique_ptr<CAutoUpdateDlg> dlg;
};

TEST_F(X11WindowTest, TheWindowIsBorderlessCentredTitledAndShowsTheSplash)
{
    dlg = std::make_unique<CAutoUpdateDlg>();
    ASSERT_TRUE(dlg->Create(false));
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
        XImage* image = XGetImage(observer, window, 0, 0, 368, 91, AllPlanes, ZPixmap);
        if (!image)
            return false;
        int differences = 0;
        CBitmap shot;
        shot.CreateBitmap(368, 91);
        for (int py = 0; py < 91; ++py)
            for (int px = 0; px < 368; ++px) {
                unsigned long pixel = XGetPixel(image, px, py);
                COLORREF colour = RGB(pixel >> 16 & 0xFF, pixel >> 8 & 0xFF, pixel & 0xFF);
                shot.SetPixel(px, py, colour);
                differences += colour != splash.GetPixel(px, py);
            }
        XDestroyImage(image);
        std::filesystem::create_directories(KESU_ARTEFACT_DIR);
        shot.SavePng(std::string(KESU_ARTEFACT_DIR) + "/x11-splash.png");
        return differences == 0;
    });
    EXPECT_TRUE(same);
}

}  // namespace
