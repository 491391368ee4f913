#include "platform/TextEncoding.h"

namespace {

// The number of continuation bytes after a lead byte, and the smallest and largest second byte
// it allows (which rules out overlong forms, surrogates and values past U+10FFFF); -1 for a byte
// that cannot start a character.
struct LeadByte {
    int continuations;
    unsigned char low, high;
};

LeadByte Classify(unsigned char c)
{
    if (c < 0x80)
        return {0, 0, 0};
    if (c >= 0xC2 && c <= 0xDF)
        return {1, 0x80, 0xBF};
    if (c == 0xE0)
        return {2, 0xA0, 0xBF};
    if (c == 0xED)
        return {2, 0x80, 0x9F};
    if (c >= 0xE1 && c <= 0xEF)
        return {2, 0x80, 0xBF};
    if (c == 0xF0)
        return {3, 0x90, 0xBF};
    if (c >= 0xF1 && c <= 0xF3)
        return {3, 0x80, 0xBF};
    if (c == 0xF4)
        return {3, 0x80, 0x8F};
    return {-1, 0, 0};
}

}  // namespace

bool IsValidUtf8(std::string_view text)
{
    for (std::size_t at = 0; at < text.size();) {
        const LeadByte lead = Classify(static_cast<unsigned char>(text[at]));
        if (lead.continuations < 0 || text.size() - at <= static_cast<std::size_t>(lead.continuations))
            return false;
        for (int i = 1; i <= lead.continuations; ++i) {
            const auto c = static_cast<unsigned char>(text[at + static_cast<std::size_t>(i)]);
            const unsigned char low = i == 1 ? lead.low : 0x80, high = i == 1 ? lead.high : 0xBF;
            if (c < low || c > high)
                return false;
        }
        at += 1 + static_cast<std::size_t>(lead.continuations);
    }
    return true;
}
