#include "app/CommandLine.h"

#include <cctype>
#include <climits>

namespace {

// Bytes in the UTF-8 sequence that this byte begins (1 for a byte that begins none).
std::size_t SequenceLength(unsigned char lead)
{
    return lead >= 0xF0 && lead < 0xF8 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
}

// The text without its last `count` characters. A character is one UTF-8 sequence; a byte
// that belongs to no valid sequence counts as one character.
std::string_view DropLastCharacters(std::string_view text, int count)
{
    std::size_t end = text.size();
    for (; count > 0 && end > 0; --count) {
        std::size_t start = end - 1;
        while (start > 0 && end - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
            --start;
        end = SequenceLength(static_cast<unsigned char>(text[start])) == end - start ? start : end - 1;
    }
    return text.substr(0, end);
}

}  // namespace

int ParseLeadingInt(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    value = negative ? -value : value;
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

CommandLine ParseCommandLine(std::string_view line, const std::string& strDefaultManifest)
{
    CommandLine result;
    result.bManifestMode = line.find("-install") == std::string_view::npos ? 1 : 0;
    if (line.empty()) {
        result.strManifestName = strDefaultManifest;
        return result;
    }

    auto blank = line.find(' ');
    std::string_view name = blank == std::string_view::npos ? std::string_view() : line.substr(0, blank);
    result.strManifestName = std::string(DropLastCharacters(name, 4)) + ".xml";

    std::string_view tail = blank == std::string_view::npos ? line : line.substr(blank + 1);
    auto second = tail.find(' ');
    if (second != std::string_view::npos) {
        result.nLobbyParam2 = ParseLeadingInt(tail.substr(second + 1));
        tail = tail.substr(0, second);
    }
    result.nLobbyParam1 = ParseLeadingInt(tail);
    return result;
}
