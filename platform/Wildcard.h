#pragma once
// Whether a name matches a shell wildcard pattern, as the publisher's exclusions are written:
// '*' any run of characters ('/' included), '?' any one, "[...]" one of a set ("[!...]" or
// "[^...]" one not in it, "a-z" a range), '\' takes the next character as it is.
//
// Threads: any. Errors: none; a pattern that is not well formed matches what its characters say.

#include <string>

bool MatchesWildcard(const std::string& pattern, const std::string& name);
