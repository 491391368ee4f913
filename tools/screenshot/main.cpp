// Saves what the X display shows of a window (found by its title) as a PNG file.
//
//   kesu-screenshot <file.png> <window title> [seconds to wait for it] [seconds after it appears]
//   kesu-screenshot --after <picture.png> <file.png> <window title> [seconds to wait for it]
//
// With --after, the shot is the first picture the window shows once it has shown <picture.png>
// exactly: for the update window, its splash, the first after it is the download panel. A window
// that closes before then is reported, with the reason, and nothing is saved.

#include <X11/Xlib.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "tools/screenshot/WindowShot.h"

namespace {

Window FindByTitle(Display* display, Window parent, const std::string& title, int depth)
{
    Window root, ancestor, *children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (!XQueryTree(display, parent, &root, &ancestor, &children, &count))
        return 0;
    for (unsigned i = 0; i < count && !found; ++i) {
        char* name = nullptr;
        XWindowAttributes attributes;
        if (XFetchName(display, children[i], &name) && name && title == name &&
            XGetWindowAttributes(display, children[i], &attributes) && attributes.map_state == IsViewable)
            found = children[i];
        if (name)
            XFree(name);
        if (!found && depth > 0)
            found = FindByTitle(display, children[i], title, depth - 1);
    }
    if (children)
        XFree(children);
    return found;
}

// The window may go at any moment: a request about a window that is gone then fails (and the
// shot with it) instead of Xlib's default handler ending the tool.
int IgnoreXError(Display*, XErrorEvent*)
{
    return 0;
}

bool LoadPngFile(const char* path, CBitmap& picture)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream contents;
    if (!(file && contents << file.rdbuf()))
        return false;
    const std::string bytes = contents.str();
    return picture.LoadPng(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

bool Shows(const CBitmap& shot, const CBitmap& picture)
{
    return shot.Width() == picture.Width() && shot.Height() == picture.Height() &&
           CountDifferences(shot, picture, {0, 0, shot.Width(), shot.Height()}) == 0;
}

// The first picture the window shows after `first`, polled until `end`; an empty string, or why
// there is none.
std::string ShotAfter(Display* display, Window window, const CBitmap& first, std::chrono::steady_clock::time_point end,
                      CBitmap& shot)
{
    bool seenFirst = false;
    for (; std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
        if (!TakeWindowShot(display, window, shot))
            return seenFirst ? "the window closed before it showed anything after the picture given"
                             : "the window closed before it showed the picture given";
        if (Shows(shot, first))
            seenFirst = true;
        else if (seenFirst)
            return {};
    }
    return seenFirst ? "the window showed nothing after the picture given in time" : "the window never showed the picture given";
}

}  // namespace

int main(int argc, char** argv)
{
    const char* program = argv[0];
    CBitmap first;
    const bool after = argc > 2 && std::string(argv[1]) == "--after";
    if (after) {
        if (!LoadPngFile(argv[2], first)) {
            std::fprintf(stderr, "%s: %s is no PNG picture\n", program, argv[2]);
            return 2;
        }
        argc -= 2;
        argv += 2;
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s [--after <picture.png>] <file.png> <window title> [seconds]\n", program);
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "%s: no display\n", program);
        return 1;
    }
    XSetErrorHandler(IgnoreXError);
    const double wait = argc > 3 ? std::atof(argv[3]) : 5.0;
    const auto end = std::chrono::steady_clock::now() +
                     std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(wait));
    Window window = 0;
    while (!(window = FindByTitle(display, DefaultRootWindow(display), argv[2], 1)) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!window) {
        std::fprintf(stderr, "%s: no window titled %s\n", program, argv[2]);
        return 1;
    }
    CBitmap shot;
    std::string failure;
    if (after) {
        failure = ShotAfter(display, window, first, end, shot);
    } else {
        const double settle = argc > 4 ? std::atof(argv[4]) : 0.3;  // let it paint
        std::this_thread::sleep_for(std::chrono::duration<double>(settle));
        if (!TakeWindowShot(display, window, shot))
            failure = "the window closed before the shot";
    }
    XCloseDisplay(display);
    if (failure.empty() && !shot.SavePng(argv[1]))
        failure = std::string("cannot write ") + argv[1];
    if (!failure.empty())
        std::fprintf(stderr, "%s: %s\n", program, failure.c_str());
    return failure.empty() ? 0 : 1;
}
