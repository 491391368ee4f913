#include "platform/SystemProxy.h"

// The environment is Linux's proxy setting, and libcurl reads it by itself.
std::optional<ProxySettings> GetSystemProxy()
{
    return std::nullopt;
}
