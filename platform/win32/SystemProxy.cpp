#include "platform/SystemProxy.h"

#include "platform/win32/Wide.h"

#include <winhttp.h>

namespace {

// A string WinHTTP handed over, freed as it asks.
std::string Take(LPWSTR text)
{
    if (!text)
        return {};
    std::string utf8 = WideToUtf8(text);
    ::GlobalFree(text);
    return utf8;
}

}  // namespace

std::optional<ProxySettings> GetSystemProxy()
{
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    if (!::WinHttpGetIEProxyConfigForCurrentUser(&config))
        return std::nullopt;
    Take(config.lpszAutoConfigUrl);  // a proxy script is not run: only a proxy named outright counts
    const std::string proxy = Take(config.lpszProxy);
    const std::string bypass = Take(config.lpszProxyBypass);
    return ProxyFromWindowsSettings(proxy, bypass);
}
