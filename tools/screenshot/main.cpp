// Saves what the X display shows of a window (found by its title) as a PNG file.
//
//   kesu-screenshot <file.png> <window title> [seconds to wait for it] [seconds after it appears]

#include <X11/Xlib.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <file.png> <window title> [seconds]\n", argv[0]);
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "%s: no display\n", argv[0]);
        return 1;
    }
    const double wait = argc > 3 ? std::atof(argv[3]) : 5.0;
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(wait);
    Window window = 0;
    while (!(window = FindByTitle(display, DefaultRootWindow(display), argv[2], 1)) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!window) {
        std::fprintf(stderr, "%s: no window titled %s\n", argv[0], argv[2]);
        return 1;
    }
    const double after = argc > 4 ? std::atof(argv[4]) : 0.3;  // let it paint
    std::this_thread::sleep_for(std::chrono::duration<double>(after));
    CBitmap shot;
    const bool saved = TakeWindowShot(display, window, shot) && shot.SavePng(argv[1]);
    XCloseDisplay(display);
    return saved ? 0 : 1;
}
