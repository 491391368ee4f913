#include "platform/Path.h"

#include <algorithm>

std::string ToNativePath(std::string_view path)
{
    std::string native(path);
    std::replace(native.begin(), native.end(), '\\', '/');
    return native;
}
