// The Windows program's resource script says what the Linux program's template and resource ids
// say: the same dialog (style, size, font, every control) and the same bitmaps and icon.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"
#include "window/Gdi.h"
#include "window/MessageBox.h"
#include "window/WindowStyles.h"
#include "res/Dialog102.h"
#include "res/Resources.h"

namespace {

std::string Script()
{
    std::ifstream file(KESU_RESOURCE_SCRIPT, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// "A | NOT B | C" with the names the script uses.
std::uint32_t Styles(const std::string& text)
{
    static const std::map<std::string, std::uint32_t> names{
        {"WS_POPUP", WS_POPUP},           {"WS_CHILD", WS_CHILD},       {"WS_VISIBLE", WS_VISIBLE},
        {"WS_CLIPSIBLINGS", WS_CLIPSIBLINGS}, {"WS_CLIPCHILDREN", WS_CLIPCHILDREN}, {"WS_BORDER", WS_BORDER},
        {"WS_GROUP", WS_GROUP},           {"WS_TABSTOP", WS_TABSTOP},   {"WS_EX_APPWINDOW", WS_EX_APPWINDOW},
        {"DS_SETFONT", DS_SETFONT},       {"DS_CENTER", DS_CENTER},     {"BS_PUSHBUTTON", BS_PUSHBUTTON},
        {"PBS_SMOOTH", PBS_SMOOTH},       {"SS_LEFT", SS_LEFT}};
    std::uint32_t style = 0;
    std::stringstream parts(text);
    for (std::string part; std::getline(parts, part, '|');) {
        std::stringstream words(part);
        std::string word, name;
        words >> word;
        const bool negated = word == "NOT";
        name = negated ? (words >> name, name) : word;
        const auto found = names.find(name);
        if (found == names.end())
            ADD_FAILURE() << "a style the test does not know: " << name;
        else if (!negated)
            style |= found->second;
    }
    return style;
}

TEST(ResourceScriptTest, TheDialogIsTheTemplate)
{
    const std::string script = Script();
    const DialogTemplate& dialog = UpdateDialogTemplate();
    std::smatch match;
    ASSERT_TRUE(std::regex_search(script, match, std::regex(R"re((\d+) DIALOGEX 0, 0, (\d+), (\d+)\n)re")));
    EXPECT_EQ(std::stoi(match[1]), IDD_AUTOUPDATE_DIALOG);
    EXPECT_EQ(std::stoi(match[2]), dialog.cx);
    EXPECT_EQ(std::stoi(match[3]), dialog.cy);
    ASSERT_TRUE(std::regex_search(script, match, std::regex(R"re(\nSTYLE ([^\n]+)\nEXSTYLE ([^\n]+)\n)re")));
    EXPECT_EQ(Styles(match[1]), dialog.style);
    EXPECT_EQ(Styles(match[2]), dialog.exStyle);
    ASSERT_TRUE(std::regex_search(script, match, std::regex(R"re(\nFONT (\d+), "([^"]+)", (\d+), (\d), 0x86\n)re")));
    EXPECT_EQ(std::stoi(match[1]), dialog.pointSize);
    EXPECT_EQ(match[2], dialog.fontFace);
    EXPECT_EQ(std::stoi(match[3]), dialog.weight);
    EXPECT_EQ(match[4] == "1", dialog.italic);

    const std::regex control(R"re(CONTROL "([^"]*)", (\d+), "([^"]+)", ([^,]+), (\d+), (\d+), (\d+), (\d+)\n)re");
    std::vector<DialogItemTemplate> items;
    for (auto at = std::sregex_iterator(script.begin(), script.end(), control); at != std::sregex_iterator(); ++at) {
        const std::smatch& item = *at;
        items.push_back({std::stoi(item[2]), item[3], Styles(item[4]), std::stoi(item[5]), std::stoi(item[6]),
                         std::stoi(item[7]), std::stoi(item[8]), item[1]});
    }
    ASSERT_EQ(items.size(), dialog.items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        const DialogItemTemplate& want = dialog.items[i];
        const DialogItemTemplate& got = items[i];
        EXPECT_EQ(got.id, want.id) << i;
        EXPECT_EQ(got.className, want.className) << i;
        EXPECT_EQ(got.style, want.style) << i;
        EXPECT_EQ(std::tie(got.x, got.y, got.cx, got.cy), std::tie(want.x, want.y, want.cx, want.cy)) << i;
        EXPECT_EQ(got.text, want.text) << i;
    }
}

TEST(ResourceScriptTest, TheBitmapsAndTheIconAreThoseOfTheirIds)
{
    const std::string script = Script();
    for (int id : {IDB_PROGRESS_FILL, IDB_PROGRESS_TRACK, IDB_BACKGROUND, IDB_CANCEL_BUTTON, IDB_SPLASH}) {
        const std::string line = std::to_string(id) + " BITMAP \"bitmap" + std::to_string(id) + ".bmp\"\n";
        EXPECT_NE(script.find(line), std::string::npos) << line;
    }
    EXPECT_NE(script.find(std::to_string(IDR_MAINFRAME) + " ICON \"icon128.ico\"\n"), std::string::npos);
}

// The Windows program reads its bitmaps and its icon from the files the build converts the PNG
// artwork into: read back as the Windows program reads them, they are the same pixels.
TEST(ResourceScriptTest, TheConvertedArtworkReadsBackAsTheSamePixels)
{
    TempDir dir;
    for (int id : {IDR_MAINFRAME, IDB_PROGRESS_FILL, IDB_PROGRESS_TRACK, IDB_BACKGROUND, IDB_CANCEL_BUTTON, IDB_SPLASH}) {
        const bool icon = id == IDR_MAINFRAME;
        const std::string name = (icon ? "icon" : "bitmap") + std::to_string(id);
        const std::filesystem::path converted = dir.Path() / (name + (icon ? ".ico" : ".bmp"));
        const ToolRun run = RunTool(dir.Path(), "python3",
                                    {KESU_RESOURCE_CONVERTER, icon ? "ico" : "bmp",
                                     std::string(KESU_RESOURCE_DIR) + "/" + name + ".png", converted.string()});
        ASSERT_EQ(run.status, 0) << run.output;
        const std::string data = ReadWholeFile(converted);
        const std::size_t header = icon ? 6 + 16 : 14;  // the file's header before the DIB
        ASSERT_GT(data.size(), header) << name;
        CBitmap fromDib, fromPng;
        ASSERT_TRUE(fromDib.LoadDib(reinterpret_cast<const unsigned char*>(data.data()) + header, data.size() - header,
                                    icon ? CBitmap::DibKind::Icon : CBitmap::DibKind::Bitmap)) << name;
        ASSERT_TRUE(LoadBitmap(fromPng, id)) << name;
        ASSERT_EQ(fromDib.Width(), fromPng.Width()) << name;
        ASSERT_EQ(fromDib.Height(), fromPng.Height()) << name;
        int differences = 0;
        for (int y = 0; y < fromPng.Height(); ++y)
            for (int x = 0; x < fromPng.Width(); ++x)
                differences += fromDib.GetArgb(x, y) != fromPng.GetArgb(x, y);
        EXPECT_EQ(differences, 0) << name;
    }
    CBitmap refused;
    EXPECT_FALSE(refused.LoadDib(reinterpret_cast<const unsigned char*>("BM\0\0"), 4, CBitmap::DibKind::Bitmap));
}

}  // namespace
