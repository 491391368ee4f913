#include <gtest/gtest.h>

#include "platform/Url.h"

namespace {

TEST(UrlTest, PathsAreMadeValidAndHostsKept)
{
    struct Case {
        const char* url;
        const char* valid;
    } cases[] = {
        {"http://127.0.0.1:8080/update/data\\map\\town.dat", "http://127.0.0.1:8080/update/data/map/town.dat"},
        {"http://h/update/a file.dat", "http://h/update/a%20file.dat"},
        {"http://h/update/地图.dat", "http://h/update/%E5%9C%B0%E5%9B%BE.dat"},
        {"http://h/update/100%.dat", "http://h/update/100%25.dat"},
        {"http://h/update/%41ok%4", "http://h/update/%41ok%254"},
        {"http://h/update/a#b?c=\"d\"", "http://h/update/a%23b?c=%22d%22"},
        {"http://h/update/<{|}>^`\t\x7F", "http://h/update/%3C%7B%7C%7D%3E%5E%60%09%7F"},
        {"http://h/update/ok-._~!$&'()*+,;=:@", "http://h/update/ok-._~!$&'()*+,;=:@"},
        {"https://h\\update\\x", "https://h/update/x"},
        {"http://h", "http://h"},
        {"relative name", "relative%20name"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MakeUrlValid(c.url), c.valid) << c.url;
}

TEST(UrlTest, AFileNameIsEncodedWholeAndItsNameReadBack)
{
    EXPECT_EQ(EncodeUrlPath("data\\map/town.dat"), "data/map/town.dat");
    EXPECT_EQ(EncodeUrlPath("what?.txt"), "what%3F.txt");
    EXPECT_EQ(EncodeUrlPath("50%25off #1.txt"), "50%2525off%20%231.txt");
    EXPECT_EQ(EncodeUrlPath("地图.dat"), "%E5%9C%B0%E5%9B%BE.dat");
    EXPECT_EQ(EncodeUrlPath("a-b_c.d~e!$&'()*+,;=:@"), "a-b_c.d~e!$&'()*+,;=:@");
    for (const char* name : {"update.xml", "what?.xml", "50%off.xml", "名字 带空格.xml"})
        EXPECT_EQ(FileNameOfUrl("http://h/update/" + EncodeUrlPath(name)), name);
}

}  // namespace
