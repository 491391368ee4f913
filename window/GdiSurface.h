#pragma once
// What drawing (BitmapDrawing.cpp) asks of the system, and nothing outside the drawing files
// includes: the memory behind a bitmap, PNG files, text and icons. The copies, fills and
// stretches are the program's own, over the rows of pixels a surface gives, so they give the
// same pixels on every system.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "window/Gdi.h"

// The system's object behind a surface's pixels.
struct SurfaceNative;

// Rows of 32-bit pixels: xRGB, or premultiplied ARGB when `alpha` (icons).
struct CBitmap::Surface {
    SurfaceNative* native = nullptr;
    unsigned char* data = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;  // bytes from one row to the next
    bool alpha = false;

    Surface(SurfaceNative* n, unsigned char* d, int w, int h, int s, bool a);
    ~Surface();
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;

    std::uint32_t* Row(int y) const
    {
        return reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
    }
};

namespace gdi_system {

// A surface of black pixels (transparent ones with alpha); null when it cannot be made.
std::unique_ptr<CBitmap::Surface> CreateSurface(int width, int height, bool alpha);
// A surface from PNG data, with alpha when the image has it; null when it is no PNG (or the
// system reads none).
std::unique_ptr<CBitmap::Surface> SurfaceFromPng(const unsigned char* data, std::size_t size);
bool SavePng(const CBitmap::Surface& surface, const std::string& path);
void ReleaseNative(SurfaceNative* native);
// Before the pixels are read or written directly, and after they were written.
void Flush(const CBitmap::Surface& surface);
void MarkDirty(const CBitmap::Surface& surface);

// The width and height of a line of text in the font (the program's font when null).
std::pair<int, int> MeasureText(const CFont* font, const std::string& text);
// Draws one line of text at `rect` (surface coordinates), only within `visible`; '&' underlines the
// next character and "&&" shows one '&'. Returns the text's height.
int DrawText(CBitmap::Surface& to, const RECT& visible, const RECT& rect, const std::string& text, unsigned format,
             COLORREF color, const CFont* font);
// Draws the icon scaled to size x size with its transparency, its corner at (x, y), within `visible`.
void DrawIcon(CBitmap::Surface& to, const RECT& visible, int x, int y, const CBitmap::Surface& icon, int size);

}  // namespace gdi_system
