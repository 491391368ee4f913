#pragma once
// File functions for minizip that read the archive through a large read-ahead buffer with
// pread(2). minizip asks for 16 KiB at a time and seeks before every read; served from the
// buffer, a whole archive costs a few hundred system calls instead of tens of thousands.

// minizip's table of file functions (zlib_filefunc64_def), named here without its header.
struct zlib_filefunc64_def_s;

// Fills the table with these functions.
void SetReadAheadFileFunctions(zlib_filefunc64_def_s& functions);
