#include "archive/EntryPath.h"

#include <algorithm>

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

bool LinkStaysInside(std::string_view entryName, std::string_view target)
{
    if (target.empty() || target.size() > kMaxLinkTarget || target.find('\0') != std::string_view::npos ||
        target.starts_with('/') || target.starts_with('\\') || (target.size() >= 2 && target[1] == ':'))
        return false;
    const std::size_t parts = PathComponents(entryName).size();
    std::size_t depth = parts ? parts - 1 : 0;  // the directories the link lies in
    bool climbing = true;
    for (std::string_view part : PathComponents(target)) {
        if (part == "..") {
            if (!climbing || depth == 0)
                return false;
            --depth;
        } else if (part != ".") {
            climbing = false;
        }
    }
    return true;
}
