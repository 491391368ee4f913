#pragma once
// The program composes paths with '\' and '/' as the Windows layout it keeps; every path
// reaches the file system through ToNativePath, the one place that knows the separator here.

#include <string>
#include <string_view>

std::string ToNativePath(std::string_view path);
