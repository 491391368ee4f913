#include "platform/Path.h"

#include <algorithm>
#include <cctype>

std::string ToNativePath(std::string_view path)
{
    std::string native(path);
    std::replace(native.begin(), native.end(), '\\', '/');
    return native;
}

SplitPath SplitAtLastSeparator(std::string_view path)
{
    const auto separator = path.find_last_of("\\/");
    if (separator == std::string_view::npos)
        return {{}, path};
    return {path.substr(0, separator + 1), path.substr(separator + 1)};
}

std::string PathInDirectory(std::string_view directory, std::string_view name)
{
    const std::string native = ToNativePath(directory);
    return native.ends_with('/') ? native + ToNativePath(name) : native + "/" + ToNativePath(name);
}

std::vector<std::string_view> PathComponents(std::string_view path)
{
    std::vector<std::string_view> parts;
    for (std::size_t at = 0; at <= path.size();) {
        const std::size_t end = std::min(path.find_first_of("\\/", at), path.size());
        if (end > at)
            parts.push_back(path.substr(at, end - at));
        at = end + 1;
    }
    return parts;
}

std::string PathFindFileName(std::string_view path)
{
    return std::string(SplitAtLastSeparator(path).name);
}

bool IsContainedRelativePath(std::string_view name)
{
    if (name.starts_with('/') || name.starts_with('\\'))
        return false;
    if (name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0])))
        return false;
    while (true) {
        auto separator = name.find_first_of("\\/");
        if (name.substr(0, separator) == "..")
            return false;
        if (separator == std::string_view::npos)
            return true;
        name.remove_prefix(separator + 1);
    }
}

std::filesystem::path PathFromUtf8(std::string_view path)
{
    return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

std::string Utf8OfPath(const std::filesystem::path& path)
{
    const std::u8string utf8 = path.u8string();
    return std::string(utf8.begin(), utf8.end());
}

std::string GenericUtf8OfPath(const std::filesystem::path& path)
{
    const std::u8string utf8 = path.generic_u8string();
    return std::string(utf8.begin(), utf8.end());
}

std::string CurrentDirectory()
{
    std::error_code error;
    const std::filesystem::path directory = std::filesystem::current_path(error);
    return error ? std::string() : Utf8OfPath(directory);
}
