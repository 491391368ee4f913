#include "window/Gdi.h"

#include <algorithm>
#include <atomic>
#include <cairo.h>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <pango/pangocairo.h>
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

// Reading PNG data from memory.
struct PngSource {
    const unsigned char* data;
    std::size_t size;
    std::size_t at = 0;
};

cairo_status_t ReadPng(void* closure, unsigned char* out, unsigned int length)
{
    auto* source = static_cast<PngSource*>(closure);
    if (source->size - source->at < length)
        return CAIRO_STATUS_READ_ERROR;
    std::memcpy(out, source->data + source->at, length);
    source->at += length;
    return CAIRO_STATUS_SUCCESS;
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

// A single-paragraph layout of the text in the font (the default font when none).
PangoLayout* CreateLayout(cairo_t* cr, const CFont* selected, const char* text)
{
    PangoLayout* layout = pango_cairo_create_layout(cr);
    pango_layout_set_single_paragraph_mode(layout, TRUE);
    pango_layout_set_width(layout, -1);
    pango_layout_set_text(layout, text, -1);
    const CFont font = selected ? *selected : CFont{};
    PangoFontDescription* description = pango_font_description_from_string(font.family.c_str());
    pango_font_description_set_absolute_size(description, font.pixelSize * PANGO_SCALE);
    pango_layout_set_font_description(layout, description);
    pango_font_description_free(description);
    return layout;
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

// The pixels of a bitmap, with direct access for copies.
struct CBitmap::Surface {
    cairo_surface_t* surface = nullptr;
    int width = 0;
    int height = 0;

    explicit Surface(cairo_surface_t* s) : surface(s)
    {
        width = cairo_image_surface_get_width(s);
        height = cairo_image_surface_get_height(s);
        ++g_nLiveBitmaps;
    }
    ~Surface()
    {
        cairo_surface_destroy(surface);
        --g_nLiveBitmaps;
    }
    std::uint32_t* Row(int y) const
    {
        auto* data = cairo_image_surface_get_data(surface);
        return reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * cairo_image_surface_get_stride(surface));
    }
};

CBitmap::CBitmap() = default;
CBitmap::~CBitmap() = default;

bool CBitmap::CreateBitmap(int width, int height)
{
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return false;
    }
    m_pSurface = std::make_unique<Surface>(surface);
    return true;
}

bool CBitmap::LoadPng(const unsigned char* data, std::size_t size)
{
    PngSource source{data, size};
    cairo_surface_t* png = cairo_image_surface_create_from_png_stream(ReadPng, &source);
    if (cairo_surface_status(png) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(png);
        return false;
    }
    if (cairo_image_surface_get_format(png) == CAIRO_FORMAT_ARGB32) {
        m_pSurface = std::make_unique<Surface>(png);  // an icon: its alpha channel is kept
        return true;
    }
    // Kept as opaque xRGB, as the program's bitmaps are 24 bits per pixel.
    int width = cairo_image_surface_get_width(png), height = cairo_image_surface_get_height(png);
    if (!CreateBitmap(width, height)) {
        cairo_surface_destroy(png);
        return false;
    }
    cairo_t* cr = cairo_create(m_pSurface->surface);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, png, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_destroy(png);
    cairo_surface_flush(m_pSurface->surface);
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
    cairo_surface_flush(m_pSurface->surface);
    return ToColor(m_pSurface->Row(y)[x] & 0xFFFFFF);
}

std::uint32_t CBitmap::GetArgb(int x, int y) const
{
    if (!m_pSurface || x < 0 || y < 0 || x >= m_pSurface->width || y >= m_pSurface->height)
        return 0;
    cairo_surface_flush(m_pSurface->surface);
    std::uint32_t pixel = m_pSurface->Row(y)[x];
    if (cairo_image_surface_get_format(m_pSurface->surface) != CAIRO_FORMAT_ARGB32)
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
    cairo_surface_flush(m_pSurface->surface);
    m_pSurface->Row(y)[x] = ToPixel(color);
    cairo_surface_mark_dirty(m_pSurface->surface);
}

CBitmap::PixelData CBitmap::Pixels() const
{
    if (!m_pSurface)
        return {nullptr, 0, 0, 0};
    cairo_surface_flush(m_pSurface->surface);
    return {cairo_image_surface_get_data(m_pSurface->surface), m_pSurface->width, m_pSurface->height,
            cairo_image_surface_get_stride(m_pSurface->surface)};
}

bool CBitmap::SavePng(const std::string& path) const
{
    return m_pSurface && cairo_surface_write_to_png(m_pSurface->surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
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
    cairo_surface_flush(source->m_pTarget->GetSurface()->surface);
    cairo_surface_flush(m_pTarget->GetSurface()->surface);
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
    cairo_surface_mark_dirty(to.surface);
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
    cairo_surface_mark_dirty(to.surface);
    return true;
}

bool CDC::DrawIcon(int x, int y, const CBitmap& icon, int size)
{
    RECT visible;
    if (icon.IsEmpty() || !Visible(x, y, size, size, visible))
        return false;
    cairo_t* cr = cairo_create(m_pTarget->GetSurface()->surface);
    cairo_rectangle(cr, visible.left, visible.top, visible.right - visible.left, visible.bottom - visible.top);
    cairo_clip(cr);
    cairo_translate(cr, x + m_nOriginX, y + m_nOriginY);
    cairo_scale(cr, static_cast<double>(size) / icon.Width(), static_cast<double>(size) / icon.Height());
    cairo_set_source_surface(cr, icon.GetSurface()->surface, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    return true;
}

void CDC::FillSolidRect(const RECT& rect, COLORREF color)
{
    RECT visible;
    if (!Visible(rect.left, rect.top, rect.Width(), rect.Height(), visible))
        return;
    CBitmap::Surface& to = *m_pTarget->GetSurface();
    cairo_surface_flush(to.surface);
    for (int row = visible.top; row < visible.bottom; ++row)
        std::fill(to.Row(row) + visible.left, to.Row(row) + visible.right, ToPixel(color));
    cairo_surface_mark_dirty(to.surface);
}

COLORREF CDC::GetPixel(int x, int y) const
{
    return m_pTarget ? m_pTarget->GetPixel(x + m_nOriginX, y + m_nOriginY) : 0xFFFFFFFF;
}

std::pair<int, int> CDC::GetTextExtent(const std::string& text) const
{
    cairo_surface_t* scratch = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
    cairo_t* cr = cairo_create(scratch);
    PangoLayout* layout = CreateLayout(cr, m_pFont, text.c_str());
    int width = 0, height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    g_object_unref(layout);
    cairo_destroy(cr);
    cairo_surface_destroy(scratch);
    return {width, height};
}

int CDC::DrawText(const std::string& text, const RECT& rect, unsigned format)
{
    RECT visible;
    if (!Visible(rect.left, rect.top, rect.Width(), rect.Height(), visible))
        return 0;
    // '&' marks the next character; the markup parser takes "&amp;&amp;" as one '&'.
    char* escaped = g_markup_escape_text(text.data(), static_cast<gssize>(text.size()));
    PangoAttrList* attributes = nullptr;
    char* plain = nullptr;
    bool parsed = pango_parse_markup(escaped, -1, '&', &attributes, &plain, nullptr, nullptr);
    g_free(escaped);

    cairo_t* cr = cairo_create(m_pTarget->GetSurface()->surface);
    cairo_rectangle(cr, visible.left, visible.top, visible.right - visible.left, visible.bottom - visible.top);
    cairo_clip(cr);
    PangoLayout* layout = CreateLayout(cr, m_pFont, parsed ? plain : text.c_str());
    if (parsed)
        pango_layout_set_attributes(layout, attributes);

    int textWidth = 0, textHeight = 0;
    pango_layout_get_pixel_size(layout, &textWidth, &textHeight);
    int x = rect.left + m_nOriginX, y = rect.top + m_nOriginY;
    if (format & DT_CENTER)
        x += (rect.Width() - textWidth) / 2;
    if ((format & DT_VCENTER) && (format & DT_SINGLELINE))
        y += (rect.Height() - textHeight) / 2;
    cairo_set_source_rgb(cr, (m_crText & 0xFF) / 255.0, (m_crText >> 8 & 0xFF) / 255.0, (m_crText >> 16 & 0xFF) / 255.0);
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, layout);

    g_object_unref(layout);
    cairo_destroy(cr);
    if (attributes)
        pango_attr_list_unref(attributes);
    g_free(plain);
    return textHeight;
}
