#pragma once
// The program composes paths with '\' and '/' as the Windows layout it keeps; every path
// reaches the file system through ToNativePath, the one place that knows the separator here.

#include <string>
#include <string_view>

std::string ToNativePath(std::string_view path);

// The part of a path after its last '\\' or '/'; the whole path without one.
std::string PathFindFileName(std::string_view path);

// Whether a relative name stays inside the directory it is joined to: not absolute, no drive
// prefix ("C:"), no ".." component between separators of either kind.
bool IsContainedRelativePath(std::string_view name);
