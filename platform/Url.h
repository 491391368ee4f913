#pragma once
// URLs are composed from texts (a server name, file names with '\' between directories); this
// makes such a text valid on the wire: '\' becomes '/', and every byte that may not stand in a
// URL (blanks, control bytes, non-ASCII, '"', '<', '>', '^', '`', '{', '|', '}', '#', and '%'
// not followed by two hexadecimal digits) is percent-encoded. The scheme and the host are kept.

#include <string>
#include <string_view>

std::string MakeUrlValid(std::string_view url);

// A file name (with '\' or '/' between directories) as the path of a URL: '\' becomes '/', and
// every byte that is not an unreserved path character is percent-encoded, '%', '?' and '#'
// included: a name is never part of a URL's syntax.
std::string EncodeUrlPath(std::string_view name);
// The last segment of a URL's path, percent-decoded: the name of the file it asks for.
std::string FileNameOfUrl(std::string_view url);
