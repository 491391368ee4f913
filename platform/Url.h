#pragma once
// URLs are composed from texts (a server name, file names with '\' between directories); this
// makes such a text valid on the wire: '\' becomes '/', and every byte that may not stand in a
// URL (blanks, control bytes, non-ASCII, '"', '<', '>', '^', '`', '{', '|', '}', '#', and '%'
// not followed by two hexadecimal digits) is percent-encoded. The scheme and the host are kept.

#include <string>
#include <string_view>

std::string MakeUrlValid(std::string_view url);
