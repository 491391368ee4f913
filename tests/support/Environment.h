#pragma once
// Setting and removing the tests' own environment variables, on either system (Windows' C
// runtime has no setenv: _putenv_s with an empty value removes the variable there).

#include <cstdlib>

inline void SetEnvironment(const char* name, const char* value)
{
#ifdef _WIN32
    ::_putenv_s(name, value);
#else
    ::setenv(name, value, 1);
#endif
}

inline void UnsetEnvironment(const char* name)
{
#ifdef _WIN32
    ::_putenv_s(name, "");
#else
    ::unsetenv(name);
#endif
}
