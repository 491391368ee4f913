#pragma once
// Where the causes of failures go for a person to find: standard error, one line each, after the
// program's name.

#include <string>

void LogLine(const std::string& strText);
