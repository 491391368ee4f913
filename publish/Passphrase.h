#pragma once
// The passphrase of an encrypted signing key: KESU_SIGN_PASSPHRASE when it is set (scripts and
// CI have no one to type it), else typed at the terminal without echo.

#include <string>

// Throws std::runtime_error, naming the key file, when there is neither the variable nor a terminal.
std::string SigningPassphrase(const std::string& keyFile);
