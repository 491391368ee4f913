#pragma once
// How one file's download fails, beside the platform's own exceptions (CInternetException for the
// connection, CFileException for the disk): the server answered with something that is not the
// file, or the whole file arrived and its last check refused it. what() is the cause in English,
// for the log; a refusal carries the player's sentence as well.

#include <optional>
#include <stdexcept>
#include <string>

class CFetchError : public std::runtime_error {
public:
    // An error status, an error page, more bytes than listed, other digests, a program for
    // another machine: another server may have the right file.
    static CFetchError NotTheFile(const std::string& strCause) { return CFetchError(strCause, std::nullopt); }
    // The file's last check (the package's signature) refused it, in one sentence for the player.
    static CFetchError Refused(const std::string& strSentence) { return CFetchError(strSentence, strSentence); }

    // The player's sentence, when the failure has one of its own.
    const std::optional<std::string>& Sentence() const { return m_strSentence; }

private:
    CFetchError(const std::string& strCause, std::optional<std::string> strSentence)
        : std::runtime_error(strCause), m_strSentence(std::move(strSentence))
    {
    }

    std::optional<std::string> m_strSentence;
};
