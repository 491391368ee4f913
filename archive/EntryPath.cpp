#include "archive/EntryPath.h"

#include <algorithm>

namespace {

// Drops drive prefixes, leading separators and everything up to an inner "\..\", "\../",
// "/../" or "/..\", again and again until none is left. UTF-8 trail bytes are never ASCII, so
// a plain search cannot start inside a character.
std::string CleanEntryName(std::string name)
{
    for (;;) {
        if (name.size() >= 2 && name[1] == ':') {
            name.erase(0, 2);
        } else if (name.starts_with('\\') || name.starts_with('/')) {
            name.erase(0, 1);
        } else {
            std::size_t cut = std::string::npos;
            for (const char* pattern : {"\\..\\", "\\../", "/../", "/..\\"}) {
                if (auto at = name.find(pattern); at != std::string::npos) {
                    cut = at + 4;
                    break;
                }
            }
            if (cut == std::string::npos)
                return name;
            name.erase(0, cut);
        }
    }
}

// "." components and empty ones (doubled separators) name nothing: dropped, so that every check
// of a name sees the path the file system will.
std::string WithoutDotComponents(const std::string& name)
{
    std::string kept;
    for (std::size_t at = 0; at < name.size();) {
        const std::size_t end = std::min(name.find_first_of("\\/", at), name.size());
        const std::string_view part(name.data() + at, end - at);
        if (!part.empty() && part != ".")
            kept.append(part).append(end < name.size() ? name.substr(end, 1) : "");
        at = end + 1;
    }
    if (!kept.empty() && (kept.back() == '/' || kept.back() == '\\') && !(name.ends_with('/') || name.ends_with('\\')))
        kept.pop_back();
    return kept;
}

}  // namespace

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

std::string CleanedEntryName(const std::string& name)
{
    return WithoutDotComponents(CleanEntryName(name));
}
