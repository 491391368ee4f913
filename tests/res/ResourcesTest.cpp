#include <gtest/gtest.h>

#include "window/Gdi.h"
#include "window/MessageBox.h"
#include "window/WindowStyles.h"
#include "res/Dialog102.h"
#include "res/Resources.h"

namespace {

std::string Hex(COLORREF color)
{
    char text[8];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", color & 0xFF, color >> 8 & 0xFF, color >> 16 & 0xFF);
    return text;
}

TEST(ResourcesTest, BitmapsHaveTheirSizes)
{
    struct Size {
        int id, width, height;
    } sizes[] = {{IDB_PROGRESS_FILL, 40, 12}, {IDB_PROGRESS_TRACK, 100, 14}, {IDB_BACKGROUND, 368, 91},
                 {IDB_CANCEL_BUTTON, 276, 21}, {IDB_SPLASH, 368, 91}, {IDR_MAINFRAME, 48, 48}};
    for (const auto& size : sizes) {
        CBitmap bitmap;
        ASSERT_TRUE(LoadBitmap(bitmap, size.id)) << size.id;
        EXPECT_EQ(bitmap.Width(), size.width) << size.id;
        EXPECT_EQ(bitmap.Height(), size.height) << size.id;
    }
    CBitmap none;
    EXPECT_FALSE(LoadBitmap(none, 134));
}

TEST(ResourcesTest, ProgressFillRowsAndTrackFrameAreExact)
{
    const char* rows[12] = {"#C0610B", "#FCB16B", "#B45708", "#AF5207", "#AA4D05", "#A44904",
                            "#A04503", "#9D4302", "#9C4202", "#9E4704", "#A65107", "#AD590B"};
    CBitmap fill;
    ASSERT_TRUE(LoadBitmap(fill, IDB_PROGRESS_FILL));
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 40; ++x)
            ASSERT_EQ(Hex(fill.GetPixel(x, y)), rows[y]) << x << "," << y;

    CBitmap track;
    ASSERT_TRUE(LoadBitmap(track, IDB_PROGRESS_TRACK));
    for (int y = 0; y < 14; ++y) {
        for (int x = 0; x < 100; ++x) {
            bool orange = ((y == 1 || y == 12) && x >= 1 && x <= 98) || (y >= 2 && y <= 11 && (x == 1 || x == 98));
            ASSERT_EQ(Hex(track.GetPixel(x, y)), orange ? "#AA4D05" : "#FFFFFF") << x << "," << y;
        }
    }
}

TEST(ResourcesTest, PanelGradientAndButtonFramesFollowTheirColours)
{
    CBitmap panel;
    ASSERT_TRUE(LoadBitmap(panel, IDB_BACKGROUND));
    EXPECT_EQ(Hex(panel.GetPixel(200, 0)), "#B05E0C");
    EXPECT_EQ(Hex(panel.GetPixel(200, 30)), "#9C4302");
    EXPECT_EQ(Hex(panel.GetPixel(200, 90)), "#CA6A0E");
    int white = 0;
    for (int y = 9; y < 25; ++y)
        for (int x = 15; x < 81; ++x)
            white += panel.GetPixel(x, y) == RGB(255, 255, 255);
    EXPECT_GT(white, 100);  // the word UPDATE

    CBitmap button;
    ASSERT_TRUE(LoadBitmap(button, IDB_CANCEL_BUTTON));
    for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 276; ++x)
            ASSERT_NE(button.GetPixel(x, y), RGB(255, 0, 255)) << x << "," << y;
    // The disabled frame is grey; the others are orange.
    COLORREF normal = button.GetPixel(10, 15), disabled = button.GetPixel(3 * 69 + 10, 15);
    EXPECT_GT(normal & 0xFF, (normal >> 16) & 0xFF);
    EXPECT_EQ(disabled & 0xFF, (disabled >> 16) & 0xFF);
}

TEST(ResourcesTest, DialogTemplateComesToThePixelLayout)
{
    const DialogTemplate& dialog = UpdateDialogTemplate();
    EXPECT_EQ(dialog.style, WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | DS_SETFONT | DS_CENTER);
    EXPECT_EQ(dialog.exStyle, WS_EX_APPWINDOW);
    EXPECT_EQ(dialog.fontFace, "宋体");
    EXPECT_EQ(dialog.pointSize, 9);
    RECT size = MapDialogRect(0, 0, dialog.cx, dialog.cy);
    EXPECT_EQ(size.Width(), 366);
    EXPECT_EQ(size.Height(), 90);

    struct Pixels {
        int id, x, y, width, height;
    } expected[] = {{IDCANCEL, 282, 65, 69, 20},
                    {IDC_PROGRESS_FILE, 15, 29, 336, 14},
                    {IDC_PROGRESS_TOTAL, 15, 47, 336, 14},
                    {IDC_STATIC_STATUS, 102, 9, 243, 12},
                    {IDC_STATIC_DETAIL, 18, 68, 249, 12}};
    ASSERT_EQ(dialog.items.size(), std::size(expected));
    for (std::size_t i = 0; i < dialog.items.size(); ++i) {
        const DialogItemTemplate& item = dialog.items[i];
        EXPECT_EQ(item.id, expected[i].id);
        EXPECT_EQ(item.style & WS_VISIBLE, 0u) << item.id;
        RECT r = MapDialogRect(item.x, item.y, item.cx, item.cy);
        EXPECT_EQ(r.left, expected[i].x) << item.id;
        EXPECT_EQ(r.top, expected[i].y) << item.id;
        EXPECT_EQ(r.Width(), expected[i].width) << item.id;
        EXPECT_EQ(r.Height(), expected[i].height) << item.id;
    }
    EXPECT_EQ(dialog.items[3].text, "准备下载...");
    EXPECT_EQ(dialog.items[4].text, "...");
}

}  // namespace
