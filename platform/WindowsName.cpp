#include "platform/WindowsName.h"

#include <cstddef>

#include "platform/Path.h"

namespace {

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

// ASCII only, whatever the locale: a UTF-8 byte of a Chinese name is never changed.
char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    return true;
}

// COM and LPT take a digit from 1 to 9, or a superscript one, two or three (in UTF-8).
bool IsPortNumber(std::string_view number)
{
    if (number.size() == 1)
        return number[0] >= '1' && number[0] <= '9';
    return number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3";
}

// Windows opens the device whatever follows the first dot, and drops the blanks before it.
bool IsDeviceName(std::string_view component)
{
    std::string_view stem = component.substr(0, component.find('.'));
    while (stem.ends_with(' '))
        stem.remove_suffix(1);
    for (std::string_view device : {"CON", "PRN", "AUX", "NUL"})
        if (EqualsIgnoringAsciiCase(stem, device))
            return true;
    if (stem.size() < 4)
        return false;
    const std::string_view port = stem.substr(0, 3);
    return (EqualsIgnoringAsciiCase(port, "COM") || EqualsIgnoringAsciiCase(port, "LPT")) &&
           IsPortNumber(stem.substr(3));
}

std::optional<std::string> CharacterFault(std::string_view component)
{
    for (char c : component) {
        if (static_cast<unsigned char>(c) < 0x20)
            return "holds a control character";
        if (c == ':')
            return "holds a ':', which Windows reads as a drive or a stream of another file";
        if (std::string_view("<>\"|?*").find(c) != std::string_view::npos)
            return std::string("holds '") + c + "', which Windows does not allow in a name";
    }
    return std::nullopt;
}

std::optional<std::string> ComponentFault(std::string_view component)
{
    if (IsDeviceName(component))
        return "is the name of a device on Windows";
    if (std::optional<std::string> fault = CharacterFault(component))
        return fault;
    if (component != "." && component != ".." && component.find_first_not_of(". ") == std::string_view::npos)
        return "is nothing but dots and blanks, which Windows drops";
    return std::nullopt;
}

// Windows drops the dots and blanks a component ends in. One of dots and blanks alone keeps them:
// "." and ".." are names of their own, and of any other Windows would leave nothing, which
// WindowsNameFault refuses.
std::string_view StoredComponent(std::string_view component)
{
    const std::size_t last = component.find_last_not_of(". ");
    return last == std::string_view::npos ? component : component.substr(0, last + 1);
}

std::string Canonical(std::string_view name)
{
    std::string joined;
    for (std::string_view part : PathComponents(name))
        if (part != ".")
            joined.append(joined.empty() ? "" : "/").append(part);
    return joined;
}

}  // namespace

std::optional<std::string> WindowsNameFault(std::string_view name)
{
    if (!name.empty() && IsSeparator(name[0]))
        return "it begins with a separator: on Windows an absolute path, a network share or a device path";
    for (std::string_view component : PathComponents(name))
        if (std::optional<std::string> fault = ComponentFault(component))
            return "\"" + std::string(component) + "\" " + *fault;
    return std::nullopt;
}

std::string WindowsStoredName(std::string_view name)
{
    std::string stored;
    for (;;) {
        const std::size_t end = name.find_first_of("\\/");
        stored.append(StoredComponent(name.substr(0, end)));
        if (end == std::string_view::npos)
            return stored;
        stored.push_back(name[end]);
        name.remove_prefix(end + 1);
    }
}

std::string CaseFoldedPath(std::string_view name)
{
    std::string folded = Canonical(WindowsStoredName(name));
    for (char& c : folded)
        c = AsciiLower(c);
    return folded;
}

bool DifferInLetterCaseAlone(std::string_view a, std::string_view b)
{
    return EqualsIgnoringAsciiCase(Canonical(a), Canonical(b));
}

std::optional<std::size_t> CCaseFoldedNames::Add(std::string_view name, std::size_t index)
{
    const auto [at, added] = m_byFolded.try_emplace(CaseFoldedPath(name), Seen{Canonical(name), index});
    if (added || at->second.canonical == Canonical(name))
        return std::nullopt;
    return at->second.index;
}
