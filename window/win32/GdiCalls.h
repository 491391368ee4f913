#pragma once
// The GDI calls the Windows surfaces make, in the program's plain types: this header stands
// between <windows.h> and the window headers, whose names (RECT, COLORREF, RGB, the DT_ flags)
// Windows' header defines otherwise. Only GdiCalls.cpp includes <windows.h>.

#include <cstdint>
#include <string>
#include <utility>

namespace gdi_calls {

struct Box {
    int left, top, right, bottom;
};

// A top-down 32-bit DIB section: its handle and its pixels; a null handle when it cannot be made.
struct Dib {
    void* handle = nullptr;
    unsigned char* bits = nullptr;
};
Dib CreateDib(int width, int height);
void DeleteDib(void* handle);
// Waits until GDI has finished drawing into DIB sections.
void Flush();

// The font: a list of faces, separated by commas, of which the first the machine has is drawn
// in (else the first, for which GDI finds a like one), and its height in pixels. Texts are UTF-8.
struct Font {
    std::string faces;
    int pixelSize;
};
std::pair<int, int> MeasureText(const Font& font, const std::string& text);
// DrawTextW into the DIB within `clip`, in the colour (0x00BBGGRR) with a transparent background;
// returns the text's height.
int DrawTextLine(void* dib, const Box& clip, const Box& rect, const std::string& text, unsigned format,
             std::uint32_t color, const Font& font);
// AlphaBlend of the whole premultiplied source onto the square at (x, y), within `clip`.
void AlphaBlend(void* dib, const Box& clip, int x, int y, int size, void* source, int width, int height);

}  // namespace gdi_calls
