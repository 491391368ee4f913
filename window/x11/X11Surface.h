#pragma once
// The program's windows as the X server holds them: a window and a background pixmap with its
// pixels. The server paints the window from that pixmap by itself — on mapping, on every
// exposure, even while the window thread is busy elsewhere (a slow manifest, a window manager
// that maps the window late) — so that showing new pixels is one copy into the pixmap.

#include "window/Gdi.h"
#include "window/x11/X11Connection.h"

struct X11Surface {
    Window id;
    GC gc;
    Pixmap background;
    int width, height;
};

// A new window, not yet mapped, at the rectangle's place and black until its pixels come.
X11Surface CreateSurface(const X11Connection& x, const RECT& rect, long eventMask);
// A window of a new size gets a background of that size (its pixels follow with the next paint).
void ResizeSurface(const X11Connection& x, X11Surface& surface, const RECT& rect);
// Copies the pixels within `dirty` into the background, and has the window show them.
void PresentSurface(const X11Connection& x, const X11Surface& surface, const CBitmap& pixels, const RECT& dirty);
// Frees what the server keeps for the surface, the window too unless another client destroyed it.
void FreeSurface(const X11Connection& x, const X11Surface& surface, bool windowGone = false);
