#include "platform/Wildcard.h"

#include <string_view>

// The C library's fnmatch(3) without flags, which Windows lacks, over bytes; the collating
// elements of a set ("[.a.]", "[=a=]", "[:alpha:]") are not known here.
namespace {

// Whether c is in the set that starts after '[' at `at`; `at` is moved past its ']'. False, with
// `at` left alone, for a '[' that opens no set (then it stands for itself).
bool InSet(std::string_view pattern, std::size_t& at, char c, bool& isSet)
{
    std::size_t i = at + 1;
    const bool negated = i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^');
    i += negated ? 1 : 0;
    bool found = false;
    for (bool first = true; i < pattern.size() && (first || pattern[i] != ']'); first = false) {
        char low = pattern[i] == '\\' && i + 1 < pattern.size() ? pattern[++i] : pattern[i];
        char high = low;
        if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
            i += 2;
            high = pattern[i] == '\\' && i + 1 < pattern.size() ? pattern[++i] : pattern[i];
        }
        found = found || (static_cast<unsigned char>(c) >= static_cast<unsigned char>(low) &&
                          static_cast<unsigned char>(c) <= static_cast<unsigned char>(high));
        ++i;
    }
    isSet = i < pattern.size();
    if (isSet)
        at = i;
    return isSet && found != negated;
}

bool Matches(std::string_view pattern, std::string_view name)
{
    std::size_t p = 0, n = 0;
    std::size_t starP = std::string_view::npos, starN = 0;  // where to go on after the last '*'
    while (n < name.size()) {
        bool step = false;
        if (p < pattern.size()) {
            const char c = pattern[p];
            bool isSet = false;
            if (c == '*') {
                starP = p++;
                starN = n;
                continue;
            }
            if (c == '[') {
                step = InSet(pattern, p, name[n], isSet);
                if (!isSet)
                    step = name[n] == '[';
            } else if (c == '\\') {  // a '\' that ends the pattern escapes nothing and matches nothing
                step = p + 1 < pattern.size() && pattern[++p] == name[n];
            } else {
                step = c == '?' || c == name[n];
            }
        }
        if (step) {
            ++p;
            ++n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

}  // namespace

bool MatchesWildcard(const std::string& pattern, const std::string& name)
{
    return Matches(pattern, name);
}
