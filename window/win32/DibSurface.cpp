// Surfaces as top-down 32-bit DIB sections, text through GDI, icons through AlphaBlend. Windows
// reads no PNG here: the Windows program's bitmaps come from its resources as DIBs
// (CBitmap::LoadDib).

#include "window/GdiSurface.h"
#include "window/win32/GdiCalls.h"

struct SurfaceNative {
    void* dib;
};

namespace {

gdi_calls::Box ToBox(const RECT& r)
{
    return {r.left, r.top, r.right, r.bottom};
}

gdi_calls::Font ToFont(const CFont* selected)
{
    const CFont font = selected ? *selected : CFont{};
    return {font.family, font.pixelSize};
}

}  // namespace

namespace gdi_system {

std::unique_ptr<CBitmap::Surface> CreateSurface(int width, int height, bool alpha)
{
    if (width <= 0 || height <= 0)
        return nullptr;
    const gdi_calls::Dib dib = gdi_calls::CreateDib(width, height);
    if (!dib.handle)
        return nullptr;
    return std::make_unique<CBitmap::Surface>(new SurfaceNative{dib.handle}, dib.bits, width, height, width * 4, alpha);
}

std::unique_ptr<CBitmap::Surface> SurfaceFromPng(const unsigned char*, std::size_t)
{
    return nullptr;
}

bool SavePng(const CBitmap::Surface&, const std::string&)
{
    return false;
}

void ReleaseNative(SurfaceNative* native)
{
    gdi_calls::DeleteDib(native->dib);
    delete native;
}

void Flush(const CBitmap::Surface&)
{
    gdi_calls::Flush();
}

void MarkDirty(const CBitmap::Surface&)
{
}

std::pair<int, int> MeasureText(const CFont* font, const std::string& text)
{
    return gdi_calls::MeasureText(ToFont(font), text);
}

int DrawText(CBitmap::Surface& to, const RECT& visible, const RECT& rect, const std::string& text, unsigned format,
             COLORREF color, const CFont* font)
{
    return gdi_calls::DrawTextLine(to.native->dib, ToBox(visible), ToBox(rect), text, format, color, ToFont(font));
}

void DrawIcon(CBitmap::Surface& to, const RECT& visible, int x, int y, const CBitmap::Surface& icon, int size)
{
    gdi_calls::AlphaBlend(to.native->dib, ToBox(visible), x, y, size, icon.native->dib, icon.width, icon.height);
}

}  // namespace gdi_system
