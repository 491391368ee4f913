#pragma once
// Dialog templates: a dialog's style, size and font and its controls, in dialog units.

#include <cstdint>
#include <string>
#include <vector>

#include "window/Gdi.h"

struct DialogItemTemplate {
    int id;
    std::string className;  // "Button", "Static", "msctls_progress32"
    std::uint32_t style;
    int x, y, cx, cy;
    std::string text;
};

struct DialogTemplate {
    std::uint32_t style;
    std::uint32_t exStyle;
    int cx, cy;
    std::string caption;
    std::string fontFace;
    int pointSize;
    int weight;
    bool italic;
    std::vector<DialogItemTemplate> items;
};

// Dialog units to pixels for the template font's base units (6 x 12 pixels for a 9-point Song
// face at 96 dpi): a horizontal unit is a quarter of the base width, a vertical one an eighth of
// the base height, rounded to the nearest pixel.
inline constexpr int kDialogBaseUnitX = 6;
inline constexpr int kDialogBaseUnitY = 12;
RECT MapDialogRect(int x, int y, int cx, int cy);
