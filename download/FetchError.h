#pragma once
// How one file's download fails, beside the platform's own exceptions (CInternetException for the
// connection, CFileException for the disk): the server answered with something that is not the
// file, or the whole file arrived and its last check refused it. It carries the failure
// (sentences/Failure.h) the download ends in; what() is its cause, for the log.

#include <stdexcept>
#include <string>
#include <utility>

#include "sentences/Failure.h"

class CFetchError : public std::runtime_error {
public:
    // An error status, an error page, more bytes than listed, other digests, a program for
    // another machine: another server may have the right file. The player's sentence is the
    // run's to word, naming the file.
    static CFetchError NotTheFile(const std::string& strCause) { return CFetchError({{}, strCause}); }
    // The file's last check (the package's signature) refused it: its failure, the cause already
    // in the log, and a sentence of its own for the player.
    static CFetchError Refused(Failure refusal) { return CFetchError(std::move(refusal)); }

    const Failure& GetFailure() const { return m_failure; }
    // Refused by its last check: fetched again, from any server, it would be refused again.
    bool IsRefusal() const { return !m_failure.strSentence.empty(); }

private:
    explicit CFetchError(Failure failure) : std::runtime_error(failure.strCause), m_failure(std::move(failure)) {}

    Failure m_failure;
};
