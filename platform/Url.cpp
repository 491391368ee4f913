#include "platform/Url.h"

#include <cctype>
#include <string_view>

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

void AppendPercentEncoded(std::string& text, unsigned char c)
{
    static const char hex[] = "0123456789ABCDEF";
    text += '%';
    text += hex[c >> 4];
    text += hex[c & 15];
}

}  // namespace

std::string MakeUrlValid(std::string_view url)
{
    // The path starts after "scheme://host[:port]".
    auto scheme = url.find("://");
    std::size_t pathStart = scheme == std::string_view::npos ? 0 : url.find_first_of("/\\?", scheme + 3);
    if (pathStart == std::string_view::npos)
        pathStart = url.size();

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
            AppendPercentEncoded(valid, c);
        }
    }
    return valid;
}

namespace {

// RFC 3986's pchar less '%': unreserved, sub-delims, ':' and '@'.
bool IsPathCharacter(unsigned char c)
{
    return std::isalnum(c) || std::string_view("-._~!$&'()*+,;=:@").find(static_cast<char>(c)) != std::string_view::npos;
}

int HexValue(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
}

}  // namespace

std::string EncodeUrlPath(std::string_view name)
{
    std::string encoded;
    for (char ch : name) {
        auto c = static_cast<unsigned char>(ch);
        if (c == '\\' || c == '/') {
            encoded += '/';
        } else if (c < 0x80 && IsPathCharacter(c)) {
            encoded += static_cast<char>(c);
        } else {
            AppendPercentEncoded(encoded, c);
        }
    }
    return encoded;
}

std::string FileNameOfUrl(std::string_view url)
{
    const std::string_view segment = url.substr(url.find_last_of('/') + 1);
    std::string name;
    for (std::size_t i = 0; i < segment.size(); ++i) {
        if (segment[i] == '%' && i + 2 < segment.size() && IsHexDigit(segment[i + 1]) && IsHexDigit(segment[i + 2])) {
            name += static_cast<char>(HexValue(segment[i + 1]) * 16 + HexValue(segment[i + 2]));
            i += 2;
        } else {
            name += segment[i];
        }
    }
    return name;
}
