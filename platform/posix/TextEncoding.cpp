#include "platform/TextEncoding.h"

#include <cerrno>
#include <iconv.h>

std::optional<std::string> GbkToUtf8(std::string_view text)
{
    iconv_t converter = ::iconv_open("UTF-8", "GBK");
    if (converter == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::string out(text.size() * 3 + 4, '\0');  // no GBK byte becomes more than three
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char* next = out.data();
    std::size_t outLeft = out.size();
    std::size_t result = ::iconv(converter, &in, &inLeft, &next, &outLeft);
    ::iconv_close(converter);
    if (result == static_cast<std::size_t>(-1) || inLeft != 0)
        return std::nullopt;
    out.resize(out.size() - outLeft);
    return out;
}
