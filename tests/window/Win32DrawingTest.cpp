// Drawing on Windows: text in the first face of the font's list that the machine has (GDI would
// otherwise put a face without the program's Chinese glyphs in the place of a missing one), and
// the program's own copies on DIB sections. Built for Windows only.

#include <gtest/gtest.h>

#include "window/Gdi.h"

namespace {

// The pixels a line of text leaves on white, in the font.
std::vector<COLORREF> TextPixels(const std::string& family, const std::string& text)
{
    CBitmap bitmap;
    EXPECT_TRUE(bitmap.CreateBitmap(60, 16));
    CDC dc;
    dc.SelectObject(&bitmap);
    dc.FillSolidRect({0, 0, 60, 16}, RGB(255, 255, 255));
    const CFont font{family, 12};
    dc.SelectFont(&font);
    dc.SetBkMode(TRANSPARENT);
    dc.SetTextColor(RGB(0, 0, 0));
    dc.DrawText(text, {0, 0, 60, 16}, DT_LEFT | DT_SINGLELINE);
    std::vector<COLORREF> pixels;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 60; ++x)
            pixels.push_back(bitmap.GetPixel(x, y));
    return pixels;
}

TEST(Win32DrawingTest, TextIsDrawnInTheFirstFaceOfTheListTheMachineHas)
{
    const std::string chinese = "\xE7\xA1\xAE\xE5\xAE\x9A";  // 确定
    const std::vector<COLORREF> inTheFace = TextPixels("AR PL UMing CN", chinese);
    EXPECT_EQ(TextPixels("\xE5\xAE\x8B\xE4\xBD\x93, NoSuchFace, AR PL UMing CN", chinese), inTheFace);
    EXPECT_NE(std::count(inTheFace.begin(), inTheFace.end(), RGB(0, 0, 0)), 0);
    EXPECT_NE(TextPixels("AR PL UMing CN", "\xE5\x8F\x96\xE6\xB6\x88"), inTheFace);  // 取消: other glyphs
}

TEST(Win32DrawingTest, KeyColourCopiesLeaveTheKeyOut)
{
    CBitmap source, target;
    ASSERT_TRUE(source.CreateBitmap(2, 1));
    ASSERT_TRUE(target.CreateBitmap(2, 1));
    source.SetPixel(0, 0, RGB(255, 0, 255));
    source.SetPixel(1, 0, RGB(1, 2, 3));
    target.SetPixel(0, 0, RGB(9, 9, 9));
    CDC from, to;
    from.SelectObject(&source);
    to.SelectObject(&target);
    ASSERT_TRUE(to.TransparentBlt(0, 0, 2, 1, &from, 0, 0, 2, 1, RGB(255, 0, 255)));
    EXPECT_EQ(target.GetPixel(0, 0), RGB(9, 9, 9));
    EXPECT_EQ(target.GetPixel(1, 0), RGB(1, 2, 3));
}

}  // namespace
