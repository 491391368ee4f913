#pragma once
// Why something the engine was asked to do cannot be done, in the one shape every folder hands a
// failure on in: what the player reads, and what the log says. The two are told apart because
// they are for two readers: the player gets one sentence in the program's language (those of
// Sentences.h), the log gets the particulars in English (names, paths, the system's words), for
// whoever looks into a failed update afterwards.
//
// Who writes the cause to the log is said where a failure is handed back: most are handed back
// unlogged, for the caller to log beside what it knows (the URL, the server); a few are logged
// where they happen, because other lines follow them before the caller hears of it.

#include <string>

struct Failure {
    // For the player, in the program's language; may be empty where the caller words it, from
    // what it knows and the failure does not (a download's name, say).
    std::string strSentence;
    // For the log, in English, with the particulars.
    std::string strCause;
};
