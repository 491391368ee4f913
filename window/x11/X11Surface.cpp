#include "window/x11/X11Surface.h"

#include <X11/Xutil.h>
#include <algorithm>

namespace {

// A black pixmap of the size given, to be a window's background.
Pixmap NewBackground(const X11Connection& x, int width, int height)
{
    Pixmap pixmap = XCreatePixmap(x.display, x.root, static_cast<unsigned>(width), static_cast<unsigned>(height),
                                  static_cast<unsigned>(x.depth));
    GC gc = XCreateGC(x.display, pixmap, 0, nullptr);
    XSetForeground(x.display, gc, BlackPixel(x.display, DefaultScreen(x.display)));
    XFillRectangle(x.display, pixmap, gc, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XFreeGC(x.display, gc);
    return pixmap;
}

}  // namespace

X11Surface CreateSurface(const X11Connection& x, const RECT& rect, long eventMask)
{
    const int width = std::max(1, rect.Width()), height = std::max(1, rect.Height());
    Pixmap background = NewBackground(x, width, height);
    XSetWindowAttributes attributes{};
    attributes.event_mask = eventMask;
    attributes.background_pixmap = background;
    Window id = XCreateWindow(x.display, x.root, rect.left, rect.top, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), 0, x.depth, InputOutput, x.visual,
                              CWEventMask | CWBackPixmap, &attributes);
    return {id, XCreateGC(x.display, id, 0, nullptr), background, width, height};
}

void ResizeSurface(const X11Connection& x, X11Surface& surface, const RECT& rect)
{
    const int width = std::max(1, rect.Width()), height = std::max(1, rect.Height());
    if (width == surface.width && height == surface.height)
        return;
    Pixmap background = NewBackground(x, width, height);
    XSetWindowBackgroundPixmap(x.display, surface.id, background);
    XFreePixmap(x.display, surface.background);
    surface = {surface.id, surface.gc, background, width, height};
}

void PresentSurface(const X11Connection& x, const X11Surface& surface, const CBitmap& pixels, const RECT& dirty)
{
    CBitmap::PixelData data = pixels.Pixels();
    XImage* image = XCreateImage(x.display, x.visual, static_cast<unsigned>(x.depth), ZPixmap, 0,
                                 reinterpret_cast<char*>(data.data), static_cast<unsigned>(data.width),
                                 static_cast<unsigned>(data.height), 32, data.stride);
    if (!image)
        return;
    RECT area{std::max(0, dirty.left), std::max(0, dirty.top), std::min({data.width, surface.width, dirty.right}),
              std::min({data.height, surface.height, dirty.bottom})};
    if (area.Width() > 0 && area.Height() > 0) {
        const auto width = static_cast<unsigned>(area.Width()), height = static_cast<unsigned>(area.Height());
        XPutImage(x.display, surface.background, surface.gc, image, area.left, area.top, area.left, area.top, width,
                  height);
        XClearArea(x.display, surface.id, area.left, area.top, width, height, False);
    }
    image->data = nullptr;  // the bitmap keeps its pixels
    XDestroyImage(image);
    XFlush(x.display);
}

void FreeSurface(const X11Connection& x, const X11Surface& surface, bool windowGone)
{
    XFreeGC(x.display, surface.gc);
    if (!windowGone)
        XDestroyWindow(x.display, surface.id);
    XFreePixmap(x.display, surface.background);
}
