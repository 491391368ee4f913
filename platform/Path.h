#pragma once
// The program composes paths with '\' and '/' as the Windows layout it keeps; every path
// reaches the file system through ToNativePath, the one place that knows the separator here.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

std::string ToNativePath(std::string_view path);

// A path split after its last '\\' or '/': the directory keeps that separator ("data\\map\\"),
// the name is what follows it ("town.dat"). Without a separator the directory is empty and the
// name is the whole path. Both view the path given.
struct SplitPath {
    std::string_view directory;
    std::string_view name;
};
SplitPath SplitAtLastSeparator(std::string_view path);

// The name within the directory, as a native path: one '/' between them.
std::string PathInDirectory(std::string_view directory, std::string_view name);

// The path's components, empty ones (doubled separators) left out; they view the path given.
std::vector<std::string_view> PathComponents(std::string_view path);

// The part of a path after its last '\\' or '/'; the whole path without one.
std::string PathFindFileName(std::string_view path);

// Whether a relative name stays inside the directory it is joined to: not absolute, no drive
// prefix ("C:"), no ".." component between separators of either kind.
bool IsContainedRelativePath(std::string_view name);

// The process's working directory; empty when it cannot be told.
std::string CurrentDirectory();

// A path of the standard library's from a UTF-8 path, and back: the constructor from a
// std::string reads the system's narrow code page, which on Windows is not UTF-8.
std::filesystem::path PathFromUtf8(std::string_view path);
std::string Utf8OfPath(const std::filesystem::path& path);
// The same with '/' between the components (one, however many the path had).
std::string GenericUtf8OfPath(const std::filesystem::path& path);
