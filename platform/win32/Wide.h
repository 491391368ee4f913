#pragma once
// What every Windows file of the platform layer needs: <windows.h> without the macros that share
// the program's own names (CreateDirectory, DeleteFile, MoveFileEx, GetModuleFileName, the
// MOVEFILE_ flags), UTF-8 paths turned into the wide paths the system's W calls take, the
// system's error codes turned into the errno values the engine tests for, and the renames and
// deletions a virus scanner may hold up for a moment.
//
// Threads: any. Errors: the functions that can fail return false (or -1) and leave errno set.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// The flags of MoveFileExW this layer uses itself, taken before their names are given back.
inline constexpr DWORD kMoveFileReplaceExisting = MOVEFILE_REPLACE_EXISTING;
inline constexpr DWORD kMoveFileWriteThrough = MOVEFILE_WRITE_THROUGH;

#include "platform/win32/SystemNames.h"

#include <string>
#include <string_view>

std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);

// One argument of a command line as the C runtime's parser reads it back: in quotes when it has a
// blank or a quote (or is empty), the backslashes before a quote doubled.
std::wstring QuotedArgument(const std::wstring& argument);

// The path for the system: '/' made '\', and an absolute path (a relative one made absolute)
// given the "\\?\" prefix when it is too long for the usual limit, so that long paths work.
std::wstring WidePath(const std::string& path);

// The errno value that says what the Windows error code says.
int ErrnoFromWindowsError(DWORD error);
// Sets errno from GetLastError(); always false, to be returned by the caller.
bool FailWithLastError();
// Sets errno from GetLastError() and returns it, for an exception to carry.
int ErrnoOfLastError();

// Opens the name as CreateFileW does, with every sharing mode: the program's own renames and
// deletions of a file it has open must work. INVALID_HANDLE_VALUE with errno set on failure.
HANDLE OpenShared(const std::wstring& path, DWORD access, DWORD disposition, DWORD flags);

// OpenShared through the table of file calls (platform/FileCalls.h): for the files CFile,
// CAtomicFile and CMappedFile::Create open, which a test may then fail; a look at a file's facts
// goes around it.
HANDLE OpenSharedFile(const std::wstring& path, DWORD access, DWORD disposition, DWORD flags);

// A CRT descriptor that owns the handle (closed with _close), or -1 with errno set (the handle
// then closed). The descriptor's handle is _get_osfhandle's.
int DescriptorOwning(HANDLE handle);
HANDLE HandleOf(int fd);

// Whether a reparse point of this tag is a link to another place (a symbolic link or a junction);
// the others (a cloud file's placeholder, a deduplicated file) are the file itself.
bool IsLinkReparseTag(DWORD tag);
// Whether the open handle is such a link itself (it was opened without following it).
bool IsLinkHandle(HANDLE handle);

// The path with the "\\?\" prefix, whatever its length: for the paths made below it.
std::wstring WithLongPathPrefix(const std::wstring& path);

// Whether the name (not followed, when it is a link) is a directory.
bool IsDirectoryName(const std::wstring& path);

// Clears the read-only attribute of a file about to be replaced or deleted: it must not stop an
// update. Nothing happens when the name does not exist.
void ClearReadOnly(const std::wstring& path);

// Runs the call until it succeeds; a sharing violation, lock violation or access denial (what a
// virus scanner's look at a new file causes for a moment) is tried again for about two seconds.
// On failure errno is set: EBUSY for a file another program holds, so that the engine can ask
// for the game to be closed.
bool RetryWhileHeldImpl(bool (*call)(void*), void* context);
template <typename Call>
bool RetryWhileHeld(Call call)
{
    return RetryWhileHeldImpl([](void* context) { return static_cast<bool>((*static_cast<Call*>(context))()); }, &call);
}

// MoveFileExW over whatever has the new name, whose read-only attribute is cleared first;
// retried while the file is held. Through the table of file calls, as DeleteFileForcibly.
bool MoveReplacing(const std::wstring& from, const std::wstring& to, DWORD flags);
// DeleteFileW after clearing the read-only attribute; retried while the file is held.
bool DeleteFileForcibly(const std::wstring& path);
