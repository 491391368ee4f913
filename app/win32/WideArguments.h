#pragma once
// The lobby passes one command line; Windows gives it as UTF-16 arguments, and the program takes
// them back joined by blanks, in UTF-8.

#include <string>

std::string JoinWideArguments(int argc, wchar_t** argv);
