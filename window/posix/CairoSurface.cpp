// Surfaces as cairo image surfaces; PNG files through cairo, text through pango.

#include <cairo.h>
#include <cstring>
#include <pango/pangocairo.h>

#include "window/GdiSurface.h"

struct SurfaceNative {
    cairo_surface_t* surface;
};

namespace {

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

std::unique_ptr<CBitmap::Surface> Wrap(cairo_surface_t* surface)
{
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return nullptr;
    }
    return std::make_unique<CBitmap::Surface>(new SurfaceNative{surface}, cairo_image_surface_get_data(surface),
                                              cairo_image_surface_get_width(surface),
                                              cairo_image_surface_get_height(surface),
                                              cairo_image_surface_get_stride(surface),
                                              cairo_image_surface_get_format(surface) == CAIRO_FORMAT_ARGB32);
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

// A cairo context on the surface, clipped to `visible`.
cairo_t* ClippedContext(CBitmap::Surface& to, const RECT& visible)
{
    cairo_t* cr = cairo_create(to.native->surface);
    cairo_rectangle(cr, visible.left, visible.top, visible.right - visible.left, visible.bottom - visible.top);
    cairo_clip(cr);
    return cr;
}

}  // namespace

namespace gdi_system {

std::unique_ptr<CBitmap::Surface> CreateSurface(int width, int height, bool alpha)
{
    return Wrap(cairo_image_surface_create(alpha ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24, width, height));
}

std::unique_ptr<CBitmap::Surface> SurfaceFromPng(const unsigned char* data, std::size_t size)
{
    PngSource source{data, size};
    std::unique_ptr<CBitmap::Surface> png = Wrap(cairo_image_surface_create_from_png_stream(ReadPng, &source));
    if (!png || png->alpha)
        return png;  // an icon keeps its alpha channel
    // Kept as opaque xRGB, as the program's bitmaps are 24 bits per pixel.
    std::unique_ptr<CBitmap::Surface> opaque = CreateSurface(png->width, png->height, false);
    if (!opaque)
        return nullptr;
    cairo_t* cr = cairo_create(opaque->native->surface);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, png->native->surface, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(opaque->native->surface);
    return opaque;
}

bool SavePng(const CBitmap::Surface& surface, const std::string& path)
{
    return cairo_surface_write_to_png(surface.native->surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
}

void ReleaseNative(SurfaceNative* native)
{
    cairo_surface_destroy(native->surface);
    delete native;
}

void Flush(const CBitmap::Surface& surface)
{
    cairo_surface_flush(surface.native->surface);
}

void MarkDirty(const CBitmap::Surface& surface)
{
    cairo_surface_mark_dirty(surface.native->surface);
}

std::pair<int, int> MeasureText(const CFont* font, const std::string& text)
{
    cairo_surface_t* scratch = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
    cairo_t* cr = cairo_create(scratch);
    PangoLayout* layout = CreateLayout(cr, font, text.c_str());
    int width = 0, height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    g_object_unref(layout);
    cairo_destroy(cr);
    cairo_surface_destroy(scratch);
    return {width, height};
}

int DrawText(CBitmap::Surface& to, const RECT& visible, const RECT& rect, const std::string& text, unsigned format,
             COLORREF color, const CFont* font)
{
    // '&' marks the next character; the markup parser takes "&amp;&amp;" as one '&'.
    char* escaped = g_markup_escape_text(text.data(), static_cast<gssize>(text.size()));
    PangoAttrList* attributes = nullptr;
    char* plain = nullptr;
    bool parsed = pango_parse_markup(escaped, -1, '&', &attributes, &plain, nullptr, nullptr);
    g_free(escaped);

    cairo_t* cr = ClippedContext(to, visible);
    PangoLayout* layout = CreateLayout(cr, font, parsed ? plain : text.c_str());
    if (parsed)
        pango_layout_set_attributes(layout, attributes);

    int textWidth = 0, textHeight = 0;
    pango_layout_get_pixel_size(layout, &textWidth, &textHeight);
    int x = rect.left, y = rect.top;
    if (format & DT_CENTER)
        x += (rect.Width() - textWidth) / 2;
    if ((format & DT_VCENTER) && (format & DT_SINGLELINE))
        y += (rect.Height() - textHeight) / 2;
    cairo_set_source_rgb(cr, (color & 0xFF) / 255.0, (color >> 8 & 0xFF) / 255.0, (color >> 16 & 0xFF) / 255.0);
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, layout);

    g_object_unref(layout);
    cairo_destroy(cr);
    if (attributes)
        pango_attr_list_unref(attributes);
    g_free(plain);
    return textHeight;
}

void DrawIcon(CBitmap::Surface& to, const RECT& visible, int x, int y, const CBitmap::Surface& icon, int size)
{
    cairo_t* cr = ClippedContext(to, visible);
    cairo_translate(cr, x, y);
    cairo_scale(cr, static_cast<double>(size) / icon.width, static_cast<double>(size) / icon.height);
    cairo_set_source_surface(cr, icon.native->surface, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
}

}  // namespace gdi_system
