#include "platform/Url.h"

#include <cctype>

namespace {

bool IsHexDigit(char c)
{
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

bool MayStandInPath(unsigned char c)
{
    if (c <= 0x20 || c >= 0x7F)
        return false;
    switch (c) {
    case '"': case '<': case '>': case '^': case '`': case '{': case '|': case '}': case '#':
        return false;
    default:
        return true;
    }
}

}  // namespace

std::string MakeUrlValid(std::string_view url)
{
    // The path starts after "scheme://host[:port]".
    auto scheme = url.find("://");
    std::size_t pathStart = scheme == std::string_view::npos ? 0 : url.find_first_of("/\\?", scheme + 3);
    if (pathStart == std::string_view::npos)
        pathStart = url.size();

    static const char hex[] = "0123456789ABCDEF";
    std::string valid(url.substr(0, pathStart));
    for (std::size_t i = pathStart; i < url.size(); ++i) {
        auto c = static_cast<unsigned char>(url[i]);
        if (c == '\\') {
            valid += '/';
        } else if (c == '%' && i + 2 < url.size() && IsHexDigit(url[i + 1]) && IsHexDigit(url[i + 2])) {
            valid += '%';
        } else if (MayStandInPath(c) && c != '%') {
            valid += static_cast<char>(c);
        } else {
            valid += '%';
            valid += hex[c >> 4];
            valid += hex[c & 15];
        }
    }
    return valid;
}
