#pragma once
// Where the program says what it did and why something failed, for a person to find: the causes
// of failures go to standard error, one line each after the program's name; with a log file
// open, they and the notes of what a run did go there too, each line with its local time.
// Any thread may log; a line is written whole.

#include <cstdint>
#include <string>

// The cause of a failure: standard error, and the log file when one is open.
void LogLine(const std::string& strText);
// What a run did (a request and its answer, a file installed): the log file only.
void LogNote(const std::string& strText);

// Appends the lines from now on to the file (created when missing). A file grown beyond the
// limit first loses its oldest half, at a line's start. False when it cannot be opened; the
// lines then go to standard error alone.
bool OpenLogFile(const std::string& strPath, std::uintmax_t nLimit);
void CloseLogFile();
