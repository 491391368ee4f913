#include "platform/MessageBox.h"

#include <cstdio>
#include <string>

int MessageBox(const char* lpszText, const char* lpszCaption, unsigned)
{
    std::string line = std::string(lpszCaption ? lpszCaption : "") + ": " + (lpszText ? lpszText : "");
    if (line.back() != '\n')
        line += '\n';
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    return IDOK;
}
