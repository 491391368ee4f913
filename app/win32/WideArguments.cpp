#include "app/win32/WideArguments.h"

#include "platform/win32/Wide.h"

std::string JoinWideArguments(int argc, wchar_t** argv)
{
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            line += ' ';
        line += WideToUtf8(argv[i]);
    }
    return line;
}
