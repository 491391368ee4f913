#pragma once
// Drawing: bitmaps, device contexts with an origin and a clip, exact copies, area-averaging
// stretches, key-colour copies and single-line text. The copies are the program's own, the same
// pixels on every system; the memory, PNG files, text and icons are the system's (GdiSurface.h).
// Pixels are 32-bit xRGB; colours are COLORREFs (0x00BBGGRR) as the program writes them.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "window/PlatformIdentity.h"

using COLORREF = std::uint32_t;

constexpr COLORREF RGB(unsigned r, unsigned g, unsigned b)
{
    return (r & 0xFF) | (g & 0xFF) << 8 | (b & 0xFF) << 16;
}

struct RECT {
    int left = 0, top = 0, right = 0, bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

inline constexpr std::uint32_t SRCCOPY = 0x00CC0020;
inline constexpr int COLORONCOLOR = 3;
inline constexpr int HALFTONE = 4;
inline constexpr int TRANSPARENT = 1;
inline constexpr int OPAQUE = 2;
inline constexpr unsigned DT_LEFT = 0x0000;
inline constexpr unsigned DT_CENTER = 0x0001;
inline constexpr unsigned DT_VCENTER = 0x0004;
inline constexpr unsigned DT_SINGLELINE = 0x0020;

// number × numerator / denominator with a 64-bit intermediate, rounded half away from zero;
// -1 when the denominator is 0.
int MulDiv(int number, int numerator, int denominator);

// A bitmap: a surface of pixels that device contexts draw into and read from.
class CBitmap {
public:
    CBitmap();
    ~CBitmap();
    CBitmap(const CBitmap&) = delete;
    CBitmap& operator=(const CBitmap&) = delete;

    // A bitmap of w × h black pixels; false when it cannot be made.
    bool CreateBitmap(int width, int height);
    // A bitmap from PNG data, with its alpha channel when it has one; false when it is no PNG (or
    // the system reads none: Windows' program takes its bitmaps from its resources, as DIBs).
    bool LoadPng(const unsigned char* data, std::size_t size);
    // A bitmap from a DIB as Windows' resources hold one (BITMAPINFOHEADER, then uncompressed rows
    // of 24 or 32 bits, bottom-up or top-down). An icon's image is 32 bits with alpha and twice
    // its height, its lower half the mask, which the alpha makes needless. False when the data
    // is no such DIB.
    enum class DibKind { Bitmap, Icon };
    bool LoadDib(const unsigned char* data, std::size_t size, DibKind kind);
    void DeleteObject();
    bool IsEmpty() const;
    int Width() const;
    int Height() const;
    COLORREF GetPixel(int x, int y) const;
    // The pixel as 0xAARRGGBB, not premultiplied (opaque for bitmaps without alpha).
    std::uint32_t GetArgb(int x, int y) const;
    void SetPixel(int x, int y, COLORREF color);

    bool SavePng(const std::string& path) const;

    // Bitmaps alive in the process, for tests that look for leaks.
    static int LiveCount();

    // The pixels, for showing them: rows of 32-bit xRGB words.
    struct PixelData {
        unsigned char* data;
        int width;
        int height;
        int stride;
    };
    PixelData Pixels() const;

    struct Surface;
    Surface* GetSurface() const { return m_pSurface.get(); }

private:
    std::unique_ptr<Surface> m_pSurface;
};

// A font, by family list and pixel size; without a family of its own, in the program's.
struct CFont {
    std::string family = GetPlatformIdentity().fontFamilies;
    int pixelSize = 12;
};

// A device context: draws into the bitmap selected into it, or into a window's surface at an
// origin and within a clip rectangle (both in the surface's coordinates).
class CDC {
public:
    CDC() = default;
    // A DC drawing into `target`, offset by (originX, originY) and clipped to `clip`.
    CDC(CBitmap* target, int originX, int originY, const RECT& clip);

    // Memory DC: the bitmap drawn into from now on; returns the previous one.
    CBitmap* SelectObject(CBitmap* bitmap);
    CBitmap* GetSelectedBitmap() const { return m_pTarget; }
    int SetStretchBltMode(int mode);
    int SetBkMode(int mode);
    COLORREF SetTextColor(COLORREF color);
    const CFont* SelectFont(const CFont* font);

    bool BitBlt(int x, int y, int width, int height, const CDC* source, int sx, int sy, std::uint32_t rop = SRCCOPY);
    // Copies the source rectangle onto the destination rectangle: nearest pixel, or with HALFTONE
    // each destination pixel the area-weighted average of the source pixels it covers.
    bool StretchBlt(int x, int y, int width, int height, const CDC* source, int sx, int sy, int sw, int sh,
                    std::uint32_t rop = SRCCOPY);
    // As StretchBlt (nearest pixel), leaving out source pixels of exactly the key colour.
    bool TransparentBlt(int x, int y, int width, int height, const CDC* source, int sx, int sy, int sw, int sh,
                        COLORREF key);
    // Draws one line of text in the rectangle, clipped to it; '&' underlines the next character
    // and "&&" shows one '&'. Returns the text's height.
    int DrawText(const std::string& text, const RECT& rect, unsigned format);
    // Draws an icon scaled to size x size pixels with its transparency, its top-left corner at
    // (x, y).
    bool DrawIcon(int x, int y, const CBitmap& icon, int size = 32);
    // The width and height of a line of text in the selected font.
    std::pair<int, int> GetTextExtent(const std::string& text) const;
    void FillSolidRect(const RECT& rect, COLORREF color);
    COLORREF GetPixel(int x, int y) const;
    // The pixel as 0xAARRGGBB, not premultiplied (opaque for bitmaps without alpha).
    std::uint32_t GetArgb(int x, int y) const;

private:
    // The destination rectangle in surface coordinates, cut to the clip and the surface.
    bool Visible(int x, int y, int width, int height, RECT& out) const;
    // Whether a copy from the source has anything to do; readies both surfaces for it.
    bool CanCopy(int x, int y, int width, int height, const CDC* source, int sw, int sh, RECT& visible) const;

    CBitmap* m_pTarget = nullptr;
    int m_nOriginX = 0;
    int m_nOriginY = 0;
    bool m_bClipped = false;
    RECT m_clip;
    int m_nStretchMode = COLORONCOLOR;
    int m_nBkMode = OPAQUE;
    COLORREF m_crText = 0;
    const CFont* m_pFont = nullptr;
};
