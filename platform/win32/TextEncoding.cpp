#include "platform/TextEncoding.h"

#include "platform/win32/Wide.h"

namespace {

constexpr UINT kGbkCodePage = 936;

}  // namespace

std::optional<std::string> GbkToUtf8(std::string_view text)
{
    if (text.empty())
        return std::string();
    const int size = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(kGbkCodePage, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (length == 0)
        return std::nullopt;  // bytes that are no GBK
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(kGbkCodePage, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length);
    return WideToUtf8(wide);
}
