#pragma once
// Text in the encodings the lobby's publishers write: UTF-8, and GBK (code page 936), which
// Chinese Windows tools use when they say nothing of the encoding.

#include <optional>
#include <string>
#include <string_view>

// Whether the bytes are well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF).
bool IsValidUtf8(std::string_view text);

// The GBK text as UTF-8; nothing when the bytes are not GBK.
std::optional<std::string> GbkToUtf8(std::string_view text);
