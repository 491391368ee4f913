#pragma once
// What the header lines of an HTTP response say, read as libcurl hands them over, one line at a
// time. Pure: no network and no clock of its own (the time a date is measured from comes in), so
// every rule here is tested on its own. Nothing throws; what cannot be read is no value.

#include <chrono>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The header block of the response in progress. A status line starts a new block: those of
// redirects and interim (1xx) answers are replaced by the next one, so the last block is the final
// response's.
class HttpHeaderBlock {
public:
    // Takes one line, its line end included; true when it is the blank line that ends a block.
    bool TakeLine(std::string_view line);
    void Clear();

    // The value of the first field of that name (letter case aside), trimmed; empty without one.
    std::string Find(std::string_view name) const;
    // The block names a place to go (a Location field).
    bool HasLocation() const { return m_bLocation; }
    // The body's Content-Encoding; empty when there is none, or it is "identity".
    const std::string& Encoding() const { return m_strEncoding; }

private:
    std::vector<std::pair<std::string, std::string>> m_fields;
    bool m_bLocation = false;
    std::string m_strEncoding;
};

// A status that sends the client elsewhere when a Location comes with it.
bool IsRedirectStatus(long code);
// A Content-Encoding the body reader inflates: gzip (or x-gzip) and zlib's deflate.
bool CanDecodeEncoding(std::string_view encoding);
// The first byte a Content-Range value ("bytes FIRST-LAST/LENGTH") says the body starts at.
std::optional<std::uint64_t> ContentRangeStart(std::string_view value);
// How long a Retry-After value (seconds, or an HTTP date) asks to wait from `now`: a date past
// is no wait, and a wait beyond a day is a day.
std::optional<std::chrono::seconds> RetryAfterDelay(std::string_view value, std::time_t now);
