#pragma once

#include <string>

// Reads the body of the URL into strText, whatever the HTTP status. Returns 0 (a failed read
// ends the text where it failed), 499 when no HTTP session can be set up, 493 when the URL
// cannot be opened (no connection, unknown host, refused).
int ReadUrlText(const std::string& strUrl, std::string& strText);
