// The proxy a user sets in Windows' Internet settings (the registry value those settings are kept
// in, as the system writes it) is the program's, in libcurl's forms; without one there is none.
// Built for Windows only.

#include <gtest/gtest.h>

#include "platform/SystemProxy.h"
#include "platform/win32/Wide.h"
#include "tests/support/win32/UserConnectionSettings.h"

namespace {

TEST(Win32SystemProxyTest, TheUsersProxySettingIsTheProgramsInLibcurlsForms)
{
    UserConnectionSettings settings;
    settings.Set(ConnectionSettings("http=proxy.corp:8080;ftp=other:21", "*.corp.example;<local>"));
    EXPECT_EQ(GetSystemProxy(), (ProxySettings{"proxy.corp:8080", ".corp.example,localhost,127.0.0.1,::1"}));
    settings.Remove();
    EXPECT_EQ(GetSystemProxy(), std::nullopt);
}

}  // namespace
