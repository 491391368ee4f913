#include "platform/Log.h"

#include <cerrno>
#include <cstdio>

void LogLine(const std::string& strText)
{
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, strText.c_str());
    std::fflush(stderr);
}
