#include "platform/Profile.h"

#include <fstream>
#include <sstream>
#include <string_view>
#include <strings.h>

#include "platform/Path.h"
#include "platform/TextEncoding.h"

// The file is read here rather than through an INI library: Debian's inih cuts lines at 200 bytes,
// joins indented lines to the key above, ends values at " ;" and splits keys at ':', and profile
// reads do none of these.

namespace {

constexpr std::string_view kBlanks = " \t\r\n\f\v";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view text)
{
    auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    auto last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string_view Unquote(std::string_view value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

// The name of a section header line ("[name]"), or nothing for any other line.
bool SectionName(std::string_view line, std::string_view& name)
{
    if (line.empty() || line.front() != '[')
        return false;
    auto close = line.find(']');
    name = Trim(line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
    return true;
}

// A value as UTF-8. The lobby writes the file in the Windows code page (GBK) or, with newer tools,
// in UTF-8, and says nothing of which: the file as a whole decides, as a short GBK value alone can
// pass for UTF-8 ("图片" does) where a whole file with Chinese in it hardly ever does. A value that
// is not GBK either is kept as it stands.
std::string AsUtf8(std::string_view value, bool utf8File)
{
    if (utf8File)
        return std::string(value);
    return GbkToUtf8(value).value_or(std::string(value));
}

}  // namespace

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& fileName)
{
    std::ifstream file(PathFromUtf8(ToNativePath(fileName)), std::ios::binary);
    std::stringstream contents;
    if (!(file && contents << file.rdbuf()))
        return defaultValue;
    std::string text = contents.str();
    std::string_view rest(text);
    bool utf8File = rest.starts_with(kUtf8Bom);
    if (utf8File)
        rest.remove_prefix(kUtf8Bom.size());
    utf8File = utf8File || IsValidUtf8(rest);

    enum { Before, Inside, After } where = Before;  // relative to the first section of that name
    while (!rest.empty() && where != After) {
        auto end = rest.find('\n');
        std::string_view line = Trim(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);

        std::string_view name;
        if (SectionName(line, name)) {
            if (where == Inside)
                where = After;
            else if (EqualsIgnoringCase(name, section))
                where = Inside;
            continue;
        }
        auto equals = line.find('=');
        if (where != Inside || line.starts_with(';') || equals == std::string_view::npos)
            continue;
        if (EqualsIgnoringCase(Trim(line.substr(0, equals)), key))
            return AsUtf8(Unquote(Trim(line.substr(equals + 1))), utf8File);
    }
    return defaultValue;
}
