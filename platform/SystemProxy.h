#pragma once
// The proxy the system's own settings name for the program's web requests, beyond the
// environment variables (http_proxy, https_proxy, all_proxy, no_proxy) that libcurl reads by
// itself: on Windows, the proxy a user sets in Windows' Internet settings, which the system's own
// programs take; on Linux, none (the environment is the setting there).
//
// Threads: any. Errors: none; settings that cannot be read, or that name a proxy only through
// automatic detection or a script, give no proxy.

#include <optional>
#include <string>
#include <string_view>

// In libcurl's forms: the proxy ("host:port" or "socks4://host:port") and the hosts that go
// direct (comma-separated, ".example.com" for a domain and its hosts).
struct ProxySettings {
    std::string strServer;
    std::string strBypass;
    bool operator==(const ProxySettings&) const = default;
};

std::optional<ProxySettings> GetSystemProxy();

// Windows' forms in libcurl's: the proxy list ("host:port", or "http=host:port;https=host:port;
// socks=host:port"), of which the one for every scheme or for http is taken, and the bypass list
// ("*.corp.example;10.*;<local>"), where "<local>" (names without a dot) becomes localhost and the
// loopback addresses. Nothing when the list names no proxy.
std::optional<ProxySettings> ProxyFromWindowsSettings(std::string_view proxyList, std::string_view bypassList);
