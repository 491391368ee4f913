#include "window/Gdi.h"

#include "window/GdiSurface.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace {

std::atomic<int> g_nLiveBitmaps{0};

std::uint32_t ToPixel(COLORREF color)
{
    return (color & 0xFF) << 16 | (color & 0xFF00) | (color >> 16 & 0xFF);
}

COLORREF ToColor(std::uint32_t pixel)
{
    return (pixel >> 16 & 0xFF) | (pixel & 0xFF00) | (pixel & 0xFF) << 16;
}

// Source pixels that one destination pixel covers, with their shares of its area.
struct Span {
    int first = 0;
    std::vector<double> weights;
};

// For each of `count` destination pixels over `sourceCount` source pixels from `start`: the
// covered source pixels and weights summing to 1. Pixels outside [0, limit) are left out.
std::vector<Span> AreaSpans(int count, int start, int sourceCount, int limit)
{
    std::vector<Span> spans(static_cast<std::size_t>(count));
    const double scale = static_cast<double>(sourceCount) / count;
    for (int i = 0; i < count; ++i) {
        double from = start + i * scale, to = start + (i + 1) * scale;
        Span& span = spans[static_cast<std::size_t>(i)];
        span.first = static_cast<int>(std::floor(from));
        double total = 0;
        for (int s = span.first; s < to; ++s) {
            double covered = std::min<double>(s + 1, to) - std::max<double>(s, from);
            if (s < 0 || s >= limit)
                covered = 0;
            span.weights.push_back(covered);
            total += covered;
        }
        for (double& weight : span.weights)
            weight = total > 0 ? weight / total : 0;
    }
    return spans;
}

}  // namespace

int MulDiv(int number, int numerator, int denominator)
{
    if (denominator == 0)
        return -1;
    long long product = static_cast<long long>(number) * numerator;
    long long half = std::llabs(denominator) / 2;
    bool negative = (product < 0) != (denominator < 0);
    long long quotient = (std::llabs(product) + half) / std::llabs(denominator);
    return static_cast<int>(negative ? -quotient : quotient);
}

CBitmap::Surface::Surface(SurfaceNative* n, unsigned char* d, int w, int h, int s, bool a)
    : native(n), data(d), width(w), height(h), stride(s), alpha(a)
{
    ++g_nLiveBitmaps;
}

CBitmap::Surface::~Surface()
{
    gdi_system::ReleaseNative(native);
    --g_nLiveBitmaps;
}

CBitmap::CBitmap() = default;
CBitmap::~CBitmap() = default;

bool CBitmap::CreateBitmap(int width, int height)
{
    std::unique_ptr<Surface> surface = gdi_system::CreateSurface(width, height, false);
    if (!surface)
        return false;
    m_pSurface = std::move(surface);
    return true;
}

bool CBitmap::LoadPng(const unsigned char* data, std::size_t size)
{
    std::unique_ptr<Surface> surface = gdi_system::SurfaceFromPng(data, size);
    if (!surface)
        return false;
    m_pSurface = std::move(surface);
    return true;
}

bool CBitmap::LoadDib(const unsigned char* data, std::size_t size, DibKind kind)
{
    auto read32 = [&](std::size_t at) {
        return static_cast<std::int32_t>(data[at] | data[at + 1] << 8 | data[at + 2] << 16 | static_cast<std::uint32_t>(data[at + 3]) << 24);
    };
    if (size < 40)
        return false;
    const std::int32_t headerSize = read32(0), width = read32(4);
    std::int32_t height = read32(8);
    const int bits = data[14] | data[15] << 8;
    const std::int32_t compression = read32(16);
    const bool icon = kind == DibKind::Icon;
    if (headerSize < 40 || static_cast<std::size_t>(headerSize) > size || width <= 0 || width > 0x4000 || height == 0 ||
        (compression != 0 && compression != 3) || (bits != 24 && bits != 32) || (icon && bits != 32))
        return false;
    const bool bottomUp = height > 0;
    height = std::abs(height) / (icon ? 2 : 1);
    const std::size_t stride = (static_cast<std::size_t>(width) * bits / 8 + 3) & ~std::size_t{3};
    const std::size_t pixels = static_cast<std::size_t>(headerSize) + (compression == 3 ? 12 : 0);
    if (height <= 0 || height > 0x4000 || pixels > size || (size - pixels) / stride < static_cast<std::size_t>(height))
        return false;
    std::unique_ptr<Surface> surface = gdi_system::CreateSurface(width, height, icon);
    if (!surface)
        return false;
    for (int y = 0; y < height; ++y) {
        const unsigned char* row = data + pixels + stride * static_cast<std::size_t>(bottomUp ? height - 1 - y : y);
        std::uint32_t* out = surface->Row(y);
        for (int x = 0; x < width; ++x, row += bits / 8) {
            std::uint32_t alpha = icon ? row[3] : 0xFF;
            auto channel = [&](unsigned char value) { return icon ? (value * alpha + 127) / 255 : value; };
            out[x] = (icon ? alpha << 24 : 0) | channel(row[2]) << 16 | channel(row[1]) << 8 | channel(row[0]);
        }
    }
    gdi_system::MarkDirty(*surface);
    m_pSurface = std::move(surface);
    return true;
}

void CBitmap::DeleteObject()
{
    m_pSurface.reset();
}

bool CBitmap::IsEmpty() const
{
    return !m_pSurface;
}

int CBitmap::Width() const
{
    return m_pSurface ? m_pSurface->width : 0;
}

int CBitmap::Height() const
{
    return m_pSurface ? m_pSurface->height : 0;
}

COLORREF CBitmap::GetPixel(int x, int y) const
{
    if (!m_pSurface || x < 0 || y < 0 || x >= m_pSurface->width || y >= m_pSurface->height)
        return 0xFFFFFFFF;
    gdi_system::Flush(*m_pSurface);
    return ToColor(m_pSurface->Row(y)[x] & 0xFFFFFF);
}

std::uint32_t CBitmap::GetArgb(int x, int y) const
{
    if (!m_pSurface || x < 0 || y < 0 || x >= m_pSurface->width || y >= m_pSurface->height)
        return 0;
    gdi_system::Flush(*m_pSurface);
    std::uint32_t pixel = m_pSurface->Row(y)[x];
    if (!m_pSurface->alpha)
        return pixel | 0xFF000000;
    std::uint32_t alpha = pixel >> 24;
    if (alpha == 0)
        return 0;
    auto channel = [&](int shift) { return (((pixel >> shift) & 0xFF) * 255 + alpha / 2) / alpha; };
    return alpha << 24 | channel(16) << 16 | channel(8) << 8 | channel(0);
}

void CBitmap::SetPixel(int x, int y, COLORREF color)
{
    if (!m_pSurface || x < 0 || y < 0 || x >= m_pSurface->width || y >= m_pSurface->height)
        return;
    gdi_system::Flush(*m_pSurface);
    m_pSurface->Row(y)[x] = ToPixel(color);
    gdi_system::MarkDirty(*m_pSurface);
}

CBitmap::PixelData CBitmap::Pixels() const
{
    if (!m_pSurface)
        return {nullptr, 0, 0, 0};
    gdi_system::Flush(*m_pSurface);
    return {m_pSurface->data, m_pSurface->width, m_pSurface->height, m_pSurface->stride};
}

bool CBitmap::SavePng(const std::string& path) const
{
    return m_pSurface && gdi_system::SavePng(*m_pSurface, path);
}

int CBitmap::LiveCount()
{
    return g_nLiveBitmaps;
}

CDC::CDC(CBitmap* target, int originX, int originY, const RECT& clip)
    : m_pTarget(target), m_nOriginX(originX), m_nOriginY(originY), m_bClipped(true), m_clip(clip)
{
}

CBitmap* CDC::SelectObject(CBitmap* bitmap)
{
    CBitmap* previous = m_pTarget;
    m_pTarget = bitmap;
    return previous;
}

int CDC::SetStretchBltMode(int mode)
{
    return std::exchange(m_nStretchMode, mode);
}

int CDC::SetBkMode(int mode)
{
    return std::exchange(m_nBkMode, mode);
}

COLORREF CDC::SetTextColor(COLORREF color)
{
    return std::exchange(m_crText, color);
}

const CFont* CDC::SelectFont(const CFont* font)
{
    return std::exchange(m_pFont, font);
}

bool CDC::Visible(int x, int y, int width, int height, RECT& out) const
{
    if (!m_pTarget || m_pTarget->IsEmpty() || width <= 0 || height <= 0)
        return false;
    out = {x + m_nOriginX, y + m_nOriginY, x + m_nOriginX + width, y + m_nOriginY + height};
    RECT limit{0, 0, m_pTarget->Width(), m_pTarget->Height()};
    if (m_bClipped)
        limit = {std::max(limit.left, m_clip.left), std::max(limit.top, m_clip.top),
                 std::min(limit.right, m_clip.right), std::min(limit.bottom, m_clip.bottom)};
    out = {std::max(out.left, limit.left), std::max(out.top, limit.top), std::min(out.right, limit.right),
           std::min(out.bottom, limit.bottom)};
    return out.left < out.right && out.top < out.bottom;
}

bool CDC::CanCopy(int x, int y, int width, int height, const CDC* source, int sw, int sh, RECT& visible) const
{
    if (!source || !source->m_pTarget || source->m_pTarget->IsEmpty() || sw <= 0 || sh <= 0 ||
        !Visible(x, y, width, height, visible))
        return false;
    gdi_system::Flush(*source->m_pTarget->GetSurface());
    gdi_system::Flush(*m_pTarget->GetSurface());
    return true;
}

bool CDC::BitBlt(int x, int y, int width, int height, const CDC* source, int sx, int sy, std::uint32_t)
{
    return StretchBlt(x, y, width, height, source, sx, sy, width, height);
}

bool CDC::StretchBlt(int x, int y, int width, int height, const CDC* source, int sx, int sy, int sw, int sh,
                     std::uint32_t)
{
    RECT visible;
    if (!CanCopy(x, y, width, height, source, sw, sh, visible))
        return false;
    CBitmap::Surface& from = *source->m_pTarget->GetSurface();
    CBitmap::Surface& to = *m_pTarget->GetSurface();
    const int fromX = sx + source->m_nOriginX, fromY = sy + source->m_nOriginY;
    const int left = x + m_nOriginX, top = y + m_nOriginY;

    if (sw == width && sh == height) {
        // An exact copy, row by row; rows outside the source are left alone.
        for (int row = visible.top; row < visible.bottom; ++row) {
            int srcRow = fromY + row - top;
            if (srcRow < 0 || srcRow >= from.height)
                continue;
            int first = std::max(visible.left, left - fromX), last = std::min(visible.right, left - fromX + from.width);
            if (first < last)
                std::memmove(to.Row(row) + first, from.Row(srcRow) + fromX + first - left,
                             static_cast<std::size_t>(last - first) * 4);
        }
    } else if (m_nStretchMode == HALFTONE) {
        std::vector<Span> columns = AreaSpans(width, fromX, sw, from.width);
        std::vector<Span> rows = AreaSpans(height, fromY, sh, from.height);
        std::vector<std::uint32_t> line(static_cast<std::size_t>(visible.right - visible.left));
        for (int row = visible.top; row < visible.bottom; ++row) {
            const Span& rs = rows[static_cast<std::size_t>(row - top)];
            for (int col = visible.left; col < visible.right; ++col) {
                const Span& cs = columns[static_cast<std::size_t>(col - left)];
                double sum[3] = {0, 0, 0};
                for (std::size_t r = 0; r < rs.weights.size(); ++r) {
                    if (rs.weights[r] == 0)
                        continue;
                    const std::uint32_t* src = from.Row(rs.first + static_cast<int>(r));
                    for (std::size_t c = 0; c < cs.weights.size(); ++c) {
                        double w = rs.weights[r] * cs.weights[c];
                        if (w == 0)
                            continue;
                        std::uint32_t p = src[cs.first + static_cast<int>(c)];
                        sum[0] += w * (p >> 16 & 0xFF), sum[1] += w * (p >> 8 & 0xFF), sum[2] += w * (p & 0xFF);
                    }
                }
                auto channel = [](double v) { return static_cast<std::uint32_t>(std::lround(std::clamp(v, 0.0, 255.0))); };
                line[static_cast<std::size_t>(col - visible.left)] = channel(sum[0]) << 16 | channel(sum[1]) << 8 | channel(sum[2]);
            }
            std::memcpy(to.Row(row) + visible.left, line.data(), line.size() * 4);
        }
    } else {
        return TransparentBlt(x, y, width, height, source, sx, sy, sw, sh, 0xFFFFFFFF);
    }
    gdi_system::MarkDirty(to);
    return true;
}

bool CDC::TransparentBlt(int x, int y, int width, int height, const CDC* source, int sx, int sy, int sw, int sh,
                         COLORREF key)
{
    RECT visible;
    if (!CanCopy(x, y, width, height, source, sw, sh, visible))
        return false;
    CBitmap::Surface& from = *source->m_pTarget->GetSurface();
    CBitmap::Surface& to = *m_pTarget->GetSurface();
    const std::uint32_t keyPixel = key > 0xFFFFFF ? 0xFFFFFFFF : ToPixel(key);
    const int fromX = sx + source->m_nOriginX, fromY = sy + source->m_nOriginY;
    const int left = x + m_nOriginX, top = y + m_nOriginY;
    for (int row = visible.top; row < visible.bottom; ++row) {
        int srcRow = fromY + static_cast<int>(static_cast<long long>(row - top) * sh / height);
        if (srcRow < 0 || srcRow >= from.height)
            continue;
        const std::uint32_t* src = from.Row(srcRow);
        std::uint32_t* dst = to.Row(row);
        for (int col = visible.left; col < visible.right; ++col) {
            int srcCol = fromX + static_cast<int>(static_cast<long long>(col - left) * sw / width);
            if (srcCol < 0 || srcCol >= from.width)
                continue;
            std::uint32_t pixel = src[srcCol] & 0xFFFFFF;
            if (pixel != keyPixel)
                dst[col] = pixel;
        }
    }
    gdi_system::MarkDirty(to);
    return true;
}

bool CDC::DrawIcon(int x, int y, const CBitmap& icon, int size)
{
    RECT visible;
    if (icon.IsEmpty() || !Visible(x, y, size, size, visible))
        return false;
    gdi_system::Flush(*m_pTarget->GetSurface());
    gdi_system::DrawIcon(*m_pTarget->GetSurface(), visible, x + m_nOriginX, y + m_nOriginY, *icon.GetSurface(), size);
    gdi_system::MarkDirty(*m_pTarget->GetSurface());
    return true;
}

void CDC::FillSolidRect(const RECT& rect, COLORREF color)
{
    RECT visible;
    if (!Visible(rect.left, rect.top, rect.Width(), rect.Height(), visible))
        return;
    CBitmap::Surface& to = *m_pTarget->GetSurface();
    gdi_system::Flush(to);
    for (int row = visible.top; row < visible.bottom; ++row)
        std::fill(to.Row(row) + visible.left, to.Row(row) + visible.right, ToPixel(color));
    gdi_system::MarkDirty(to);
}

COLORREF CDC::GetPixel(int x, int y) const
{
    return m_pTarget ? m_pTarget->GetPixel(x + m_nOriginX, y + m_nOriginY) : 0xFFFFFFFF;
}

std::pair<int, int> CDC::GetTextExtent(const std::string& text) const
{
    return gdi_system::MeasureText(m_pFont, text);
}

int CDC::DrawText(const std::string& text, const RECT& rect, unsigned format)
{
    RECT visible;
    if (!Visible(rect.left, rect.top, rect.Width(), rect.Height(), visible))
        return 0;
    const RECT inSurface{rect.left + m_nOriginX, rect.top + m_nOriginY, rect.right + m_nOriginX, rect.bottom + m_nOriginY};
    gdi_system::Flush(*m_pTarget->GetSurface());
    const int height = gdi_system::DrawText(*m_pTarget->GetSurface(), visible, inSurface, text, format, m_crText, m_pFont);
    gdi_system::MarkDirty(*m_pTarget->GetSurface());
    return height;
}
