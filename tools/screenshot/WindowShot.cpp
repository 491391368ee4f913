#include "tools/screenshot/WindowShot.h"

#include <X11/Xutil.h>

bool TakeWindowShot(Display* display, Window window, const RECT& area, CBitmap& shot)
{
    XImage* image = XGetImage(display, window, area.left, area.top, static_cast<unsigned>(area.Width()),
                              static_cast<unsigned>(area.Height()), AllPlanes, ZPixmap);
    if (!image)
        return false;
    shot.CreateBitmap(area.Width(), area.Height());
    for (int y = 0; y < area.Height(); ++y)
        for (int x = 0; x < area.Width(); ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            shot.SetPixel(x, y, RGB(pixel >> 16 & 0xFF, pixel >> 8 & 0xFF, pixel & 0xFF));
        }
    XDestroyImage(image);
    return true;
}

bool TakeWindowShot(Display* display, Window window, CBitmap& shot)
{
    XWindowAttributes attributes;
    return XGetWindowAttributes(display, window, &attributes) &&
           TakeWindowShot(display, window, {0, 0, attributes.width, attributes.height}, shot);
}

int CountDifferences(const CBitmap& shot, const CBitmap& expected, const RECT& area, int expectedX, int expectedY)
{
    int differences = 0;
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x)
            differences += shot.GetPixel(x, y) != expected.GetPixel(x + expectedX, y + expectedY);
    return differences;
}
