#include "platform/HttpHeaders.h"

#include <algorithm>
#include <charconv>
#include <curl/curl.h>
#include <strings.h>

namespace {

std::string_view Trimmed(std::string_view value)
{
    const auto first = value.find_first_not_of(" \t\r\n");
    const auto last = value.find_last_not_of(" \t\r\n");
    return first == std::string_view::npos ? std::string_view() : value.substr(first, last - first + 1);
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

bool HttpHeaderBlock::TakeLine(std::string_view line)
{
    if (line.starts_with("HTTP/")) {
        Clear();
        return false;
    }
    if (Trimmed(line).empty())
        return line == "\r\n" || line == "\n";
    const auto colon = line.find(':');
    if (colon == std::string_view::npos)
        return false;
    const std::string_view name = line.substr(0, colon);
    const std::string_view value = Trimmed(line.substr(colon + 1));
    m_fields.emplace_back(name, value);
    if (EqualsIgnoringCase(name, "location"))
        m_bLocation = true;
    else if (EqualsIgnoringCase(name, "content-encoding"))
        m_strEncoding = EqualsIgnoringCase(value, "identity") ? std::string() : std::string(value);
    return false;
}

void HttpHeaderBlock::Clear()
{
    m_fields.clear();
    m_bLocation = false;
    m_strEncoding.clear();
}

std::string HttpHeaderBlock::Find(std::string_view name) const
{
    for (const auto& [field, value] : m_fields)
        if (EqualsIgnoringCase(field, name))
            return value;
    return {};
}

bool IsRedirectStatus(long code)
{
    return code == 301 || code == 302 || code == 303 || code == 307 || code == 308;
}

bool CanDecodeEncoding(std::string_view encoding)
{
    return EqualsIgnoringCase(encoding, "gzip") || EqualsIgnoringCase(encoding, "x-gzip") ||
           EqualsIgnoringCase(encoding, "deflate");
}

std::optional<std::uint64_t> ContentRangeStart(std::string_view value)
{
    constexpr std::string_view kUnit = "bytes ";
    if (!value.starts_with(kUnit))
        return std::nullopt;
    std::uint64_t first = 0;
    const char* begin = value.data() + kUnit.size();
    auto [end, error] = std::from_chars(begin, value.data() + value.size(), first);
    if (error != std::errc() || end == begin || end == value.data() + value.size() || *end != '-')
        return std::nullopt;
    return first;
}

std::optional<std::chrono::seconds> RetryAfterDelay(std::string_view value, std::time_t now)
{
    if (value.empty())
        return std::nullopt;
    // A wait beyond a day means nothing more to a program that waits seconds, and a number that
    // long would overflow on its way to milliseconds.
    constexpr long long kLongest = 24 * 3600;
    if (value.find_first_not_of("0123456789") == std::string_view::npos) {
        unsigned long long seconds = 0;
        auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
        if (error == std::errc::result_out_of_range || seconds > static_cast<unsigned long long>(kLongest))
            return std::chrono::seconds(kLongest);
        return std::chrono::seconds(static_cast<long long>(seconds));
    }
    const time_t when = curl_getdate(std::string(value).c_str(), nullptr);
    if (when < 0)
        return std::nullopt;
    return std::chrono::seconds(std::clamp<long long>(when - now, 0, kLongest));
}
