#pragma once
// <windows.h> defines macros named after functions and flags that FileSystem.h declares
// (CreateDirectory, DeleteFile, MoveFileEx, GetModuleFileName, the MOVEFILE_ flags ...), which would
// rename the program's own calls. Include this right after <windows.h>, or after a header that
// brings it in (httplib.h, curl.h), wherever the platform's headers are used too. The flags'
// values are the system's.

#ifdef _WIN32
#undef CreateDirectory
#undef CreateHardLink
#undef CreateSymbolicLink
#undef DeleteFile
#undef GetModuleFileName
#undef MoveFileEx
#undef MOVEFILE_REPLACE_EXISTING
#undef MOVEFILE_COPY_ALLOWED
#undef MOVEFILE_WRITE_THROUGH
#endif
