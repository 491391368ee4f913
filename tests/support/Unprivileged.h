#pragma once
// Runs a check as an ordinary user: root reads every file, so permission failures can only be
// seen in a child process that has given up root. Returns the body's result (0-255), or -1 when
// the child could not run it.

#include <functional>

int RunUnprivileged(const std::function<int()>& body);
