#include <gtest/gtest.h>

#include "window/Gdi.h"

namespace {

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);

// A memory DC over a new bitmap filled with one colour.
struct Canvas {
    Canvas(int width, int height, COLORREF color)
    {
        bitmap.CreateBitmap(width, height);
        dc.SelectObject(&bitmap);
        dc.FillSolidRect({0, 0, width, height}, color);
    }
    // Pixels that differ from `color` inside and outside the rectangle.
    std::pair<int, int> Changed(const RECT& rect, COLORREF color) const
    {
        int inside = 0, outside = 0;
        for (int y = 0; y < bitmap.Height(); ++y)
            for (int x = 0; x < bitmap.Width(); ++x)
                if (bitmap.GetPixel(x, y) != color)
                    ++(x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom ? inside : outside);
        return {inside, outside};
    }
    CBitmap bitmap;
    CDC dc;
};

TEST(GdiTest, MulDivRoundsHalfAwayFromZeroAndFailsOnZero)
{
    EXPECT_EQ(MulDiv(334, 50, 100), 167);
    EXPECT_EQ(MulDiv(334, 1, 3), 111);
    EXPECT_EQ(MulDiv(3, 1, 2), 2);
    EXPECT_EQ(MulDiv(-3, 1, 2), -2);
    EXPECT_EQ(MulDiv(43, 12, 8), 65);
    EXPECT_EQ(MulDiv(2000000000, 3, 4), 1500000000);
    EXPECT_EQ(MulDiv(5, 7, 0), -1);
}

TEST(GdiTest, BitBltCopiesExactlyThroughOriginAndClip)
{
    Canvas source(4, 3, kBlack);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            source.bitmap.SetPixel(x, y, RGB(x * 10, y * 20, 7));
    CBitmap window;
    window.CreateBitmap(20, 20);
    CDC child(&window, 10, 5, RECT{10, 5, 13, 20});  // a child at (10, 5), 3 pixels wide
    EXPECT_TRUE(child.BitBlt(0, 0, 4, 3, &source.dc, 0, 0));
    EXPECT_EQ(window.GetPixel(10, 5), RGB(0, 0, 7));
    EXPECT_EQ(window.GetPixel(12, 7), RGB(20, 40, 7));
    EXPECT_EQ(window.GetPixel(13, 5), kBlack);  // clipped
    EXPECT_EQ(child.GetPixel(2, 2), RGB(20, 40, 7));

    Canvas target(4, 3, kWhite);
    EXPECT_TRUE(target.dc.BitBlt(0, 0, 2, 2, &source.dc, 2, 1));
    EXPECT_EQ(target.bitmap.GetPixel(0, 0), RGB(20, 20, 7));
    EXPECT_EQ(target.bitmap.GetPixel(1, 1), RGB(30, 40, 7));
    EXPECT_EQ(target.bitmap.GetPixel(2, 0), kWhite);
}

TEST(GdiTest, HalftoneStretchAveragesTheAreaEachPixelCovers)
{
    Canvas source(4, 1, kBlack);
    source.bitmap.SetPixel(1, 0, RGB(200, 100, 50));
    source.bitmap.SetPixel(3, 0, kWhite);
    Canvas target(2, 1, kBlack);
    target.dc.SetStretchBltMode(HALFTONE);
    EXPECT_TRUE(target.dc.StretchBlt(0, 0, 2, 1, &source.dc, 0, 0, 4, 1));
    EXPECT_EQ(target.bitmap.GetPixel(0, 0), RGB(100, 50, 25));
    EXPECT_EQ(target.bitmap.GetPixel(1, 0), RGB(128, 128, 128));

    // Uniform rows stay exact when stretched in width: the progress fill's case.
    Canvas band(40, 12, kBlack);
    for (int y = 0; y < 12; ++y)
        band.dc.FillSolidRect({0, y, 40, y + 1}, RGB(160 + y, 70, y * 3));
    Canvas bar(336, 14, kWhite);
    bar.dc.SetStretchBltMode(HALFTONE);
    bar.dc.StretchBlt(2, 1, 332, 12, &band.dc, 0, 0, 40, 12);
    for (int y = 1; y <= 12; ++y)
        for (int x : {2, 100, 333})
            EXPECT_EQ(bar.bitmap.GetPixel(x, y), RGB(160 + y - 1, 70, (y - 1) * 3)) << x << "," << y;
    EXPECT_EQ(bar.bitmap.GetPixel(1, 5), kWhite);
    EXPECT_EQ(bar.bitmap.GetPixel(334, 5), kWhite);
}

TEST(GdiTest, TransparentBltLeavesOutExactlyTheKeyColour)
{
    constexpr COLORREF kKey = RGB(255, 0, 255);
    Canvas source(3, 1, kKey);
    source.bitmap.SetPixel(1, 0, RGB(254, 0, 255));
    source.bitmap.SetPixel(2, 0, RGB(10, 20, 30));
    Canvas target(6, 1, kWhite);
    EXPECT_TRUE(target.dc.TransparentBlt(0, 0, 6, 1, &source.dc, 0, 0, 3, 1, kKey));
    EXPECT_EQ(target.bitmap.GetPixel(0, 0), kWhite);
    EXPECT_EQ(target.bitmap.GetPixel(1, 0), kWhite);
    EXPECT_EQ(target.bitmap.GetPixel(2, 0), RGB(254, 0, 255));
    EXPECT_EQ(target.bitmap.GetPixel(5, 0), RGB(10, 20, 30));
}

TEST(GdiTest, TextIsOneLineClippedToItsRectangle)
{
    const RECT rect{5, 2, 60, 14};
    Canvas canvas(80, 30, kBlack);
    canvas.dc.SetBkMode(TRANSPARENT);
    canvas.dc.SetTextColor(kWhite);
    canvas.dc.DrawText("正在下载 data\\a.bin and a very long tail that cannot fit", rect, DT_SINGLELINE);
    auto [inside, outside] = canvas.Changed(rect, kBlack);
    EXPECT_GT(inside, 40);
    EXPECT_EQ(outside, 0);
    // The last columns are reached: the text runs on and is cut, not wrapped.
    EXPECT_GT(canvas.Changed({rect.right - 8, rect.top, rect.right, rect.bottom}, kBlack).first, 0);

    Canvas lines(80, 40, kBlack);
    lines.dc.SetTextColor(kWhite);
    lines.dc.DrawText("first\nsecond", {0, 0, 80, 40}, DT_SINGLELINE);
    EXPECT_EQ(lines.Changed({0, 0, 80, 16}, kBlack).second, 0);  // nothing on a second line
}

TEST(GdiTest, AmpersandUnderlinesTheNextCharacterAndTwoShowOne)
{
    auto draw = [](const std::string& text) {
        auto canvas = std::make_unique<Canvas>(60, 20, kBlack);
        canvas->dc.SetTextColor(kWhite);
        canvas->dc.DrawText(text, {0, 0, 60, 20}, DT_SINGLELINE);
        return canvas;
    };
    auto plain = draw("A"), marked = draw("&A"), doubled = draw("&&"), single = draw("&");
    EXPECT_GT(marked->Changed({0, 0, 60, 20}, kBlack).first, plain->Changed({0, 0, 60, 20}, kBlack).first);
    int doubledPixels = doubled->Changed({0, 0, 60, 20}, kBlack).first;
    EXPECT_GT(doubledPixels, 0);
    auto oneAmpersand = draw("x&&y"), spelled = draw("x");
    EXPECT_GT(oneAmpersand->Changed({0, 0, 60, 20}, kBlack).first, spelled->Changed({0, 0, 60, 20}, kBlack).first);
}

TEST(GdiTest, BitmapsAreCountedWhileAlive)
{
    int before = CBitmap::LiveCount();
    {
        CBitmap a, b;
        a.CreateBitmap(10, 10);
        b.CreateBitmap(5, 5);
        EXPECT_EQ(CBitmap::LiveCount(), before + 2);
        a.DeleteObject();
        EXPECT_EQ(CBitmap::LiveCount(), before + 1);
    }
    EXPECT_EQ(CBitmap::LiveCount(), before);
}

}  // namespace
