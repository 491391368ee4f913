#include "window/win32/GdiCalls.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "platform/win32/Wide.h"

namespace gdi_calls {
namespace {

struct FaceSearch {
    std::wstring face;
    bool found = false;
};

// Only the face itself counts, not one the system would put in its place.
int CALLBACK NoteFace(const LOGFONTW* font, const TEXTMETRICW*, DWORD, LPARAM search)
{
    auto* wanted = reinterpret_cast<FaceSearch*>(search);
    wanted->found = wanted->found || CompareStringOrdinal(font->lfFaceName, -1, wanted->face.c_str(), -1, TRUE) == CSTR_EQUAL;
    return !wanted->found;
}

bool HasFace(const std::wstring& face)
{
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    face.copy(wanted.lfFaceName, LF_FACESIZE - 1);
    FaceSearch search{face};
    HDC dc = GetDC(nullptr);
    EnumFontFamiliesExW(dc, &wanted, NoteFace, reinterpret_cast<LPARAM>(&search), 0);
    ReleaseDC(nullptr, dc);
    return search.found;
}

// The first face of the list the machine has, looked up once per list.
std::wstring ChooseFace(const std::string& faces)
{
    static std::mutex mutex;
    static std::map<std::string, std::wstring> chosen;
    std::lock_guard lock(mutex);
    if (auto it = chosen.find(faces); it != chosen.end())
        return it->second;
    std::wstring first;
    for (std::size_t at = 0; at <= faces.size();) {
        std::size_t end = std::min(faces.find(',', at), faces.size());
        std::string face = faces.substr(at, end - at);
        face.erase(0, face.find_first_not_of(' '));
        face.erase(face.find_last_not_of(' ') + 1);
        const std::wstring wide = Utf8ToWide(face);
        if (first.empty())
            first = wide;
        if (!wide.empty() && HasFace(wide))
            return chosen[faces] = wide;
        at = end + 1;
    }
    return chosen[faces] = first;
}

// A memory DC with the DIB selected, clipped when asked, released when it goes.
class DibDC {
public:
    DibDC(void* dib, const Box* clip)
        : m_dc(CreateCompatibleDC(nullptr)), m_previous(SelectObject(m_dc, static_cast<HBITMAP>(dib)))
    {
        if (clip)
            IntersectClipRect(m_dc, clip->left, clip->top, clip->right, clip->bottom);
    }
    ~DibDC()
    {
        SelectObject(m_dc, m_previous);
        DeleteDC(m_dc);
    }
    DibDC(const DibDC&) = delete;
    DibDC& operator=(const DibDC&) = delete;
    HDC Get() const { return m_dc; }

private:
    HDC m_dc;
    HGDIOBJ m_previous;
};

// The font selected into a DC while the object lives. Text is drawn without smoothing, as the
// program's 9-point Song face is on the players' machines.
class FontSelection {
public:
    FontSelection(HDC dc, const Font& font)
        : m_dc(dc),
          m_font(CreateFontW(-font.pixelSize, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY, DEFAULT_PITCH,
                             ChooseFace(font.faces).substr(0, LF_FACESIZE - 1).c_str())),
          m_previous(SelectObject(dc, m_font))
    {
    }
    ~FontSelection()
    {
        SelectObject(m_dc, m_previous);
        DeleteObject(m_font);
    }
    FontSelection(const FontSelection&) = delete;
    FontSelection& operator=(const FontSelection&) = delete;

private:
    HDC m_dc;
    HFONT m_font;
    HGDIOBJ m_previous;
};

}  // namespace

Dib CreateDib(int width, int height)
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    return {bitmap, static_cast<unsigned char*>(bits)};
}

void DeleteDib(void* handle)
{
    DeleteObject(static_cast<HBITMAP>(handle));
}

void Flush()
{
    GdiFlush();
}

std::pair<int, int> MeasureText(const Font& font, const std::string& utf8)
{
    const std::wstring text = Utf8ToWide(utf8);
    HDC dc = CreateCompatibleDC(nullptr);
    SIZE size{};
    {
        FontSelection selection(dc, font);
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    }
    DeleteDC(dc);
    return {size.cx, size.cy};
}

int DrawTextLine(void* dib, const Box& clip, const Box& rect, const std::string& utf8, unsigned format,
             std::uint32_t color, const Font& font)
{
    const std::wstring text = Utf8ToWide(utf8);
    DibDC dc(dib, &clip);
    FontSelection selection(dc.Get(), font);
    SetBkMode(dc.Get(), TRANSPARENT);
    SetTextColor(dc.Get(), color);
    RECT area{rect.left, rect.top, rect.right, rect.bottom};
    const int height = DrawTextW(dc.Get(), text.c_str(), static_cast<int>(text.size()), &area, format | DT_NOCLIP);
    GdiFlush();
    return height;
}

void AlphaBlend(void* dib, const Box& clip, int x, int y, int size, void* source, int width, int height)
{
    DibDC target(dib, &clip);
    DibDC from(source, nullptr);
    ::AlphaBlend(target.Get(), x, y, size, size, from.Get(), 0, 0, width, height, BLENDFUNCTION{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA});
    GdiFlush();
}

}  // namespace gdi_calls
