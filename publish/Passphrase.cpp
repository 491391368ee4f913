#include "publish/Passphrase.h"

#include <cstdlib>
#include <stdexcept>

#include "platform/Terminal.h"

std::string SigningPassphrase(const std::string& keyFile)
{
    if (const char* fromEnvironment = std::getenv("KESU_SIGN_PASSPHRASE"))
        return fromEnvironment;
    std::optional<std::string> passphrase = ReadHiddenLineFromTerminal("Passphrase for " + keyFile + ": ");
    if (!passphrase)
        throw std::runtime_error(keyFile + ": the key is encrypted; set KESU_SIGN_PASSPHRASE or run from a terminal");
    return *passphrase;
}
