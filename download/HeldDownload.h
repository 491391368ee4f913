#pragma once
// A download that broke off keeps its bytes in its temporary file, and beside it a note of what
// the next try needs to ask for the rest: which version of the file the bytes are of, and the
// server's validator (a strong ETag or a Last-Modified), which the request for the rest carries
// so that a file changed on the server since comes whole instead. Without a note, or with one
// for another version, the bytes are not continued.

#include <cstdint>
#include <optional>
#include <string>

struct HeldDownload {
    std::uint64_t nBytes = 0;
    std::string strValidator;
};

// The bytes held at the temporary path of the version `identity`, or nothing.
std::optional<HeldDownload> FindHeldDownload(const std::string& strPath, const std::string& strIdentity);
// Notes the validator of the answer whose bytes now go to the path; an empty one removes the
// note, as such bytes cannot be continued. A note that cannot be written is passed over: the
// bytes are then fetched again from the first.
void NoteHeldDownload(const std::string& strPath, const std::string& strIdentity, const std::string& strValidator);
// Removes the note, once the file is complete or gone.
void ForgetHeldDownload(const std::string& strPath);
