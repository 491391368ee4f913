// Draws the program's artwork into res/: the progress bar's fill (129) and track (130), the
// download panel (131), the cancel button's four frames (132), the splash (133) and the icon
// (128). Run it after changing a picture and commit the PNG files it writes:
//
//   build/tools/make_artwork res/
//
// Text is set in "AR PL UMing CN" (Debian's fonts-arphic-uming) and "DejaVu Sans".

#include <cairo.h>
#include <cmath>
#include <cstdio>
#include <pango/pangocairo.h>
#include <string>
#include <vector>

namespace {

struct Colour {
    double r, g, b;
};

Colour Hex(unsigned rgb)
{
    return {(rgb >> 16 & 0xFF) / 255.0, (rgb >> 8 & 0xFF) / 255.0, (rgb & 0xFF) / 255.0};
}

Colour Mix(Colour a, Colour b, double t)
{
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

void Set(cairo_t* cr, Colour c, double alpha = 1.0)
{
    cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha);
}

// Paints one row of `width` pixels at row y.
void Row(cairo_t* cr, int y, int width, Colour c)
{
    Set(cr, c);
    cairo_rectangle(cr, 0, y, width, 1);
    cairo_fill(cr);
}

// Lays out text in the font given; returns the layout (caller unrefs).
PangoLayout* Text(cairo_t* cr, const char* text, const char* font)
{
    PangoLayout* layout = pango_cairo_create_layout(cr);
    // Unhinted metrics: text keeps its shape when it is scaled more in one direction.
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    pango_cairo_context_set_font_options(pango_layout_get_context(layout), options);
    cairo_font_options_destroy(options);
    pango_layout_context_changed(layout);
    PangoFontDescription* description = pango_font_description_from_string(font);
    pango_layout_set_font_description(layout, description);
    pango_font_description_free(description);
    pango_layout_set_text(layout, text, -1);
    return layout;
}

// Draws text with its ink box's top-left at (x, y), filled and optionally outlined.
void DrawText(cairo_t* cr, const char* text, const char* font, double x, double y, Colour fill, const Colour* outline,
              double outlineWidth = 2.0)
{
    PangoLayout* layout = Text(cr, text, font);
    PangoRectangle ink;
    pango_layout_get_pixel_extents(layout, &ink, nullptr);
    cairo_move_to(cr, x - ink.x, y - ink.y);
    pango_cairo_layout_path(cr, layout);
    if (outline) {
        Set(cr, *outline);
        cairo_set_line_width(cr, outlineWidth);
        cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
        cairo_stroke_preserve(cr);
    }
    Set(cr, fill);
    cairo_fill(cr);
    g_object_unref(layout);
}

// The ink width and height of a text.
std::pair<int, int> InkSize(cairo_t* cr, const char* text, const char* font)
{
    PangoLayout* layout = Text(cr, text, font);
    PangoRectangle ink;
    pango_layout_get_pixel_extents(layout, &ink, nullptr);
    g_object_unref(layout);
    return {ink.width, ink.height};
}

bool Save(cairo_surface_t* surface, const std::string& path)
{
    cairo_surface_flush(surface);
    bool ok = cairo_surface_write_to_png(surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", path.c_str());
    cairo_surface_destroy(surface);
    return ok;
}

cairo_surface_t* Opaque(int width, int height)
{
    return cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
}

// 129: the fill, one colour per row.
bool ProgressFill(const std::string& dir)
{
    const unsigned rows[12] = {0xC0610B, 0xFCB16B, 0xB45708, 0xAF5207, 0xAA4D05, 0xA44904,
                               0xA04503, 0x9D4302, 0x9C4202, 0x9E4704, 0xA65107, 0xAD590B};
    cairo_surface_t* surface = Opaque(40, 12);
    cairo_t* cr = cairo_create(surface);
    for (int y = 0; y < 12; ++y)
        Row(cr, y, 40, Hex(rows[y]));
    cairo_destroy(cr);
    return Save(surface, dir + "/bitmap129.png");
}

// 130: the track, a white outer frame, an orange inner frame, white inside.
bool ProgressTrack(const std::string& dir)
{
    cairo_surface_t* surface = Opaque(100, 14);
    cairo_t* cr = cairo_create(surface);
    Set(cr, Hex(0xFFFFFF));
    cairo_paint(cr);
    Set(cr, Hex(0xAA4D05));
    cairo_rectangle(cr, 1, 1, 98, 1);
    cairo_rectangle(cr, 1, 12, 98, 1);
    cairo_rectangle(cr, 1, 2, 1, 10);
    cairo_rectangle(cr, 98, 2, 1, 10);
    cairo_fill(cr);
    cairo_destroy(cr);
    return Save(surface, dir + "/bitmap130.png");
}

// The panel's vertical gradient: #B05E0C at the top, darkest #9C4302 a third of the way down,
// #CA6A0E at the bottom.
Colour PanelColour(int y, int height)
{
    const double third = (height - 1) / 3.0;
    if (y <= third)
        return Mix(Hex(0xB05E0C), Hex(0x9C4302), y / third);
    return Mix(Hex(0x9C4302), Hex(0xCA6A0E), (y - third) / (height - 1 - third));
}

// The word UPDATE, white outlined capitals fitted into x 15-80, y 9-24: the outline of the text
// is taken at its natural size, then stretched onto the box.
void UpdateWord(cairo_t* cr)
{
    const double left = 15.5, top = 9.5, right = 79.5, bottom = 23.5;
    PangoLayout* layout = Text(cr, "UPDATE", "DejaVu Sans Bold 40px");
    cairo_new_path(cr);
    cairo_move_to(cr, 0, 0);
    pango_cairo_layout_path(cr, layout);
    g_object_unref(layout);
    double x1, y1, x2, y2;
    cairo_path_extents(cr, &x1, &y1, &x2, &y2);
    cairo_path_t* path = cairo_copy_path(cr);
    cairo_new_path(cr);
    cairo_save(cr);
    cairo_translate(cr, left, top);
    cairo_scale(cr, (right - left) / (x2 - x1), (bottom - top) / (y2 - y1));
    cairo_translate(cr, -x1, -y1);
    cairo_append_path(cr, path);
    cairo_restore(cr);
    cairo_path_destroy(path);
    Set(cr, Hex(0x6B2A00));
    cairo_set_line_width(cr, 2.0);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_stroke_preserve(cr);
    Set(cr, Hex(0xFFFFFF));
    cairo_fill(cr);
}

// 131: the download panel.
bool Panel(const std::string& dir)
{
    cairo_surface_t* surface = Opaque(368, 91);
    cairo_t* cr = cairo_create(surface);
    for (int y = 0; y < 91; ++y)
        Row(cr, y, 368, PanelColour(y, 91));
    UpdateWord(cr);
    cairo_destroy(cr);
    return Save(surface, dir + "/bitmap131.png");
}

void RoundedRect(cairo_t* cr, double x, double y, double w, double h, double r)
{
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
    cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
    cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

// 132: four frames of the cancel button. Each covers its whole rectangle: the corners show the
// panel's colours at the button's place (rows 65-85 of the window).
bool CancelButton(const std::string& dir)
{
    struct Frame {
        unsigned top, bottom, caption;
    } frames[4] = {
        {0xFFC98E, 0xC47D1C, 0xFFF04A},  // normal
        {0xFFB770, 0xB05E0C, 0xFFF04A},  // hover
        {0xFFA85B, 0xA14905, 0xFFF04A},  // pressed
        {0xADADAD, 0x535353, 0xDCDCDC},  // disabled
    };
    cairo_surface_t* surface = Opaque(276, 21);
    cairo_t* cr = cairo_create(surface);
    for (int y = 0; y < 21; ++y)
        Row(cr, y, 276, PanelColour(65 + y, 91));
    const char* font = "AR PL UMing CN Bold 13px";
    for (int i = 0; i < 4; ++i) {
        const double x = i * 69.0;
        cairo_pattern_t* gradient = cairo_pattern_create_linear(0, 0.5, 0, 20.5);
        Colour top = Hex(frames[i].top), bottom = Hex(frames[i].bottom);
        cairo_pattern_add_color_stop_rgb(gradient, 0, top.r, top.g, top.b);
        cairo_pattern_add_color_stop_rgb(gradient, 0.6, bottom.r, bottom.g, bottom.b);
        cairo_pattern_add_color_stop_rgb(gradient, 1, Mix(bottom, top, 0.35).r, Mix(bottom, top, 0.35).g,
                                         Mix(bottom, top, 0.35).b);
        RoundedRect(cr, x + 1.5, 0.5, 66, 20, 10);
        cairo_set_source(cr, gradient);
        cairo_fill_preserve(cr);
        cairo_pattern_destroy(gradient);
        Set(cr, Mix(bottom, Hex(0x000000), 0.25));
        cairo_set_line_width(cr, 1.0);
        cairo_stroke(cr);
        // The gloss: a light band over the upper half.
        RoundedRect(cr, x + 5, 2, 59, 8, 4);
        Set(cr, Hex(0xFFFFFF), 0.28);
        cairo_fill(cr);
        auto [width, height] = InkSize(cr, "取消", font);
        const Colour shadow = Mix(bottom, Hex(0x000000), 0.45);
        DrawText(cr, "取消", font, x + (69 - width) / 2.0 + 1, (21 - height) / 2.0 + 1, shadow, nullptr);
        DrawText(cr, "取消", font, x + (69 - width) / 2.0, (21 - height) / 2.0, Hex(frames[i].caption), nullptr);
    }
    cairo_destroy(cr);
    return Save(surface, dir + "/bitmap132.png");
}

// 133: the splash: an evening sky over hills, UPDATE, and a banner with the loading text.
bool Splash(const std::string& dir)
{
    cairo_surface_t* surface = Opaque(368, 91);
    cairo_t* cr = cairo_create(surface);
    cairo_pattern_t* sky = cairo_pattern_create_linear(0, 0, 0, 91);
    cairo_pattern_add_color_stop_rgb(sky, 0, 0.16, 0.22, 0.52);
    cairo_pattern_add_color_stop_rgb(sky, 0.55, 0.86, 0.45, 0.22);
    cairo_pattern_add_color_stop_rgb(sky, 1, 0.98, 0.78, 0.36);
    cairo_set_source(cr, sky);
    cairo_paint(cr);
    cairo_pattern_destroy(sky);
    // A sun and two ranges of hills.
    Set(cr, Hex(0xFFE9A8), 0.9);
    cairo_arc(cr, 300, 58, 16, 0, 2 * M_PI);
    cairo_fill(cr);
    for (auto [base, colour] : {std::pair{68.0, 0x7A3B1E}, std::pair{78.0, 0x4A2412}}) {
        cairo_move_to(cr, 0, 91);
        for (int x = 0; x <= 368; x += 4)
            cairo_line_to(cr, x, base - 9 * std::sin(x / 37.0 + base) - 5 * std::sin(x / 13.0));
        cairo_line_to(cr, 368, 91);
        cairo_close_path(cr);
        Set(cr, Hex(static_cast<unsigned>(colour)));
        cairo_fill(cr);
    }
    UpdateWord(cr);
    // The banner across the middle.
    Set(cr, Hex(0x2A0E02), 0.62);
    cairo_rectangle(cr, 0, 33, 368, 30);
    cairo_fill(cr);
    Set(cr, Hex(0xFFD27A), 0.9);
    cairo_rectangle(cr, 0, 33, 368, 1);
    cairo_rectangle(cr, 0, 62, 368, 1);
    cairo_fill(cr);
    const char* font = "AR PL UMing CN Bold 22px";
    auto [width, height] = InkSize(cr, "游戏正在加载中...", font);
    const Colour outline = Hex(0x5A1E00);
    DrawText(cr, "游戏正在加载中...", font, (368 - width) / 2.0, 48 - height / 2.0, Hex(0xFFF1B8), &outline, 3.0);
    cairo_destroy(cr);
    return Save(surface, dir + "/bitmap133.png");
}

// 128: the icon, an orange rounded square with a white arrow into a tray.
bool Icon(const std::string& dir)
{
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 48, 48);
    cairo_t* cr = cairo_create(surface);
    cairo_pattern_t* body = cairo_pattern_create_linear(0, 2, 0, 46);
    cairo_pattern_add_color_stop_rgb(body, 0, 1.0, 0.72, 0.44);
    cairo_pattern_add_color_stop_rgb(body, 1, 0.69, 0.27, 0.02);
    RoundedRect(cr, 2, 2, 44, 44, 9);
    cairo_set_source(cr, body);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(body);
    Set(cr, Hex(0x6B2A00));
    cairo_set_line_width(cr, 1.5);
    cairo_stroke(cr);
    Set(cr, Hex(0xFFFFFF));
    cairo_move_to(cr, 20, 9);
    cairo_line_to(cr, 28, 9);
    cairo_line_to(cr, 28, 22);
    cairo_line_to(cr, 35, 22);
    cairo_line_to(cr, 24, 33);
    cairo_line_to(cr, 13, 22);
    cairo_line_to(cr, 20, 22);
    cairo_close_path(cr);
    cairo_fill(cr);
    cairo_set_line_width(cr, 3.5);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_move_to(cr, 11, 33);
    cairo_line_to(cr, 11, 39);
    cairo_line_to(cr, 37, 39);
    cairo_line_to(cr, 37, 33);
    cairo_stroke(cr);
    cairo_destroy(cr);
    return Save(surface, dir + "/icon128.png");
}

}  // namespace

int main(int argc, char** argv)
{
    std::string dir = argc > 1 ? argv[1] : "res";
    bool ok = ProgressFill(dir) && ProgressTrack(dir) && Panel(dir) && CancelButton(dir) && Splash(dir) && Icon(dir);
    return ok ? 0 : 1;
}
