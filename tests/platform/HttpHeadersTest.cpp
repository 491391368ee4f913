// What the response's header lines say: the final block's fields past redirects and interim
// answers, the body's encoding, where a part starts and how long a server asks to be left alone.

#include <gtest/gtest.h>

#include "platform/HttpHeaders.h"

namespace {

HttpHeaderBlock Take(std::initializer_list<std::string_view> lines)
{
    HttpHeaderBlock block;
    for (std::string_view line : lines)
        block.TakeLine(line);
    return block;
}

TEST(HttpHeadersTest, OnlyTheLastBlocksFieldsCountAndOnlyItsBlankLineEndsIt)
{
    HttpHeaderBlock block;
    EXPECT_FALSE(block.TakeLine("HTTP/1.1 302 Found\r\n"));
    EXPECT_FALSE(block.TakeLine("Location: /elsewhere\r\n"));
    EXPECT_FALSE(block.TakeLine("Content-Encoding: gzip\r\n"));
    EXPECT_FALSE(block.TakeLine("X-Only-Here: yes\r\n"));
    EXPECT_TRUE(block.TakeLine("\r\n"));
    EXPECT_TRUE(block.HasLocation());
    EXPECT_FALSE(block.TakeLine("HTTP/1.1 100 Continue\r\n"));
    EXPECT_TRUE(block.TakeLine("\n"));
    EXPECT_FALSE(block.TakeLine("HTTP/2 200\r\n"));
    EXPECT_FALSE(block.TakeLine("content-length:  12 \r\n"));
    EXPECT_FALSE(block.TakeLine("   \r\n"));  // blanks are not the blank line
    EXPECT_FALSE(block.TakeLine("no colon here\r\n"));
    EXPECT_TRUE(block.TakeLine("\r\n"));

    EXPECT_FALSE(block.HasLocation());
    EXPECT_EQ(block.Encoding(), "");
    EXPECT_EQ(block.Find("X-Only-Here"), "");
    EXPECT_EQ(block.Find("Content-Length"), "12");
    EXPECT_EQ(block.Find("CONTENT-LENGTH"), "12");
    EXPECT_EQ(block.Find("Content-Lengt"), "");
}

TEST(HttpHeadersTest, TheFirstFieldOfANameIsTheOneFoundAndIdentityIsNoEncoding)
{
    const HttpHeaderBlock block = Take({"HTTP/1.1 200 OK\r\n", "Retry-After: 5\r\n", "retry-after: 9\r\n",
                                        "Content-Encoding: identity\r\n"});
    EXPECT_EQ(block.Find("retry-after"), "5");
    EXPECT_EQ(block.Encoding(), "");
    EXPECT_EQ(Take({"CONTENT-ENCODING:\tGZip \r\n"}).Encoding(), "GZip");
    EXPECT_TRUE(CanDecodeEncoding("GZip"));
    EXPECT_TRUE(CanDecodeEncoding("x-gzip"));
    EXPECT_TRUE(CanDecodeEncoding("deflate"));
    EXPECT_FALSE(CanDecodeEncoding("br"));
    EXPECT_FALSE(CanDecodeEncoding("gzip, br"));
}

TEST(HttpHeadersTest, RedirectsAreTheStatusesThatSendElsewhere)
{
    for (long code : {301L, 302L, 303L, 307L, 308L})
        EXPECT_TRUE(IsRedirectStatus(code)) << code;
    for (long code : {200L, 204L, 206L, 300L, 304L, 305L, 404L})
        EXPECT_FALSE(IsRedirectStatus(code)) << code;
}

TEST(HttpHeadersTest, APartStartsWhereItsRangeSaysAndNowhereWhenItCannotBeRead)
{
    EXPECT_EQ(ContentRangeStart("bytes 0-99/100"), 0u);
    EXPECT_EQ(ContentRangeStart("bytes 4294967296-4294967299/*"), 4294967296u);
    for (std::string_view bad : {"", "bytes ", "bytes 12", "bytes -5/10", "bytes */100", "items 1-2/3",
                                 "bytes 99999999999999999999-1/2", "Bytes 1-2/3"})
        EXPECT_EQ(ContentRangeStart(bad), std::nullopt) << bad;
}

TEST(HttpHeadersTest, ARetryAfterIsSecondsOrADateAndNeverMoreThanADay)
{
    using std::chrono::seconds;
    const std::time_t now = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT
    EXPECT_EQ(RetryAfterDelay("0", now), seconds(0));
    EXPECT_EQ(RetryAfterDelay("120", now), seconds(120));
    EXPECT_EQ(RetryAfterDelay("86401", now), seconds(86400));
    EXPECT_EQ(RetryAfterDelay("99999999999999999999999", now), seconds(86400));
    EXPECT_EQ(RetryAfterDelay("Sun, 06 Nov 1994 08:50:07 GMT", now), seconds(30));
    EXPECT_EQ(RetryAfterDelay("Sun, 06 Nov 1994 08:00:00 GMT", now), seconds(0));  // past
    EXPECT_EQ(RetryAfterDelay("Sun, 06 Nov 2094 08:00:00 GMT", now), seconds(86400));
    EXPECT_EQ(RetryAfterDelay("", now), std::nullopt);
    EXPECT_EQ(RetryAfterDelay("soon", now), std::nullopt);
    EXPECT_EQ(RetryAfterDelay("-5", now), std::nullopt);
}

}  // namespace
