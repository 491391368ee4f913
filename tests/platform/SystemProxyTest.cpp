// Windows' proxy settings as libcurl takes them: the proxy for http out of the list, the bypass
// list in libcurl's forms.

#include <gtest/gtest.h>

#include "platform/SystemProxy.h"

namespace {

TEST(SystemProxyTest, TheProxyForEverySchemeOrForHttpIsTaken)
{
    EXPECT_EQ(ProxyFromWindowsSettings("proxy.corp:8080", ""), (ProxySettings{"proxy.corp:8080", ""}));
    EXPECT_EQ(ProxyFromWindowsSettings("ftp=f:21;https=s:443;http=h:80", "")->strServer, "h:80");
    EXPECT_EQ(ProxyFromWindowsSettings("https=s:443 ; ftp=f:21", "")->strServer, "s:443");
    EXPECT_EQ(ProxyFromWindowsSettings("socks=s:1080", "")->strServer, "socks4://s:1080");
    EXPECT_EQ(ProxyFromWindowsSettings("http=h:80;all:3128", "")->strServer, "all:3128");
    EXPECT_FALSE(ProxyFromWindowsSettings("", "<local>"));
    EXPECT_FALSE(ProxyFromWindowsSettings("ftp=f:21;http=", ""));
}

TEST(SystemProxyTest, TheBypassListIsLibcurlsNoProxyList)
{
    EXPECT_EQ(ProxyFromWindowsSettings("p:1", "*.corp.example;10.0.0.1; <local>")->strBypass,
              ".corp.example,10.0.0.1,localhost,127.0.0.1,::1");
    EXPECT_EQ(ProxyFromWindowsSettings("p:1", "*")->strBypass, "*");
}

}  // namespace
