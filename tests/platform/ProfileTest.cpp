#include <gtest/gtest.h>

#include <sys/stat.h>

#include "platform/Profile.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"
#include "tests/support/Unprivileged.h"

namespace {

class ProfileTest : public ::testing::Test {
protected:
    std::string Read(const std::string& contents, const std::string& section, const std::string& key)
    {
        return GetPrivateProfileString(section, key, "<default>", dir.Write("settings.ini", contents));
    }

    TempDir dir;
};

TEST_F(ProfileTest, MissingFileSectionOrKeyGivesTheDefault)
{
    EXPECT_EQ(GetPrivateProfileString("Download", "site1", "<default>", dir.Dir() + "absent.ini"), "<default>");
    EXPECT_EQ(GetPrivateProfileString("Download", "site1", "<default>", dir.Dir()), "<default>");  // a directory
    EXPECT_EQ(Read("", "Download", "site1"), "<default>");
    EXPECT_EQ(Read("[Setup]\nsite1=x\n", "Download", "site1"), "<default>");
    EXPECT_EQ(Read("[Download]\nsite2=x\n", "Download", "site1"), "<default>");
    EXPECT_EQ(Read("site1=x\n[Download]\n", "Download", "site1"), "<default>");  // before any section
    EXPECT_EQ(Read("[Download]\nsite1=\n", "Download", "site1"), "");            // present but empty
}

TEST_F(ProfileTest, ValuesAreReadAsProfileReadsGiveThem)
{
    struct Case {
        const char* contents;
        const char* expected;
    } cases[] = {
        {"[Download]\nsite1=updates.example.net\n", "updates.example.net"},
        {"\xEF\xBB\xBF[Download]\r\nsite1=bom.example\r\n", "bom.example"},
        {"[download]\nSITE1=case.example\n", "case.example"},
        {"  [ Download ]  \n   site1   =   padded value  \t\n", "padded value"},
        {"[Download]\nsite1=\"quoted value\"\n", "quoted value"},
        {"[Download]\nsite1='single'\n", "single"},
        {"[Download]\nsite1=\"unbalanced'\n", "\"unbalanced'"},
        {"[Download]\nsite1=a=b ; not a comment\n", "a=b ; not a comment"},
        {"[Download]\nsite1=first\nsite1=second\n", "first"},
        {"[Download]\n;site1=commented\nsite1=real\n", "real"},
        {"[Download]\nsite1:colon\nsite1=after\n", "after"},
        {"[Download]\nother=1\n  indented=2\nsite1=x\n", "x"},
        {"[Download]\nsite1=one\n[Setup]\nsite1=two\n[Download]\nsite1=three\n", "one"},
        {"[Download]\nsite1=服务器.example\n", "服务器.example"},
        {"[Download]\nsite1=no newline at the end", "no newline at the end"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Read(c.contents, "Download", "site1"), c.expected) << c.contents;
}

// The lobby under a Chinese Windows writes the file in its code page, GBK; iconv makes one here.
TEST_F(ProfileTest, AFileInTheWindowsCodePageIsReadAsGbk)
{
    const std::string settings = "[DownUrl]\nWebUrl=http://lobby.example/图片\n"
                                 "[messages]\nErrorMsg=更新失败，请到官网下载完整版\n";
    const ToolRun iconv = RunTool(dir.Path(), "iconv", {"-f", "UTF-8", "-t", "GBK"}, settings);
    ASSERT_EQ(iconv.status, 0) << iconv.output;
    const std::string gbk = iconv.output;
    ASSERT_NE(gbk, settings);
    EXPECT_EQ(Read(gbk, "messages", "ErrorMsg"), "更新失败，请到官网下载完整版");
    // This value's GBK bytes alone would pass for UTF-8; the rest of the file says they are not.
    EXPECT_EQ(Read(gbk, "DownUrl", "WebUrl"), "http://lobby.example/图片");
    // Neither UTF-8 nor GBK: the bytes as they stand.
    EXPECT_EQ(Read("[messages]\nErrorMsg=\x80\xFF\n", "messages", "ErrorMsg"), "\x80\xFF");
}

TEST_F(ProfileTest, VeryLongValuesAreKeptWhole)
{
    std::string value(100000, 'v');
    EXPECT_EQ(Read("[messages]\nErrorMsg=" + value + "\n", "messages", "ErrorMsg"), value);
}

TEST_F(ProfileTest, UnreadableFileGivesTheDefault)
{
    std::string path = dir.Write("locked.ini", "[Download]\nsite1=x\n");
    ::chmod(path.c_str(), 0);
    ::chmod(dir.Path().c_str(), 0755);
    int result = RunUnprivileged([&] {
        return GetPrivateProfileString("Download", "site1", "<default>", path) == "<default>" ? 0 : 1;
    });
    EXPECT_EQ(result, 0);
}

}  // namespace
